#pragma once

#include "tasks/taskspecification.h"

#include <QString>

class RollbackData;
class RollbackDataList;

// A quick file-system step (create a directory, delete, rename) done on the
// main thread inside execute(): the task is finished or failed before
// execute() returns, and there is nothing to cancel. Steps that can be undone
// append their records to the journal handed in; a null journal records
// nothing. Every line, success or failure, goes out as message().
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FastFileOpTaskSpecification)

public:
    // rollbackList may be null and is not owned.
    FastFileOpTaskSpecification(const QString &path, RollbackDataList *rollbackList,
                                QObject *parent, qreal weight);
    ~FastFileOpTaskSpecification() override;

public slots:
    void execute() override;

protected:
    // Performs the operation; false after its failure line.
    virtual bool doOp() = 0;
    void addRollback(const RollbackData &record);

    RollbackDataList *m_RollbackList;
    QString m_Path;
};
