#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The file checks of the updater, shared with the release tool so that
// "qvxrelease verify" decides exactly as the updater does. Plain C++ (the
// release tool links no Qt): paths are byte strings as the file system takes
// them, texts are UTF-8. Everything here is reentrant (RsaVerifier::initCrypto
// must have run before checkRsa) and reports read failures through the given
// sink with the texts the updater shows.
namespace SignatureCheck {

using MessageSink = std::function<void(const std::string &)>;

// Largest signature file read; a real one is as long as the key's modulus.
constexpr std::int64_t maxSignatureFileSize = 64 * 1024;

constexpr std::size_t sha1Size = 20;
constexpr std::size_t sha512Size = 64;

enum class Digest
{
    Sha1,
    Sha512,
};

// Reads a whole (small) file. On failure reports "Could not open file %1 for
// reading" or "could not read file %1 correctly" and returns false.
bool readWholeFile(const std::string &path, std::vector<unsigned char> &out,
                   const MessageSink &onMessage);

// Digest of the file's content, read in chunks so memory stays bounded
// whatever the file's size. Bytes appended while reading are not hashed; a file
// that shrinks or fails to read is reported like readWholeFile does.
bool hashFile(const std::string &path, Digest algorithm, std::vector<unsigned char> &digest,
              const MessageSink &onMessage);

// True when the SHA-512 of the file equals expectedSha512 (128 hexadecimal
// digits, either case). When computedHex is given it receives the digest as
// lower-case hexadecimal text, or stays empty when the file could not be read.
bool checkSha512(const std::string &path, const std::string &expectedSha512,
                 const MessageSink &onMessage, std::string *computedHex = nullptr);

// How an RSA check ended, for the caller's trace.
struct RsaOutcome
{
    enum Step
    {
        FileUnreadable,      // detail: the file's path
        SignatureUnreadable, // detail: the signature file's path
        CryptError,          // detail: the cryptography layer's text
        Verified,            // the signature was checked; passed tells the result
    };
    Step step = FileUnreadable;
    std::string detail;
    bool passed = false;
};

// True when path + ".sig" holds a valid RSASSA-PSS signature (SHA-1, MGF1-SHA-1,
// salt 8) of the file under the DER RSA public key in keyBlock[0..keyLength).
// Every failure, a crypt_exception included, is a failed check.
bool checkRsa(const std::string &path, const unsigned char *keyBlock, unsigned long keyLength,
              const MessageSink &onMessage, RsaOutcome *outcome = nullptr);

} // namespace SignatureCheck
