#include "signaturecheck.h"

#include "rsaverifier.h"

#include <QDebug>
#include <QFile>

namespace SignatureCheck {

namespace {

// Large enough that the system call overhead vanishes next to the hashing.
constexpr qint64 hashChunkSize = 1024 * 1024;

void report(const MessageSink &onMessage, const QString &text)
{
    if (onMessage)
        onMessage(text);
}

void reportOpenFailure(const MessageSink &onMessage, const QString &path)
{
    report(onMessage, QStringLiteral("Could not open file %1 for reading").arg(path));
}

void reportReadFailure(const MessageSink &onMessage, const QString &path)
{
    report(onMessage, QStringLiteral("could not read file %1 correctly").arg(path));
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

} // namespace

bool readWholeFile(const QString &path, QByteArray &out, const MessageSink &onMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reportOpenFailure(onMessage, path);
        return false;
    }
    const qint64 size = file.size();
    if (size > maxSignatureFileSize) {
        reportReadFailure(onMessage, path);
        return false;
    }
    out.resize(int(size));
    if (file.read(out.data(), size) != size) {
        reportReadFailure(onMessage, path);
        return false;
    }
    file.close();
    return true;
}

bool hashFile(const QString &path, QCryptographicHash::Algorithm algorithm, QByteArray &digest,
              const MessageSink &onMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        reportOpenFailure(onMessage, path);
        return false;
    }
    const qint64 size = file.size();
    QCryptographicHash hash(algorithm);
    QByteArray chunk(int(qMin(size, hashChunkSize)), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(chunk.data(), qMin<qint64>(chunk.size(), size - done));
        if (n <= 0)
            break;
        hash.addData(chunk.constData(), int(n));
        done += n;
    }
    if (done != size) {
        reportReadFailure(onMessage, path);
        return false;
    }
    digest = hash.result();
    return true;
}

bool checkSha512(const QString &path, const QString &expectedSha512, const MessageSink &onMessage)
{
    QByteArray digest;
    if (!hashFile(path, QCryptographicHash::Sha512, digest, onMessage))
        return false;
    const QString computed = QString::fromLatin1(digest.toHex());
    const bool equal = expectedSha512.compare(computed, Qt::CaseInsensitive) == 0;
    qDebug() << "SHA512 check:" << expectedSha512 << computed << "=>" << equal;
    return equal;
}

bool checkRsa(const QString &path, const unsigned char *keyBlock, unsigned long keyLength,
              const MessageSink &onMessage)
{
    QByteArray digest;
    if (!hashFile(path, QCryptographicHash::Sha1, digest, onMessage)) {
        qDebug() << "RSA check failed, could not read" << path;
        return false;
    }
    const QString sigPath = path + QStringLiteral(".sig");
    QByteArray signature;
    if (!readWholeFile(sigPath, signature, onMessage)) {
        qDebug() << "RSA check failed, could not read" << sigPath;
        return false;
    }
    try {
        KeyHolder holder;
        RsaVerifier::importKey(keyBlock, keyLength, &holder.key);
        holder.loaded = true;
        const bool pass = RsaVerifier::verifyDigest(
            &holder.key, reinterpret_cast<const unsigned char *>(digest.constData()),
            reinterpret_cast<const unsigned char *>(signature.constData()),
            static_cast<unsigned long>(signature.size()));
        qDebug() << "RSA check" << pass;
        return pass;
    } catch (const crypt_exception &e) {
        qDebug() << "RSA check failed, caught exception" << e.what();
        return false;
    }
}

} // namespace SignatureCheck
