#include "asynctaskspecification.h"

#include <QThread>
#include <QThreadPool>

// ThreadSanitizer cannot see the hand-over of a runnable to a pool thread:
// Qt's thread pool queues it under a futex-based QMutex inside the
// uninstrumented Qt library. Everything the work object holds was written on
// the main thread before the hand-over, so the edge is marked here; the way
// back (queued events) is seen through the event dispatcher's wake-up fd.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QVX_THREAD_SANITIZER
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(QVX_THREAD_SANITIZER)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
static void markHandOver(void *object)
{
    __tsan_release(object);
}
static void acceptHandOver(void *object)
{
    __tsan_acquire(object);
}
#else
static void markHandOver(void *) {}
static void acceptHandOver(void *) {}
#endif

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
    acceptHandOver(this);
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
    auto *run = new ASyncRun(func);
    markHandOver(run);
    QThreadPool::globalInstance()->start(run, 0);
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
