#include "fileunpacktaskspecification_lzma2.h"

#include "qvpatch/package.h"

#include <QDebug>

FileUnpackTaskSpecification_lzma2::FileUnpackTaskSpecification_lzma2(RollbackDataList *rollbackList,
                                                                     const QString &srcFile,
                                                                     const QString &dstFile,
                                                                     QObject *parent, qreal weight)
    : SlowFileOpSpecification(QStringLiteral("Could not unpack '%1' to '%2'").arg(srcFile, dstFile),
                              rollbackList, srcFile, dstFile, parent, weight)
{
}

FileUnpackTaskSpecification_lzma2::~FileUnpackTaskSpecification_lzma2() = default;

ASyncFunc *FileUnpackTaskSpecification_lzma2::createFunc()
{
    return new FileUnpackFunc_lzma2(m_SrcFile, m_OutputFile);
}

FileUnpackFunc_lzma2::FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile)
{
}

FileUnpackFunc_lzma2::~FileUnpackFunc_lzma2() = default;

bool FileUnpackFunc_lzma2::run()
{
    return unpackFile(m_SrcFile, m_DstFile);
}

bool FileUnpackFunc_lzma2::unpackFile(const QString &srcFile, const QString &dstFile)
{
    const QByteArray source = srcFile.toUtf8();
    const QByteArray destination = dstFile.toUtf8();
    const bool ok = qvpatch::decodePackageFile(source.constData(), destination.constData());
    qDebug() << "unpackFile" << srcFile << dstFile << (ok ? "true" : "false");
    return ok;
}
