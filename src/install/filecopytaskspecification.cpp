#include "filecopytaskspecification.h"

#include <QDebug>
#include <QFile>

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList *rollbackList,
                                                     const QString &srcFile, const QString &dstFile,
                                                     QObject *parent, qreal weight)
    : SlowFileOpSpecification(QStringLiteral("Could not copy '%1' to '%2'").arg(srcFile, dstFile),
                              rollbackList, srcFile, dstFile, parent, weight)
{
}

FileCopyTaskSpecification::~FileCopyTaskSpecification() = default;

ASyncFunc *FileCopyTaskSpecification::createFunc()
{
    return new FileCopyFunc(m_SrcFile, m_OutputFile);
}

FileCopyFunc::FileCopyFunc(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile)
{
}

FileCopyFunc::~FileCopyFunc() = default;

bool FileCopyFunc::run()
{
    qDebug() << "run" << m_SrcFile << m_DstFile;
    // QFile::copy refuses an existing destination and, when it fails half
    // way, removes what it wrote.
    return QFile::copy(m_SrcFile, m_DstFile);
}
