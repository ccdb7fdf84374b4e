#include "tasks/asynctaskspecification.h"
#include "testtasks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace {

// What the work objects observed, shared with the test across threads.
struct WorkRecord
{
    std::atomic<int> runs{0};
    std::atomic<int> deleted{0};
    std::atomic<int> ranOnMainThread{0};
    std::atomic<int> deletedByAnotherThread{0};
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
};

struct Script
{
    QStringList messages;  // emitted in order, each followed by its progress
    QList<qreal> progress; // one entry per message
    QString errorText;     // emitted before a false result
    bool result = true;
    std::shared_ptr<QSemaphore> gate; // run() waits for one permit when set
};

// A work object that plays a script: messages and progress, then a result.
class ScriptFunc : public ASyncFunc
{
public:
    ScriptFunc(const Script &script, std::shared_ptr<WorkRecord> record, QThread *mainThread)
        : m_Script(script)
        , m_Record(std::move(record))
        , m_MainThread(mainThread)
    {
    }
    ~ScriptFunc() override
    {
        if (thread() != QThread::currentThread())
            ++m_Record->deletedByAnotherThread;
        ++m_Record->deleted;
    }

    bool run() override
    {
        const int now = ++m_Record->running;
        int seen = m_Record->maxRunning.load();
        while (now > seen && !m_Record->maxRunning.compare_exchange_weak(seen, now)) {
        }
        ++m_Record->runs;
        if (QThread::currentThread() == m_MainThread)
            ++m_Record->ranOnMainThread;
        if (m_Script.gate)
            m_Script.gate->acquire();
        for (int i = 0; i < m_Script.messages.size(); ++i) {
            emit message(m_Script.messages[i]);
            if (i < m_Script.progress.size())
                emit progress(m_Script.progress[i]);
        }
        if (!m_Script.errorText.isEmpty())
            emit error(m_Script.errorText);
        --m_Record->running;
        return m_Script.result;
    }

private:
    Script m_Script;
    std::shared_ptr<WorkRecord> m_Record;
    QThread *m_MainThread;
};

class ScriptTask : public ASyncTaskSpecification
{
public:
    ScriptTask(const Script &script, std::shared_ptr<WorkRecord> record, QObject *parent,
               qreal weight)
        : ASyncTaskSpecification(parent, weight)
        , m_Script(script)
        , m_Record(std::move(record))
    {
    }

    void abandon() { setCanceled(); }
    int m_RunDoneCalls = 0;
    int m_RunDoneOffMainThread = 0;

protected:
    ASyncFunc *createFunc() override
    {
        return new ScriptFunc(m_Script, m_Record, QCoreApplication::instance()->thread());
    }
    void runDone(bool res) override
    {
        ++m_RunDoneCalls;
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++m_RunDoneOffMainThread;
        ASyncTaskSpecification::runDone(res);
    }

private:
    Script m_Script;
    std::shared_ptr<WorkRecord> m_Record;
};

class ASyncTask : public ::testing::Test
{
protected:
    void SetUp() override { TaskProbe::clear(); }
    void TearDown() override
    {
        QThreadPool::globalInstance()->waitForDone();
        drainEvents();
        EXPECT_EQ(m_Record->ranOnMainThread, 0);
        EXPECT_EQ(m_Record->deletedByAnotherThread, 0);
        EXPECT_EQ(m_Record->deleted.load(), m_Record->runs.load());
    }
    // Sleeps in the event loop until done() holds; the workers' queued
    // signals wake it up.
    static bool waitFor(const std::function<bool()> &done)
    {
        QTimer wakeUp; // bounds each sleep, so the time limit is checked
        wakeUp.start(50);
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        while (!done()) {
            if (clock.hasExpired(10000))
                return false;
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    std::shared_ptr<WorkRecord> m_Record = std::make_shared<WorkRecord>();
};

class ASyncResult : public ASyncTask, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ASyncResult, WorkerSignalsArriveInOrderBeforeTheResult)
{
    const bool ok = GetParam();
    Script script;
    script.messages =
        QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")};
    script.progress = {0.25, 0.5, 1.0};
    script.result = ok;
    if (!ok)
        script.errorText = QStringLiteral("it broke");
    ScriptTask task(script, m_Record, nullptr, 0.4);
    SignalLog log(&task);
    task.execute();
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_RUNNING);
    EXPECT_TRUE(log.m_Lines.isEmpty()) << "nothing arrives before the event loop runs";
    ASSERT_TRUE(waitFor([&] { return log.m_Ends > 0; }));

    QStringList expected{QStringLiteral("message:one"),   QStringLiteral("progress:0.1"),
                         QStringLiteral("message:two"),   QStringLiteral("progress:0.2"),
                         QStringLiteral("message:three"), QStringLiteral("progress:0.4")};
    if (ok) {
        expected << QStringLiteral("progress:0.4") << QStringLiteral("finished");
    } else {
        expected << QStringLiteral("error:it broke") << QStringLiteral("canceled:3");
    }
    EXPECT_EQ(log.m_Lines, expected);
    EXPECT_EQ(task.m_TaskState,
              ok ? TaskSpecification::TASK_FINISHED : TaskSpecification::TASK_FAILED);
    EXPECT_EQ(task.m_RunDoneOffMainThread, 0);
}

INSTANTIATE_TEST_SUITE_P(Result, ASyncResult, ::testing::Bool());

TEST_F(ASyncTask, SilentWorkStillEndsTheTask)
{
    ScriptTask task(Script{}, m_Record, nullptr, 0.3);
    SignalLog log(&task);
    task.execute();
    ASSERT_TRUE(waitFor([&] { return log.m_Ends > 0; }));
    EXPECT_EQ(log.m_Lines,
              (QStringList{QStringLiteral("progress:0.3"), QStringLiteral("finished")}));
}

// The task leaves TASK_RUNNING while its work still runs: the late result and
// progress must change nothing.
class LateResult : public ASyncTask, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LateResult, IsIgnored)
{
    const bool byReset = GetParam();
    Script script;
    script.messages = QStringList{QStringLiteral("late")};
    script.progress = {0.5};
    script.gate = std::make_shared<QSemaphore>();
    ScriptTask task(script, m_Record, nullptr, 1);
    SignalLog log(&task);
    task.execute();
    if (byReset) {
        // reset() waits for the pool, so the work must be able to end.
        script.gate->release();
        task.reset();
        EXPECT_EQ(m_Record->deleted, 1);
    } else {
        task.abandon();
        script.gate->release();
    }
    QThreadPool::globalInstance()->waitForDone();
    drainEvents();
    const TaskSpecification::TaskState expected =
        byReset ? TaskSpecification::TASK_IDLE : TaskSpecification::TASK_CANCELED;
    EXPECT_EQ(task.m_TaskState, expected);
    EXPECT_EQ(task.m_DoneAmount, 0);
    EXPECT_EQ(log.m_Ends, byReset ? 0 : 1);
    EXPECT_EQ(task.m_RunDoneCalls, 1);
    EXPECT_FALSE(log.m_Lines.contains(QStringLiteral("finished")));
}

INSTANTIATE_TEST_SUITE_P(LeftBy, LateResult, ::testing::Bool());

TEST_F(ASyncTask, TaskDeletedWhileItsWorkRunsIsNotReached)
{
    Script script;
    script.messages = QStringList{QStringLiteral("to nobody")};
    script.progress = {0.5};
    script.gate = std::make_shared<QSemaphore>();
    auto *task = new ScriptTask(script, m_Record, nullptr, 1);
    task->execute();
    delete task;
    script.gate->release();
    QThreadPool::globalInstance()->waitForDone();
    drainEvents();
    EXPECT_EQ(m_Record->deleted, 1);
}

// Many small jobs through groups with different parallel limits: every task
// ends once, the group once, and no more work runs at once than allowed.
class ASyncGroup : public ASyncTask, public ::testing::WithParamInterface<int>
{
};

TEST_P(ASyncGroup, RunsEveryJobWithinTheLimit)
{
    const int limit = GetParam();
    const int jobs = 40;
    GroupTask group(limit, nullptr, 1);
    SignalLog log(&group);
    QList<ScriptTask *> tasks;
    for (int i = 0; i < jobs; ++i) {
        Script script;
        for (int step = 1; step <= 4; ++step) {
            script.messages << QStringLiteral("%1.%2").arg(i).arg(step);
            script.progress << step / 4.0;
        }
        tasks << new ScriptTask(script, m_Record, &group, 1.0 / jobs);
        group.add(tasks.last());
    }
    group.execute();
    ASSERT_TRUE(waitFor([&] { return log.m_Ends > 0; }));
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_NEAR(group.m_DoneAmount, 1.0, 1e-9);
    EXPECT_LE(m_Record->maxRunning.load(), limit);
    EXPECT_EQ(m_Record->runs, jobs);
    // Each task's lines arrive in the order its work emitted them.
    QStringList messages;
    for (const QString &line : qAsConst(log.m_Lines)) {
        if (line.startsWith(QStringLiteral("message:")))
            messages << line.mid(8);
    }
    ASSERT_EQ(messages.size(), jobs * 4);
    for (int i = 0; i < jobs; ++i) {
        int last = 0;
        for (const QString &m : qAsConst(messages)) {
            if (m.section(QLatin1Char('.'), 0, 0).toInt() != i)
                continue;
            const int step = m.section(QLatin1Char('.'), 1, 1).toInt();
            EXPECT_EQ(step, last + 1) << i;
            last = step;
        }
    }
    drainEvents();
    EXPECT_EQ(log.m_Ends, 1);
    for (ScriptTask *task : qAsConst(tasks))
        EXPECT_EQ(task->m_RunDoneCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(Limits, ASyncGroup, ::testing::Values(1, 2, 8));

TEST_F(ASyncTask, CancelledGroupWaitsForRunningWork)
{
    auto gate = std::make_shared<QSemaphore>();
    GroupTask group(2, nullptr, 1);
    SignalLog log(&group);
    QList<ScriptTask *> tasks;
    for (int i = 0; i < 4; ++i) {
        Script script;
        script.gate = gate;
        tasks << new ScriptTask(script, m_Record, &group, 0.25);
        group.add(tasks.last());
    }
    group.execute();
    ASSERT_TRUE(waitFor([&] { return m_Record->runs == 2; }));
    group.cancel();
    QTest::qWait(20);
    EXPECT_EQ(log.m_Ends, 0) << "work still runs";
    gate->release(4);
    ASSERT_TRUE(waitFor([&] { return log.m_Ends > 0; }));
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_CANCELED);
    EXPECT_EQ(tasks[0]->m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(tasks[1]->m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(tasks[2]->m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_EQ(tasks[3]->m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_EQ(m_Record->runs, 2);
}

} // namespace
