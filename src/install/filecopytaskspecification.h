#pragma once

#include "install/slowfileopspecification.h"

// Copies a file on the thread pool. The copy never overwrites: it fails when
// the destination exists.
class FileCopyTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileCopyTaskSpecification)

public:
    FileCopyTaskSpecification(RollbackDataList *rollbackList, const QString &srcFile,
                              const QString &dstFile, QObject *parent, qreal weight);
    ~FileCopyTaskSpecification() override;

protected:
    ASyncFunc *createFunc() override;
};

class FileCopyFunc : public SlowFileOpFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(FileCopyFunc)

public:
    FileCopyFunc(const QString &srcFile, const QString &dstFile);
    ~FileCopyFunc() override;

    bool run() override;
};
