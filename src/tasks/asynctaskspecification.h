#pragma once

#include "taskspecification.h"

#include <QObject>
#include <QRunnable>
#include <QString>

// The work of an asynchronous task, run once on a thread of Qt's global
// thread pool. A subclass holds copies of everything the work needs, so that
// run() touches no object of the main thread; it reports only through its
// signals (and extra signals of its own), which reach the task queued.
class ASyncFunc : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ASyncFunc)

public:
    ASyncFunc();
    ~ASyncFunc() override;

    // The work itself; true on success.
    virtual bool run() = 0;

signals:
    void runResult(bool res);
    void message(const QString &message);
    void error(const QString &errorMessage);
    // progress runs from 0 to 1.
    void progress(qreal progress);
};

// Runs one ASyncFunc on a pool thread and emits its result. Owns the work
// object, which is deleted with the runnable on that thread right after the
// work, and is auto-deleted by the pool.
class ASyncRun : public QRunnable
{
public:
    explicit ASyncRun(ASyncFunc *func);
    ~ASyncRun() override;

    void run() override;

private:
    Q_DISABLE_COPY(ASyncRun)
    ASyncFunc *m_Func;
};

// A task whose work runs on the global thread pool while the task itself
// stays on the main thread. execute() builds the work object (createFunc),
// connects it queued (connectFunc) and starts it; the result arrives through
// the event loop and ends the task in runDone(). The task never touches the
// work object after execute() returned.
//
// cancel() only marks the task: the work runs to its end and its result
// decides as usual. A result or progress that arrives after the task has left
// TASK_RUNNING is ignored.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(ASyncTaskSpecification)

public:
    ASyncTaskSpecification(QObject *parent, qreal weight);
    ~ASyncTaskSpecification() override;

public slots:
    void execute() override;
    // Blocks until the global thread pool has no work left (every pool job of
    // the process, not only this task's), then resets the task.
    void reset() override;

protected:
    // A new work object carrying copies of the task's inputs; the caller
    // takes ownership.
    virtual ASyncFunc *createFunc() = 0;
    // Connects runResult, message, error and progress of func to this task,
    // all queued. An override calls this and adds its own queued connections.
    virtual void connectFunc(ASyncFunc *func);
    // Ends the task with the work's result while it runs. An override first
    // takes over the work object's results, then calls this.
    virtual void runDone(bool res);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);
};
