#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <functional>

// The file checks of the updater, shared with the release tool so that
// "qvxrelease verify" decides exactly as the updater does. Everything here is
// reentrant (RsaVerifier::initCrypto must have run before checkRsa) and reports
// read failures through the given sink with the texts the updater shows.
namespace SignatureCheck {

using MessageSink = std::function<void(const QString &)>;

// Largest signature file read; a real one is as long as the key's modulus.
constexpr qint64 maxSignatureFileSize = 64 * 1024;

// Reads a whole (small) file. On failure reports "Could not open file %1 for
// reading" or "could not read file %1 correctly" and returns false.
bool readWholeFile(const QString &path, QByteArray &out, const MessageSink &onMessage);

// Digest of the file's content, read in chunks so memory stays bounded
// whatever the file's size. Bytes appended while reading are not hashed; a file
// that shrinks or fails to read is reported like readWholeFile does.
bool hashFile(const QString &path, QCryptographicHash::Algorithm algorithm, QByteArray &digest,
              const MessageSink &onMessage);

// True when the SHA-512 of the file equals expectedSha512 (128 hexadecimal
// digits, either case).
bool checkSha512(const QString &path, const QString &expectedSha512, const MessageSink &onMessage);

// True when path + ".sig" holds a valid RSASSA-PSS signature (SHA-1, MGF1-SHA-1,
// salt 8) of the file under the DER RSA public key in keyBlock[0..keyLength).
// Every failure, a crypt_exception included, is a failed check.
bool checkRsa(const QString &path, const unsigned char *keyBlock, unsigned long keyLength,
              const MessageSink &onMessage);

} // namespace SignatureCheck
