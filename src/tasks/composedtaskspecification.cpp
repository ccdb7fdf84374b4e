#include "composedtaskspecification.h"

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallel, QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_MaxParallel(maxParallel)
{
    // Queued, so that a child is never started from inside the signal
    // handlers of the child that just ended.
    connect(this, SIGNAL(startNextTask()), this, SLOT(onStartNextTask()), Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    // Before QObject's destructor deletes the children: a child's last
    // signals must not reach this half-destroyed group.
    deleteSubTasks();
}

void ComposedTaskSpecification::reset()
{
    const QList<TaskSpecification *> children = m_SubTasks;
    for (TaskSpecification *child : children)
        child->reset();
    m_Pending = m_SubTasks;
    m_Running.clear();
    m_Completed.clear();
    m_SubTaskCanceled = false;
    m_DoneCalled = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                                  quint64 &bytesSinceLastPoll, bool &downloading)
{
    downloading = false;
    const QList<TaskSpecification *> children = m_SubTasks;
    for (TaskSpecification *child : children) {
        quint64 childDone = 0;
        quint64 childTotal = 0;
        quint64 childSinceLastPoll = 0;
        bool childDownloading = false;
        child->getDownloadStatus(childDone, childTotal, childSinceLastPoll, childDownloading);
        if (childDownloading)
            downloading = true;
        bytesSinceLastPoll += childSinceLastPoll;
        // A child that does not know its size yet would make the total jump
        // back and forth; it shows up once its size is known.
        if (childTotal != 0) {
            bytesDone += childDone;
            bytesTotal += childTotal;
        }
    }
}

void ComposedTaskSpecification::cancel()
{
    TaskSpecification::cancel();
    if (m_TaskState != TASK_RUNNING)
        return;
    // A child may end inside its cancel() and with it this group; iterate a
    // copy so that nothing a handler does to the lists disturbs the loop.
    const QList<TaskSpecification *> children = m_SubTasks;
    for (TaskSpecification *child : children)
        child->cancel();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (subTasksResult()) {
    case TASK_CANCELED:
        setCanceled();
        break;
    case TASK_FINISHED:
        setFinished();
        break;
    default:
        setFailed();
        break;
    }
}

void ComposedTaskSpecification::connectSubTask(TaskSpecification *child)
{
    connect(child, SIGNAL(finished(TaskSpecification *)), this,
            SLOT(onSubTaskFinished(TaskSpecification *)));
    connect(child, SIGNAL(canceled(TaskSpecification *)), this,
            SLOT(onSubTaskCanceled(TaskSpecification *)));
    connect(child, SIGNAL(error(QString)), this, SIGNAL(error(QString)));
    connect(child, SIGNAL(updateProgress(qreal)), this, SLOT(onUpdateProgress(qreal)));
    connect(child, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    connect(this, SIGNAL(otherTaskCancelled(TaskSpecification *)), child,
            SLOT(onOtherTaskCancelled(TaskSpecification *)));
}

void ComposedTaskSpecification::addSubTask(TaskSpecification *child)
{
    m_SubTasks.append(child);
    m_Pending.append(child);
    connectSubTask(child);
    recalcProgress();
}

void ComposedTaskSpecification::startSubTasks()
{
    m_TaskState = TASK_RUNNING;
    // A new batch: its end must be decided again, also when a subclass
    // starts it from its own subtasksDone().
    m_DoneCalled = false;
    const int n = qMin(m_Pending.size(), m_MaxParallel);
    if (n <= 0) {
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

ComposedTaskSpecification::TaskState ComposedTaskSpecification::subTasksResult() const
{
    bool anyCanceled = false;
    bool allFinished = true;
    for (const TaskSpecification *child : m_SubTasks) {
        if (child->m_TaskState == TASK_FAILED)
            return TASK_FAILED;
        if (child->m_TaskState == TASK_CANCELED)
            anyCanceled = true;
        if (child->m_TaskState != TASK_FINISHED)
            allFinished = false;
    }
    if (anyCanceled)
        return TASK_CANCELED;
    if (allFinished)
        return TASK_FINISHED;
    if (m_CancelRequested)
        return TASK_CANCELED;
    if (m_SubTaskCanceled)
        return TASK_FAILED;
    return TASK_RUNNING;
}

void ComposedTaskSpecification::deleteSubTasks()
{
    for (TaskSpecification *child : qAsConst(m_SubTasks)) {
        disconnect(child, nullptr, this, nullptr);
        disconnect(this, nullptr, child, nullptr);
        child->deleteLater();
    }
    m_SubTasks.clear();
    m_Pending.clear();
    m_Running.clear();
    m_Completed.clear();
}

void ComposedTaskSpecification::recalcProgress()
{
    qreal sum = 0;
    for (const TaskSpecification *child : qAsConst(m_SubTasks))
        sum += child->m_DoneAmount;
    setProgress(sum);
}

void ComposedTaskSpecification::onStartNextTask()
{
    if (m_Pending.isEmpty() || m_SubTaskCanceled || m_CancelRequested) {
        if (m_Running.isEmpty() && !m_DoneCalled) {
            m_DoneCalled = true;
            subtasksDone();
        }
        return;
    }
    // Every running child queues one start when it ends. A start left over
    // from an earlier batch must not push the group over its limit.
    if (m_Running.size() >= m_MaxParallel)
        return;
    TaskSpecification *child = m_Pending.takeFirst();
    m_Running.append(child);
    child->execute();
}

void ComposedTaskSpecification::onUpdateProgress(qreal doneFrac)
{
    Q_UNUSED(doneFrac)
    recalcProgress();
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification *child)
{
    moveToCompleted(child);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification *child)
{
    moveToCompleted(child);
    if (!m_SubTaskCanceled) {
        m_SubTaskCanceled = true;
        emit otherTaskCancelled(child);
    }
    if (m_Running.isEmpty() && !m_DoneCalled) {
        m_DoneCalled = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::moveToCompleted(TaskSpecification *child)
{
    // A child may also end without having been started (a pending download
    // that is cancelled ends at once); it then leaves the pending list, so
    // that it is never started afterwards.
    if (!m_Running.removeOne(child))
        m_Pending.removeOne(child);
    m_Completed.append(child);
}
