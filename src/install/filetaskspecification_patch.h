#pragma once

#include "install/slowfileopspecification.h"

// Applies an ensemble patch on the thread pool: the old file plus the patch
// give the new file. The old file and the destination are always different
// paths; the destination is written only when the whole patch applied.
class FileTaskSpecification_patch : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileTaskSpecification_patch)

public:
    FileTaskSpecification_patch(RollbackDataList *rollbackList, const QString &srcFile,
                                const QString &patchFile, const QString &dstFile, QObject *parent,
                                qreal weight);
    ~FileTaskSpecification_patch() override;

protected:
    ASyncFunc *createFunc() override;
};

class FileFuncPatch : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(FileFuncPatch)

public:
    FileFuncPatch(const QString &srcFile, const QString &patchFile, const QString &dstFile);
    ~FileFuncPatch() override;

    bool run() override;
    static bool patchFile(const QString &srcFile, const QString &patchFile, const QString &dstFile);
};

// The patch engine's entry point for the updater: true when the new file was
// written completely. Every other engine status is logged (with a reason for
// the common ones) and gives false.
bool ApplyEnsemblePatch(const char *oldFile, const char *patchFile, const char *newFile);
