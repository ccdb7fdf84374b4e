#include "testtasks.h"

#include <QCoreApplication>

int TaskProbe::finishedEmissionDepth = 0;
int TaskProbe::executesInsideFinished = 0;
int TaskProbe::running = 0;
int TaskProbe::maxRunning = 0;
QStringList TaskProbe::startOrder;

void TaskProbe::clear()
{
    finishedEmissionDepth = 0;
    executesInsideFinished = 0;
    running = 0;
    maxRunning = 0;
    startOrder.clear();
}

LeafTask::LeafTask(const QString &name, Behaviour behaviour, QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_Name(name)
    , m_Behaviour(behaviour)
{
}

void LeafTask::execute()
{
    if (TaskProbe::finishedEmissionDepth > 0)
        ++TaskProbe::executesInsideFinished;
    ++m_ExecuteCount;
    m_TaskState = TASK_RUNNING;
    TaskProbe::startOrder.append(m_Name);
    TaskProbe::maxRunning = qMax(TaskProbe::maxRunning, ++TaskProbe::running);
    switch (m_Behaviour) {
    case FinishAtOnce:
        finish();
        break;
    case FailAtOnce:
        fail(m_Name + QStringLiteral(" failed"));
        break;
    case CancelAtOnce:
        stop();
        break;
    case Manual:
        break;
    }
}

void LeafTask::cancel()
{
    TaskSpecification::cancel();
    if (m_StopOnCancel && m_TaskState <= TASK_RUNNING)
        stop();
}

void LeafTask::getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                 quint64 &bytesSinceLastPoll, bool &downloading)
{
    bytesDone = m_BytesDone;
    bytesTotal = m_BytesTotal;
    bytesSinceLastPoll = m_BytesSinceLastPoll;
    downloading = m_Downloading;
}

void LeafTask::leave()
{
    if (m_TaskState == TASK_RUNNING)
        --TaskProbe::running;
}

void LeafTask::finish()
{
    leave();
    ++TaskProbe::finishedEmissionDepth;
    setFinished();
    --TaskProbe::finishedEmissionDepth;
}

void LeafTask::fail(const QString &why)
{
    leave();
    if (!why.isEmpty())
        emit error(why);
    setFailed();
}

void LeafTask::stop()
{
    leave();
    setCanceled();
}

void LeafTask::handleOtherTaskCancelled(TaskSpecification *other)
{
    ++m_OtherCancelledCount;
    m_LastOther = other;
}

GroupTask::GroupTask(int maxParallel, QObject *parent, qreal weight)
    : ComposedTaskSpecification(maxParallel, parent, weight)
{
}

LeafTask *GroupTask::addLeaf(const QString &name, LeafTask::Behaviour behaviour, qreal weight)
{
    auto *leaf = new LeafTask(name, behaviour, this, weight);
    addSubTask(leaf);
    return leaf;
}

void GroupTask::subtasksDone()
{
    ++m_DoneCount;
    if (!m_SecondBatch.isEmpty() && subTasksResult() == TASK_FINISHED) {
        const QList<TaskSpecification *> batch = m_SecondBatch;
        m_SecondBatch.clear();
        for (TaskSpecification *child : batch)
            addSubTask(child);
        startSubTasks();
        return;
    }
    ComposedTaskSpecification::subtasksDone();
}

SignalLog::SignalLog(TaskSpecification *task)
    : QObject(task)
{
    connect(task, &TaskSpecification::finished, this, [this](TaskSpecification *) {
        m_Lines.append(QStringLiteral("finished"));
        ++m_Ends;
    });
    connect(task, &TaskSpecification::canceled, this, [this](TaskSpecification *t) {
        m_Lines.append(QStringLiteral("canceled:%1").arg(int(t->m_TaskState)));
        ++m_Ends;
    });
    connect(task, &TaskSpecification::error, this,
            [this](const QString &text) { m_Lines.append(QStringLiteral("error:") + text); });
    connect(task, &TaskSpecification::message, this,
            [this](const QString &text) { m_Lines.append(QStringLiteral("message:") + text); });
    connect(task, &TaskSpecification::updateProgress, this, [this](qreal value) {
        m_Progress.append(value);
        m_Lines.append(QStringLiteral("progress:%1").arg(value));
    });
}

void drainEvents()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
