#pragma once

#include "tasks/composedtaskspecification.h"

#include <QList>
#include <QString>
#include <QStringList>

// Small task classes for the framework tests.

// Counts who is inside a finished emission, so a test can tell whether a task
// was started from inside another task's finished signal.
struct TaskProbe
{
    static int finishedEmissionDepth;
    static int executesInsideFinished;
    static int running;
    static int maxRunning;
    static QStringList startOrder;
    static void clear();
};

// A leaf that does what the test tells it: finish, fail or cancel at once in
// execute(), or wait for finish()/fail() from the test.
class LeafTask : public TaskSpecification
{
    Q_OBJECT

public:
    enum Behaviour
    {
        Manual,
        FinishAtOnce,
        FailAtOnce,
        CancelAtOnce
    };

    LeafTask(const QString &name, Behaviour behaviour, QObject *parent, qreal weight);

    void execute() override;
    void cancel() override;
    void getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal, quint64 &bytesSinceLastPoll,
                           bool &downloading) override;

    void finish();
    void fail(const QString &why = QString());
    void stop();
    void progress(qreal fraction) { setProgress(fraction); }

    QString m_Name;
    Behaviour m_Behaviour;
    // Ends with setCanceled inside cancel(), like a transfer that can abort.
    bool m_StopOnCancel = false;
    int m_ExecuteCount = 0;
    int m_OtherCancelledCount = 0;
    TaskSpecification *m_LastOther = nullptr;
    // What getDownloadStatus reports.
    quint64 m_BytesDone = 0;
    quint64 m_BytesTotal = 0;
    quint64 m_BytesSinceLastPoll = 0;
    bool m_Downloading = false;

protected:
    void handleOtherTaskCancelled(TaskSpecification *other) override;

private:
    void leave();
};

// A group whose execute() starts the children added by the test. It counts
// subtasksDone() calls and can start a second batch from there.
class GroupTask : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    GroupTask(int maxParallel, QObject *parent, qreal weight);

    void execute() override { startSubTasks(); }
    LeafTask *addLeaf(const QString &name, LeafTask::Behaviour behaviour, qreal weight);
    void add(TaskSpecification *child) { addSubTask(child); }
    void discard() { deleteSubTasks(); }

    int m_DoneCount = 0;
    // Added and started as a second batch by the first subtasksDone().
    QList<TaskSpecification *> m_SecondBatch;
    const QList<TaskSpecification *> &running() const { return m_Running; }
    const QList<TaskSpecification *> &pending() const { return m_Pending; }
    const QList<TaskSpecification *> &completed() const { return m_Completed; }

protected:
    void subtasksDone() override;
};

// Records every signal of a task as text, in order of emission.
class SignalLog : public QObject
{
    Q_OBJECT

public:
    explicit SignalLog(TaskSpecification *task);
    QStringList m_Lines;
    int m_Ends = 0; // finished + canceled emissions
    QList<qreal> m_Progress;
};

// Processes posted events until the queue stays empty for a few rounds.
void drainEvents();
