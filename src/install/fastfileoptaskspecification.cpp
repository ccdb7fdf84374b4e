#include "fastfileoptaskspecification.h"

#include "tasks/rollback.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString &path,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_RollbackList(rollbackList)
    , m_Path(path)
{
}

FastFileOpTaskSpecification::~FastFileOpTaskSpecification() = default;

void FastFileOpTaskSpecification::execute()
{
    m_TaskState = TASK_RUNNING;
    if (doOp())
        setFinished();
    else
        setFailed();
}

void FastFileOpTaskSpecification::addRollback(const RollbackData &record)
{
    if (m_RollbackList)
        m_RollbackList->append(record);
}
