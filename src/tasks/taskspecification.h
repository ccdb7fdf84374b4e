#pragma once

#include <QObject>
#include <QString>

// One unit of work of an update session: downloading a file, checking a
// signature, patching, renaming, running an install command, or a whole group
// of those (ComposedTaskSpecification).
//
// Contract every task class keeps:
// - The task lives on the main thread and is started once by execute(), which
//   sets TASK_RUNNING. Starting it again needs reset() first.
// - It ends with exactly one of setFinished() (emits finished), setFailed() or
//   setCanceled() (both emit canceled; m_TaskState tells the two apart).
// - A failure is described with error() and/or message() before setFailed().
// - Progress is reported as fraction x m_Weight, so a parent can sum the
//   m_DoneAmount of its children.
//
// Ownership: created with new, with the parent task (or the update engine) as
// QObject parent; a composed parent discards its children with deleteLater.
//
// Connections between tasks use the signature strings (SIGNAL/SLOT), so the
// signatures below are part of the contract.
class TaskSpecification : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TaskSpecification)

public:
    // Composed tasks compare these numbers; the values are fixed.
    enum TaskState : qint32
    {
        TASK_IDLE = 0,     // constructed or reset, not started
        TASK_RUNNING = 1,  // execute has begun the work
        TASK_FINISHED = 2, // completed; finished was emitted
        TASK_FAILED = 3,   // ended by a failure; canceled was emitted
        TASK_CANCELED = 4  // stopped on request; canceled was emitted
    };
    Q_ENUM(TaskState)

    TaskSpecification(QObject *parent, qreal weight);
    ~TaskSpecification() override;

    // Read by parents and by the engine; written only by the task itself.
    bool m_CancelRequested = false; // set by cancel(), polled by subclasses
    qreal m_Weight = 0;             // share of the parent's progress
    qreal m_DoneAmount = 0;         // fraction done x m_Weight
    TaskState m_TaskState = TASK_IDLE;

signals:
    void finished(TaskSpecification *task);
    void canceled(TaskSpecification *task);
    void error(const QString &errorMessage);
    // doneFrac is m_DoneAmount, already multiplied by the weight.
    void updateProgress(qreal doneFrac);
    void message(const QString &message);
    // Sent by a composed task to its children when a sibling ended without
    // success.
    void otherTaskCancelled(TaskSpecification *other);

public slots:
    // Starts the work and sets TASK_RUNNING.
    virtual void execute() = 0;
    // Back to TASK_IDLE with no progress and no cancel request; emits
    // updateProgress(0).
    virtual void reset();
    // A poll, not a query: the download task restarts its since-last-poll
    // counter and counts idle polls towards its inactivity time-out, so only
    // one poller may call it on a task tree. Sets all four to 0 / false here.
    virtual void getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                   quint64 &bytesSinceLastPoll, bool &downloading);
    // Requests cancellation; a task stops at once where it can, otherwise at
    // its next step.
    virtual void cancel();

protected slots:
    // Calls handleOtherTaskCancelled only while this task runs and other is a
    // different task.
    void onOtherTaskCancelled(TaskSpecification *other);

protected:
    // A sibling (or, seen from a composed child, a sibling of an ancestor)
    // ended without success while this task runs. Nothing happens here.
    virtual void handleOtherTaskCancelled(TaskSpecification *other);

    // m_DoneAmount = fraction x m_Weight; emits updateProgress.
    void setProgress(qreal fraction);
    // TASK_FINISHED, full progress; emits updateProgress(m_Weight), then finished.
    void setFinished();
    // TASK_FAILED; emits canceled.
    void setFailed();
    // TASK_CANCELED; emits canceled.
    void setCanceled();
};
