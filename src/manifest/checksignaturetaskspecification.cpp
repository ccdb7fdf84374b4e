#include "checksignaturetaskspecification.h"

#include "manifest/checksigfunc.h"

#include <QDebug>

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString &filePath,
                                                                 const QString &expectedSha512,
                                                                 bool failOnMismatch,
                                                                 QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight)
    , m_FilePath(filePath)
    , m_ReportedPath(filePath)
    , m_ExpectedSha512(expectedSha512)
    , m_FailOnMismatch(failOnMismatch)
{
}

CheckSignatureTaskSpecification::~CheckSignatureTaskSpecification() = default;

void CheckSignatureTaskSpecification::setReportedPath(const QString &path)
{
    m_ReportedPath = path;
}

ASyncFunc *CheckSignatureTaskSpecification::createFunc()
{
    return new CheckSigFunc(m_FilePath, m_ExpectedSha512);
}

void CheckSignatureTaskSpecification::runDone(bool ok)
{
    // A result that arrives after a reset or a cancellation belongs to no run.
    if (m_TaskState != TASK_RUNNING)
        return;
    if (ok) {
        emit checkDone(true, this);
        setFinished();
        return;
    }
    qDebug() << "Signature check failed for" << m_FilePath;
    emit message(QStringLiteral("Signature check failed for %1").arg(m_ReportedPath));
    emit checkDone(false, this);
    if (m_FailOnMismatch)
        setFailed();
    else
        setFinished();
}
