#include "filetaskspecification_patch.h"

#include "qvpatch/ensemblepatch.h"

#include <QDebug>

FileTaskSpecification_patch::FileTaskSpecification_patch(RollbackDataList *rollbackList,
                                                         const QString &srcFile,
                                                         const QString &patchFile,
                                                         const QString &dstFile, QObject *parent,
                                                         qreal weight)
    : SlowFileOpSpecification(QStringLiteral("Could not patch '%1' to '%2'").arg(srcFile, dstFile),
                              rollbackList, srcFile, patchFile, dstFile, parent, weight)
{
    qDebug() << "FileTaskSpecification_patch"
             << "srcFile:" << srcFile << "patchFile:" << patchFile << "dstFile:" << dstFile;
}

FileTaskSpecification_patch::~FileTaskSpecification_patch() = default;

ASyncFunc *FileTaskSpecification_patch::createFunc()
{
    return new FileFuncPatch(m_SrcFile, m_PatchFile, m_OutputFile);
}

FileFuncPatch::FileFuncPatch(const QString &srcFile, const QString &patchFile,
                             const QString &dstFile)
    : SlowFileOpFunc(srcFile, patchFile, dstFile)
{
}

FileFuncPatch::~FileFuncPatch() = default;

bool FileFuncPatch::run()
{
    return patchFile(m_SrcFile, m_PatchFile, m_DstFile);
}

bool FileFuncPatch::patchFile(const QString &srcFile, const QString &patchFile,
                              const QString &dstFile)
{
    const QByteArray oldPath = srcFile.toUtf8();
    const QByteArray patchPath = patchFile.toUtf8();
    const QByteArray newPath = dstFile.toUtf8();
    const bool ok =
        ApplyEnsemblePatch(oldPath.constData(), patchPath.constData(), newPath.constData());
    qDebug() << "Patch result" << (ok ? "true" : "false");
    return ok;
}

bool ApplyEnsemblePatch(const char *oldFile, const char *patchFile, const char *newFile)
{
    const qvpatch::PatchStatus status =
        qvpatch::applyEnsemblePatchFiles(oldFile, patchFile, newFile);
    qDebug() << "ApplyEnsemblePatch status =" << int(status) << oldFile << patchFile << newFile;
    switch (status) {
    case qvpatch::C_OK:
        return true;
    case qvpatch::C_BAD_ENSEMBLE_MAGIC:
        qDebug() << "Not an ensemble patch";
        break;
    case qvpatch::C_BAD_ENSEMBLE_VERSION:
        qDebug() << "Wrong version patch";
        break;
    case qvpatch::C_BAD_ENSEMBLE_HEADER:
        qDebug() << "Corrupt patch";
        break;
    case qvpatch::C_STREAM_ERROR:
        qDebug() << "Stream error (likely out of memory or disk space)";
        break;
    case qvpatch::C_DISASSEMBLY_FAILED:
        qDebug() << "Disassembly failed (could be because of memory issues)";
        break;
    default:
        break;
    }
    return false;
}
