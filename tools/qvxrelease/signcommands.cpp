#include "signcommands.h"

#include "commands.h"

#include "manifest/rsaverifier.h"
#include "manifest/signaturecheck.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <vector>

namespace SignCommands {

namespace {

constexpr int keyBits = 1024;
constexpr long publicExponent = 65537;
// The updater holds its key in a block of this size (see publickeyblock.h).
constexpr unsigned long keyBlockSize = 2048;

void printError(const QString &text)
{
    std::fprintf(stderr, "qvxrelease: %s\n", qUtf8Printable(text));
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
        printError(QString::fromUtf8(e.what()));
        return false;
    }
}

struct KeyHolder
{
    rsa_key key{};
    bool loaded = false;
    ~KeyHolder()
    {
        if (loaded)
            rsa_free(&key);
    }
};

// Written aside and renamed into place, so an interrupted run never leaves a
// truncated key or signature where a whole one is expected.
bool writeFileAtomically(const QString &path, const unsigned char *data, unsigned long length,
                         QFileDevice::Permissions permissions = {})
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        printError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (permissions)
        file.setPermissions(permissions);
    if (file.write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length) ||
        !file.commit()) {
        printError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool exportKey(rsa_key *key, int type, const QString &path, QFileDevice::Permissions permissions)
{
    std::vector<unsigned char> der(4096);
    unsigned long length = der.size();
    try {
        RsaVerifier::checkCrypt("rsa_export", rsa_export(der.data(), &length, type, key));
    } catch (const crypt_exception &e) {
        printError(QString::fromUtf8(e.what()));
        return false;
    }
    return writeFileAtomically(path, der.data(), length, permissions);
}

const SignatureCheck::MessageSink printMessage = [](const QString &text) { printError(text); };

} // namespace

int keygen(const QStringList &args)
{
    if (args.size() != 2)
        return usage("keygen PRIVATE_OUT PUBLIC_OUT");
    if (!initCrypto())
        return 1;
    prng_state prng{};
    KeyHolder holder;
    try {
        RsaVerifier::checkCrypt("rsa_make_key",
                                rsa_make_key(&prng, RsaVerifier::prngIndex(), keyBits / 8,
                                             publicExponent, &holder.key));
    } catch (const crypt_exception &e) {
        printError(QString::fromUtf8(e.what()));
        return 1;
    }
    holder.loaded = true;
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto everyone = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!exportKey(&holder.key, PK_PRIVATE, args.at(0), ownerOnly) ||
        !exportKey(&holder.key, PK_PUBLIC, args.at(1), everyone))
        return 1;
    return 0;
}

int sign(const QStringList &args)
{
    if (args.size() != 2)
        return usage("sign PRIVATE FILE");
    const QString &keyPath = args.at(0);
    const QString &filePath = args.at(1);
    if (!initCrypto())
        return 1;
    QByteArray keyBytes;
    if (!SignatureCheck::readWholeFile(keyPath, keyBytes, printMessage))
        return 1;
    QByteArray digest;
    if (!SignatureCheck::hashFile(filePath, QCryptographicHash::Sha1, digest, printMessage))
        return 1;
    KeyHolder holder;
    unsigned char signature[keyBits / 8];
    unsigned long signatureLength = sizeof signature;
    try {
        RsaVerifier::importKey(reinterpret_cast<const unsigned char *>(keyBytes.constData()),
                               static_cast<unsigned long>(keyBytes.size()), &holder.key);
        holder.loaded = true;
        if (holder.key.type != PK_PRIVATE) {
            printError(QStringLiteral("%1 is not a private key").arg(keyPath));
            return 1;
        }
        prng_state prng{};
        RsaVerifier::checkCrypt(
            "rsa_sign_hash",
            rsa_sign_hash_ex(reinterpret_cast<const unsigned char *>(digest.constData()),
                             static_cast<unsigned long>(digest.size()), signature, &signatureLength,
                             LTC_PKCS_1_PSS, &prng, RsaVerifier::prngIndex(),
                             RsaVerifier::sha1Index(), RsaVerifier::saltLength, &holder.key));
    } catch (const crypt_exception &e) {
        printError(QStringLiteral("%1: %2").arg(keyPath, QString::fromUtf8(e.what())));
        return 1;
    }
    return writeFileAtomically(filePath + QStringLiteral(".sig"), signature, signatureLength) ? 0
                                                                                              : 1;
}

int verify(const QStringList &args)
{
    if (args.size() != 2)
        return usage("verify PUBLIC FILE");
    const QString &keyPath = args.at(0);
    const QString &filePath = args.at(1);
    if (!initCrypto())
        return 1;
    QByteArray keyBytes;
    if (!SignatureCheck::readWholeFile(keyPath, keyBytes, printMessage))
        return 1;
    if (keyBytes.size() > int(keyBlockSize)) {
        printError(QStringLiteral("%1 is larger than the updater's key block").arg(keyPath));
        return 1;
    }
    std::vector<unsigned char> block(keyBlockSize, 0);
    std::copy(keyBytes.cbegin(), keyBytes.cend(), block.begin());
    if (!SignatureCheck::checkRsa(filePath, block.data(), keyBlockSize, printMessage)) {
        printError(QStringLiteral("signature check failed for %1").arg(filePath));
        return 1;
    }
    return 0;
}

} // namespace SignCommands

namespace {

QStringList toQStringList(const std::vector<std::string> &args)
{
    QStringList list;
    for (const std::string &arg : args)
        list << QString::fromLocal8Bit(arg.c_str());
    return list;
}

int runChecked(const Command &command, const std::vector<std::string> &args,
               int (*run)(const QStringList &))
{
    if (args.size() != 2)
        return usageError(command, "expected two arguments");
    // The shared checks trace their steps for the updater's log file; the
    // tool reports only failures, through its own messages.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "qvxrelease: %s\n", qUtf8Printable(text));
    });
    return run(toQStringList(args));
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
