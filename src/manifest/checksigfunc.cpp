#include "checksigfunc.h"

#include "manifest/publickeyblock.h"
#include "manifest/signaturecheck.h"

#include <QDebug>
#include <QFile>

namespace {

// The checks take paths as the file system does and report in UTF-8.
std::string encodePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

QString decodePath(const std::string &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

CheckSigFunc::CheckSigFunc(const QString &filePath, const QString &expectedSha512)
    : m_FilePath(filePath)
    , m_ExpectedSha512(expectedSha512)
{
}

CheckSigFunc::~CheckSigFunc() = default;

bool CheckSigFunc::run()
{
    return m_ExpectedSha512.isEmpty() ? checkRSA() : checkSHA512();
}

bool CheckSigFunc::checkRSA()
{
    SignatureCheck::RsaOutcome outcome;
    const bool pass = SignatureCheck::checkRsa(encodePath(m_FilePath), PublicKeyBlock::data,
                                               PublicKeyBlock::size, messageSink(), &outcome);
    switch (outcome.step) {
    case SignatureCheck::RsaOutcome::FileUnreadable:
    case SignatureCheck::RsaOutcome::SignatureUnreadable:
        qDebug() << "RSA check failed, could not read" << decodePath(outcome.detail);
        break;
    case SignatureCheck::RsaOutcome::CryptError:
        qDebug() << "RSA check failed, caught exception" << outcome.detail.c_str();
        break;
    case SignatureCheck::RsaOutcome::Verified:
        qDebug() << "RSA check" << outcome.passed;
        break;
    }
    return pass;
}

bool CheckSigFunc::checkSHA512()
{
    std::string computed;
    const bool equal = SignatureCheck::checkSha512(
        encodePath(m_FilePath), m_ExpectedSha512.toStdString(), messageSink(), &computed);
    if (!computed.empty())
        qDebug() << "SHA512 check:" << m_ExpectedSha512 << QString::fromStdString(computed) << "=>"
                 << equal;
    return equal;
}

bool CheckSigFunc::readWholeFile(const QString &path, QByteArray &out)
{
    std::vector<unsigned char> bytes;
    if (!SignatureCheck::readWholeFile(encodePath(path), bytes, messageSink()))
        return false;
    out = QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
    return true;
}

std::function<void(const std::string &)> CheckSigFunc::messageSink()
{
    // Message texts carry the path as the file system spelled it; decoding
    // the whole text the same way gives back the caller's path.
    return [this](const std::string &text) { emit message(decodePath(text)); };
}
