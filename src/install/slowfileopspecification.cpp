#include "slowfileopspecification.h"

#include "tasks/rollback.h"

SlowFileOpSpecification::SlowFileOpSpecification(const QString &errorMessage,
                                                 RollbackDataList *rollbackList,
                                                 const QString &srcFile, const QString &dstFile,
                                                 QObject *parent, qreal weight)
    : SlowFileOpSpecification(errorMessage, rollbackList, srcFile, QString(), dstFile, parent,
                              weight)
{
}

SlowFileOpSpecification::SlowFileOpSpecification(const QString &errorMessage,
                                                 RollbackDataList *rollbackList,
                                                 const QString &srcFile, const QString &patchFile,
                                                 const QString &dstFile, QObject *parent,
                                                 qreal weight)
    : ASyncTaskSpecification(parent, weight)
    , m_RollbackList(rollbackList)
    , m_SrcFile(srcFile)
    , m_PatchFile(patchFile)
    , m_DstFile(dstFile)
    , m_OutputFile(dstFile)
    , m_ErrorMessage(errorMessage)
{
}

SlowFileOpSpecification::~SlowFileOpSpecification() = default;

void SlowFileOpSpecification::setOutputFile(const QString &path)
{
    m_OutputFile = path;
}

void SlowFileOpSpecification::runDone(bool ok)
{
    if (ok && m_RollbackList)
        m_RollbackList->append(RollbackData(RollbackData::FILE_CREATE, m_OutputFile));
    if (!ok)
        emit message(m_ErrorMessage);
    ASyncTaskSpecification::runDone(ok);
}

SlowFileOpFunc::SlowFileOpFunc(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, QString(), dstFile)
{
}

SlowFileOpFunc::SlowFileOpFunc(const QString &srcFile, const QString &patchFile,
                               const QString &dstFile)
    : m_SrcFile(srcFile)
    , m_PatchFile(patchFile)
    , m_DstFile(dstFile)
{
}

SlowFileOpFunc::~SlowFileOpFunc() = default;
