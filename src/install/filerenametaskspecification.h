#pragma once

#include "install/fastfileoptaskspecification.h"

// Renames m_OldPath to m_Path (never onto an existing name) and journals the
// rename, so an undo moves the file back.
class FileRenameTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileRenameTaskSpecification)

public:
    FileRenameTaskSpecification(const QString &oldPath, const QString &newPath,
                                RollbackDataList *rollbackList, QObject *parent, qreal weight);
    ~FileRenameTaskSpecification() override;

protected:
    bool doOp() override;

    QString m_OldPath;
};
