#include "checksigfunc.h"

#include "manifest/publickeyblock.h"
#include "manifest/signaturecheck.h"

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
    return SignatureCheck::checkRsa(m_FilePath, PublicKeyBlock::data, PublicKeyBlock::size,
                                    [this](const QString &text) { emit message(text); });
}

bool CheckSigFunc::checkSHA512()
{
    return SignatureCheck::checkSha512(m_FilePath, m_ExpectedSha512,
                                       [this](const QString &text) { emit message(text); });
}

bool CheckSigFunc::readWholeFile(const QString &path, QByteArray &out)
{
    return SignatureCheck::readWholeFile(path, out,
                                         [this](const QString &text) { emit message(text); });
}
