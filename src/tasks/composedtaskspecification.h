#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of an ordered list of sub-tasks. Children start in the order
// they were added, at most m_MaxParallel at a time; their weighted progress is
// summed into this task's, their message and error signals pass upward
// unchanged. As soon as one child ends without success (or cancel() is
// called) no further child starts, the running siblings are told through
// otherTaskCancelled, and the outcome is decided once no child runs any more:
// a group never deletes or abandons a child that is still working.
//
// A subclass builds its children in execute() (new, with this as parent and
// the child's weight last), hands them to addSubTask() in start order and
// calls startSubTasks(). To act when the children are done it overrides
// subtasksDone(), reads subTasksResult(), does its work and calls the base
// subtasksDone() to end, or adds a second batch and calls startSubTasks()
// again instead.
//
// Children are started from the event loop (a queued startNextTask), never
// from inside another child's finished emission.
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(ComposedTaskSpecification)

public:
    ComposedTaskSpecification(int maxParallel, QObject *parent, qreal weight);
    // Discards the children (deleteSubTasks).
    ~ComposedTaskSpecification() override;

public slots:
    // Resets every child and makes all of them pending again. Concrete
    // subclasses that build their children in execute() replace this with
    // deleteSubTasks(), clearing their own data and TaskSpecification::reset().
    void reset() override;
    // Sums the children: a child's bytesDone and bytesTotal count only when
    // its total is known (non-zero); its bytesSinceLastPoll and downloading
    // flag always count. The three counters are added to, not set.
    void getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal, quint64 &bytesSinceLastPoll,
                           bool &downloading) override;
    // Marks this task and, while it runs, cancels every child.
    void cancel() override;

signals:
    // Received only by this task itself, queued: one emission, one start.
    void startNextTask();

protected:
    // Passes the news on to this task's own children.
    void handleOtherTaskCancelled(TaskSpecification *other) override;
    // Called once per run when no child runs and none will start any more;
    // ends the task according to subTasksResult().
    virtual void subtasksDone();
    // Connects the child's finished, canceled, error, updateProgress and
    // message signals to this task, and this task's otherTaskCancelled to the
    // child.
    virtual void connectSubTask(TaskSpecification *child);

    // Takes ownership of child (already parented to this task) and queues it
    // after the children added before.
    void addSubTask(TaskSpecification *child);
    // Sets TASK_RUNNING and starts up to m_MaxParallel pending children from
    // the event loop. Without pending children subtasksDone() runs at once,
    // inside this call.
    void startSubTasks();
    // TASK_FAILED if a child failed, else TASK_CANCELED if a child was
    // cancelled, else TASK_FINISHED if every child finished, else
    // TASK_CANCELED if cancel was requested, else TASK_FAILED if a child ended
    // without success, else TASK_RUNNING.
    TaskState subTasksResult() const;
    // Disconnects every child from this task, discards it with deleteLater and
    // empties the four lists. The flags are left as they are.
    void deleteSubTasks();
    // Sets this task's progress to the sum of the children's m_DoneAmount.
    void recalcProgress();

    QList<TaskSpecification *> m_SubTasks;  // every child, in the order added
    QList<TaskSpecification *> m_Pending;   // not yet started, in start order
    QList<TaskSpecification *> m_Running;   // started, not yet ended
    QList<TaskSpecification *> m_Completed; // ended, in order of ending
    int m_MaxParallel;
    bool m_SubTaskCanceled = false; // a child ended without success
    bool m_DoneCalled = false;      // subtasksDone ran for the current batch

private slots:
    void onStartNextTask();
    void onUpdateProgress(qreal doneFrac);
    void onSubTaskFinished(TaskSpecification *child);
    void onSubTaskCanceled(TaskSpecification *child);

private:
    void moveToCompleted(TaskSpecification *child);
};
