#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject *parent, qreal weight)
    : QObject(parent)
    , m_Weight(weight)
{
}

TaskSpecification::~TaskSpecification() = default;

void TaskSpecification::reset()
{
    m_CancelRequested = false;
    m_TaskState = TASK_IDLE;
    m_DoneAmount = 0;
    emit updateProgress(0);
}

void TaskSpecification::getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                          quint64 &bytesSinceLastPoll, bool &downloading)
{
    bytesDone = 0;
    bytesTotal = 0;
    bytesSinceLastPoll = 0;
    downloading = false;
}

void TaskSpecification::cancel()
{
    m_CancelRequested = true;
}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification *other)
{
    if (other != this && m_TaskState == TASK_RUNNING)
        handleOtherTaskCancelled(other);
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    Q_UNUSED(other)
}

void TaskSpecification::setProgress(qreal fraction)
{
    m_DoneAmount = fraction * m_Weight;
    emit updateProgress(m_DoneAmount);
}

void TaskSpecification::setFinished()
{
    m_TaskState = TASK_FINISHED;
    m_DoneAmount = m_Weight;
    emit updateProgress(m_Weight);
    emit finished(this);
}

void TaskSpecification::setFailed()
{
    m_TaskState = TASK_FAILED;
    emit canceled(this);
}

void TaskSpecification::setCanceled()
{
    m_TaskState = TASK_CANCELED;
    emit canceled(this);
}
