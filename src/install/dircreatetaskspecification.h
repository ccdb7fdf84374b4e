#pragma once

#include "install/fastfileoptaskspecification.h"

// Creates a directory together with its missing parents, one level at a time,
// journalling every level it created (outermost first), so an undo removes
// exactly the directories this task made, innermost first. A directory that
// already exists is success without a record.
class DirCreateTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(DirCreateTaskSpecification)

public:
    DirCreateTaskSpecification(const QString &path, RollbackDataList *rollbackList, QObject *parent,
                               qreal weight);
    ~DirCreateTaskSpecification() override;

protected:
    bool doOp() override;
    bool createDir(const QString &path);
};
