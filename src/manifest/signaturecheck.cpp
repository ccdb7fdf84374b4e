#include "signaturecheck.h"

#include "rsaverifier.h"
#include "sha512.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SignatureCheck {

namespace {

// Large enough that the system call overhead vanishes next to the hashing.
constexpr std::size_t hashChunkSize = 1024 * 1024;

void report(const MessageSink &onMessage, const std::string &text)
{
    if (onMessage)
        onMessage(text);
}

void reportOpenFailure(const MessageSink &onMessage, const std::string &path)
{
    report(onMessage, "Could not open file " + path + " for reading");
}

void reportReadFailure(const MessageSink &onMessage, const std::string &path)
{
    report(onMessage, "could not read file " + path + " correctly");
}

// A file opened for reading, closed with its holder.
class InputFile
{
public:
    // Directories are refused like unopenable files: reading one fails anyway.
    bool open(const std::string &path)
    {
        m_Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_Fd < 0)
            return false;
        struct stat info;
        if (::fstat(m_Fd, &info) != 0 || S_ISDIR(info.st_mode))
            return false;
        m_Size = S_ISREG(info.st_mode) ? std::int64_t(info.st_size) : 0;
        return true;
    }
    ~InputFile()
    {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    std::int64_t size() const { return m_Size; }

    // Reads until n bytes are in or the file ends; the count read, -1 on error.
    std::int64_t read(unsigned char *into, std::size_t n)
    {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::read(m_Fd, into + done, n - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            done += std::size_t(got);
        }
        return std::int64_t(done);
    }

private:
    int m_Fd = -1;
    std::int64_t m_Size = 0;
};

// Feeds the file to consume in bounded chunks; false (reported) when the file
// cannot be opened or yields fewer bytes than its size.
template<typename Consume>
bool readInChunks(const std::string &path, const MessageSink &onMessage, Consume consume)
{
    InputFile file;
    if (!file.open(path)) {
        reportOpenFailure(onMessage, path);
        return false;
    }
    const std::int64_t size = file.size();
    std::vector<unsigned char> chunk(std::size_t(std::min<std::int64_t>(size, hashChunkSize)));
    std::int64_t done = 0;
    while (done < size) {
        const std::int64_t n =
            file.read(chunk.data(), std::size_t(std::min<std::int64_t>(chunk.size(), size - done)));
        if (n <= 0)
            break;
        consume(chunk.data(), std::size_t(n));
        done += n;
    }
    if (done != size) {
        reportReadFailure(onMessage, path);
        return false;
    }
    return true;
}

std::string toHex(const std::vector<unsigned char> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

} // namespace

bool readWholeFile(const std::string &path, std::vector<unsigned char> &out,
                   const MessageSink &onMessage)
{
    InputFile file;
    if (!file.open(path)) {
        reportOpenFailure(onMessage, path);
        return false;
    }
    const std::int64_t size = file.size();
    if (size > maxSignatureFileSize) {
        reportReadFailure(onMessage, path);
        return false;
    }
    out.resize(std::size_t(size));
    if (file.read(out.data(), out.size()) != size) {
        reportReadFailure(onMessage, path);
        return false;
    }
    return true;
}

bool hashFile(const std::string &path, Digest algorithm, std::vector<unsigned char> &digest,
              const MessageSink &onMessage)
{
    // Every installed and downloaded file goes through SHA-512, so it has an
    // implementation of its own that keeps up with the disk.
    if (algorithm == Digest::Sha512) {
        Sha512 sha;
        if (!readInChunks(path, onMessage, [&sha](const unsigned char *data, std::size_t n) {
                sha.update(data, n);
            }))
            return false;
        const Sha512::Digest result = sha.finish();
        digest.assign(result.begin(), result.end());
        return true;
    }
    hash_state state;
    sha1_init(&state);
    if (!readInChunks(path, onMessage, [&state](const unsigned char *data, std::size_t n) {
            sha1_process(&state, data, static_cast<unsigned long>(n));
        }))
        return false;
    digest.resize(sha1Size);
    sha1_done(&state, digest.data());
    return true;
}

bool checkSha512(const std::string &path, const std::string &expectedSha512,
                 const MessageSink &onMessage, std::string *computedHex)
{
    std::vector<unsigned char> digest;
    if (!hashFile(path, Digest::Sha512, digest, onMessage))
        return false;
    const std::string computed = toHex(digest);
    if (computedHex)
        *computedHex = computed;
    return equalIgnoringCase(expectedSha512, computed);
}

bool checkRsa(const std::string &path, const unsigned char *keyBlock, unsigned long keyLength,
              const MessageSink &onMessage, RsaOutcome *outcome)
{
    RsaOutcome local;
    RsaOutcome &result = outcome ? *outcome : local;
    result = RsaOutcome{};
    std::vector<unsigned char> digest;
    if (!hashFile(path, Digest::Sha1, digest, onMessage)) {
        result.step = RsaOutcome::FileUnreadable;
        result.detail = path;
        return false;
    }
    const std::string sigPath = path + ".sig";
    std::vector<unsigned char> signature;
    if (!readWholeFile(sigPath, signature, onMessage)) {
        result.step = RsaOutcome::SignatureUnreadable;
        result.detail = sigPath;
        return false;
    }
    try {
        RsaVerifier::KeyHolder holder;
        RsaVerifier::importKey(keyBlock, keyLength, &holder.key);
        holder.loaded = true;
        // libtomcrypt aborts on a null pointer even with a zero length.
        const unsigned char none = 0;
        result.passed = RsaVerifier::verifyDigest(&holder.key, digest.data(),
                                                  signature.empty() ? &none : signature.data(),
                                                  static_cast<unsigned long>(signature.size()));
        result.step = RsaOutcome::Verified;
        return result.passed;
    } catch (const crypt_exception &e) {
        result.step = RsaOutcome::CryptError;
        result.detail = e.what();
        return false;
    }
}

} // namespace SignatureCheck
