#pragma once

#include "tasks/asynctaskspecification.h"

#include <QString>

class RollbackDataList;

// A file operation that may take long (copy, unpack, patch), run on the
// thread pool. The task keeps the paths and the one failure line the user
// sees; the details of a failure go to the debug log only. On success it
// journals the output file (FILE_CREATE), so that rolling the group back
// deletes it.
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(SlowFileOpSpecification)

public:
    // errorMessage is the complete failure line; rollbackList may be null
    // (nothing is journalled) and is not owned.
    SlowFileOpSpecification(const QString &errorMessage, RollbackDataList *rollbackList,
                            const QString &srcFile, const QString &dstFile, QObject *parent,
                            qreal weight);
    SlowFileOpSpecification(const QString &errorMessage, RollbackDataList *rollbackList,
                            const QString &srcFile, const QString &patchFile,
                            const QString &dstFile, QObject *parent, qreal weight);
    ~SlowFileOpSpecification() override;

    // Writes the result to path instead of the destination (which the
    // failure line still names) and journals path. The caller publishes it.
    void setOutputFile(const QString &path);

protected:
    // A result that comes after the task has ended still journals its
    // output: the file exists and must go with a rollback.
    void runDone(bool ok) override;

    RollbackDataList *m_RollbackList;
    QString m_SrcFile;
    QString m_PatchFile;
    QString m_DstFile;
    QString m_OutputFile; // where the work object writes: m_DstFile unless set
    QString m_ErrorMessage;
};

// The work of a slow file operation: copies of the paths, read on the worker.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(SlowFileOpFunc)

public:
    SlowFileOpFunc(const QString &srcFile, const QString &dstFile);
    SlowFileOpFunc(const QString &srcFile, const QString &patchFile, const QString &dstFile);
    ~SlowFileOpFunc() override;

protected:
    QString m_SrcFile;
    QString m_PatchFile;
    QString m_DstFile;
};
