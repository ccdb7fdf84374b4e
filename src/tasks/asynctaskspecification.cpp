#include "asynctaskspecification.h"

#include <QThread>
#include <QThreadPool>

ASyncFunc::ASyncFunc() = default;

ASyncFunc::~ASyncFunc() = default;

ASyncRun::ASyncRun(ASyncFunc *func)
    : m_Func(func)
{
    setAutoDelete(true);
}

ASyncRun::~ASyncRun()
{
    delete m_Func;
}

void ASyncRun::run()
{
    // The work object was let go by the main thread (no thread affinity);
    // adopting it here makes the thread that uses and deletes it its owner.
    m_Func->moveToThread(QThread::currentThread());
    const bool res = m_Func->run();
    emit m_Func->runResult(res);
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
{
}

ASyncTaskSpecification::~ASyncTaskSpecification() = default;

void ASyncTaskSpecification::execute()
{
    ASyncFunc *func = createFunc();
    connectFunc(func);
    func->moveToThread(nullptr);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    // The result is queued, so it cannot arrive before this state is set.
    m_TaskState = TASK_RUNNING;
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
}

void ASyncTaskSpecification::connectFunc(ASyncFunc *func)
{
    connect(func, SIGNAL(runResult(bool)), this, SLOT(onRunResult(bool)), Qt::QueuedConnection);
    connect(func, SIGNAL(message(QString)), this, SIGNAL(message(QString)), Qt::QueuedConnection);
    connect(func, SIGNAL(error(QString)), this, SIGNAL(error(QString)), Qt::QueuedConnection);
    connect(func, SIGNAL(progress(qreal)), this, SLOT(onProgress(qreal)), Qt::QueuedConnection);
}

void ASyncTaskSpecification::runDone(bool res)
{
    if (m_TaskState != TASK_RUNNING)
        return;
    if (res)
        setFinished();
    else
        setFailed();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal progress)
{
    // Late progress of a task that already ended (or was reset) would move
    // its parent's bar backwards.
    if (m_TaskState != TASK_RUNNING)
        return;
    setProgress(progress);
}
