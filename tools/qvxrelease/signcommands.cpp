#include "signcommands.h"

#include "commands.h"

#include "manifest/rsaverifier.h"
#include "manifest/signaturecheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SignCommands {

namespace {

constexpr int keyBits = 1024;
constexpr long publicExponent = 65537;
// The updater holds its key in a block of this size (see publickeyblock.h).
constexpr unsigned long keyBlockSize = 2048;

void printError(const std::string &text)
{
    std::fprintf(stderr, "qvxrelease: %s\n", text.c_str());
}

int usage(const char *form)
{
    std::fprintf(stderr, "usage: qvxrelease %s\n", form);
    return 2;
}

bool initCrypto()
{
    try {
        RsaVerifier::initCrypto();
        return true;
    } catch (const crypt_exception &e) {
        printError(e.what());
        return false;
    }
}

// Written aside with its final mode from the start and renamed into place, so
// an interrupted run never leaves a truncated key or signature where a whole
// one is expected, and a private key is never readable by others.
bool writeFileAtomically(const std::string &path, const unsigned char *data, unsigned long length,
                         mode_t mode)
{
    const std::string temporary = temporaryPathFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0;
    unsigned long done = 0;
    while (ok && done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<unsigned long>(n);
    }
    int error = ok ? 0 : errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        printError("cannot write " + path + ": " + std::strerror(error));
        if (fd >= 0)
            std::remove(temporary.c_str());
        return false;
    }
    std::string renameError;
    if (!replaceFile(temporary, path, &renameError)) {
        printError(renameError);
        return false;
    }
    return true;
}

bool exportKey(rsa_key *key, int type, const std::string &path, mode_t mode)
{
    std::vector<unsigned char> der(4096);
    unsigned long length = der.size();
    try {
        RsaVerifier::checkCrypt("rsa_export", rsa_export(der.data(), &length, type, key));
    } catch (const crypt_exception &e) {
        printError(e.what());
        return false;
    }
    return writeFileAtomically(path, der.data(), length, mode);
}

const SignatureCheck::MessageSink printMessage = [](const std::string &text) { printError(text); };

// The cryptography set up and the bytes of a key file read.
bool readKeyFile(const std::string &keyPath, std::vector<unsigned char> &keyBytes)
{
    return initCrypto() && SignatureCheck::readWholeFile(keyPath, keyBytes, printMessage);
}

} // namespace

int keygen(const std::vector<std::string> &args)
{
    if (args.size() != 2)
        return usage("keygen PRIVATE_OUT PUBLIC_OUT");
    if (!initCrypto())
        return 1;
    prng_state prng{};
    RsaVerifier::KeyHolder holder;
    try {
        RsaVerifier::checkCrypt("rsa_make_key",
                                rsa_make_key(&prng, RsaVerifier::prngIndex(), keyBits / 8,
                                             publicExponent, &holder.key));
    } catch (const crypt_exception &e) {
        printError(e.what());
        return 1;
    }
    holder.loaded = true;
    if (!exportKey(&holder.key, PK_PRIVATE, args.at(0), 0600) ||
        !exportKey(&holder.key, PK_PUBLIC, args.at(1), 0644))
        return 1;
    return 0;
}

int sign(const std::vector<std::string> &args)
{
    if (args.size() != 2)
        return usage("sign PRIVATE FILE");
    const std::string &keyPath = args.at(0);
    const std::string &filePath = args.at(1);
    std::vector<unsigned char> keyBytes;
    if (!readKeyFile(keyPath, keyBytes))
        return 1;
    std::vector<unsigned char> digest;
    if (!SignatureCheck::hashFile(filePath, SignatureCheck::Digest::Sha1, digest, printMessage))
        return 1;
    RsaVerifier::KeyHolder holder;
    unsigned char signature[keyBits / 8];
    unsigned long signatureLength = sizeof signature;
    try {
        const unsigned char none = 0;
        RsaVerifier::importKey(keyBytes.empty() ? &none : keyBytes.data(),
                               static_cast<unsigned long>(keyBytes.size()), &holder.key);
        holder.loaded = true;
        if (holder.key.type != PK_PRIVATE) {
            printError(keyPath + " is not a private key");
            return 1;
        }
        prng_state prng{};
        RsaVerifier::checkCrypt(
            "rsa_sign_hash",
            rsa_sign_hash_ex(digest.data(), static_cast<unsigned long>(digest.size()), signature,
                             &signatureLength, LTC_PKCS_1_PSS, &prng, RsaVerifier::prngIndex(),
                             RsaVerifier::sha1Index(), RsaVerifier::saltLength, &holder.key));
    } catch (const crypt_exception &e) {
        printError(keyPath + ": " + e.what());
        return 1;
    }
    // Same mode a new file gets from the user's umask, as for any other output.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return writeFileAtomically(filePath + ".sig", signature, signatureLength, 0666 & ~mask) ? 0 : 1;
}

int verify(const std::vector<std::string> &args)
{
    if (args.size() != 2)
        return usage("verify PUBLIC FILE");
    const std::string &keyPath = args.at(0);
    const std::string &filePath = args.at(1);
    std::vector<unsigned char> keyBytes;
    if (!readKeyFile(keyPath, keyBytes))
        return 1;
    if (keyBytes.size() > keyBlockSize) {
        printError(keyPath + " is larger than the updater's key block");
        return 1;
    }
    std::vector<unsigned char> block(keyBlockSize, 0);
    std::copy(keyBytes.cbegin(), keyBytes.cend(), block.begin());
    if (!SignatureCheck::checkRsa(filePath, block.data(), keyBlockSize, printMessage)) {
        printError("signature check failed for " + filePath);
        return 1;
    }
    return 0;
}

} // namespace SignCommands

namespace {

int runChecked(const Command &command, const std::vector<std::string> &args,
               int (*run)(const std::vector<std::string> &))
{
    if (args.size() != 2)
        return usageError(command, "expected two arguments");
    return run(args);
}

} // namespace

int runKeygen(const Command &command, const std::vector<std::string> &args)
{
    return runChecked(command, args, SignCommands::keygen);
}

int runSign(const Command &command, const std::vector<std::string> &args)
{
    return runChecked(command, args, SignCommands::sign);
}

int runVerify(const Command &command, const std::vector<std::string> &args)
{
    return runChecked(command, args, SignCommands::verify);
}
