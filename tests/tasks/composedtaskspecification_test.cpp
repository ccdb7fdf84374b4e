#include "testtasks.h"

#include <gtest/gtest.h>

#include <QPointer>

namespace {

class ComposedTask : public ::testing::Test
{
protected:
    void SetUp() override { TaskProbe::clear(); }
    void TearDown() override { drainEvents(); } // let deleteLater run
};

TEST_F(ComposedTask, EmptyGroupFinishesInsideExecute)
{
    GroupTask group(1, nullptr, 0.5);
    SignalLog log(&group);
    group.execute();
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(log.m_Lines.last(), QStringLiteral("finished"));
    EXPECT_EQ(group.m_DoneCount, 1);
    drainEvents();
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
}

// Children that end only when the test says so: at each step the oldest
// running child finishes, and the number running at once is observed.
class ParallelLimit : public ComposedTask, public ::testing::WithParamInterface<int>
{
};

TEST_P(ParallelLimit, StartsInOrderAndNeverExceedsTheLimit)
{
    const int limit = GetParam();
    GroupTask group(limit, nullptr, 1);
    SignalLog log(&group);
    QList<LeafTask *> leaves;
    QStringList names;
    for (int i = 0; i < 5; ++i) {
        names.append(QString::number(i));
        leaves.append(group.addLeaf(names.last(), LeafTask::Manual, 0.2));
    }
    group.execute();
    EXPECT_EQ(TaskProbe::running, 0) << "children start from the event loop";
    for (int step = 0; step < 5; ++step) {
        drainEvents();
        ASSERT_EQ(group.running().size(), qMin(limit, 5 - step));
        static_cast<LeafTask *>(group.running().first())->finish();
    }
    drainEvents();
    EXPECT_EQ(TaskProbe::maxRunning, qMin(limit, 5));
    EXPECT_EQ(TaskProbe::startOrder, names);
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
    EXPECT_NEAR(group.m_DoneAmount, 1.0, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Limits, ParallelLimit, ::testing::Values(1, 2, 3, 7));

TEST_F(ComposedTask, ChildrenEndingInsideExecuteAreStartedFromTheEventLoop)
{
    // Each child finishes inside its own execute(); starting the next one
    // directly from the finished handler would nest every start in the
    // previous child's emission.
    GroupTask group(2, nullptr, 1);
    SignalLog log(&group);
    for (int i = 0; i < 6; ++i)
        group.addLeaf(QString::number(i), LeafTask::FinishAtOnce, 1.0 / 6);
    group.execute();
    drainEvents();
    EXPECT_EQ(TaskProbe::startOrder.size(), 6);
    EXPECT_EQ(TaskProbe::executesInsideFinished, 0);
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
}

struct SecondChildEnd
{
    LeafTask::Behaviour behaviour;
    TaskSpecification::TaskState groupState;
};

class SecondOfThree : public ComposedTask, public ::testing::WithParamInterface<SecondChildEnd>
{
};

TEST_P(SecondOfThree, StopsTheGroupAndTheThirdNeverStarts)
{
    GroupTask group(1, nullptr, 1);
    SignalLog log(&group);
    LeafTask *first = group.addLeaf(QStringLiteral("1"), LeafTask::FinishAtOnce, 0.3);
    LeafTask *second = group.addLeaf(QStringLiteral("2"), GetParam().behaviour, 0.3);
    LeafTask *third = group.addLeaf(QStringLiteral("3"), LeafTask::FinishAtOnce, 0.4);
    TaskSpecification::TaskState secondStateAtGroupEnd = TaskSpecification::TASK_IDLE;
    QObject::connect(&group, &TaskSpecification::canceled,
                     [&](TaskSpecification *) { secondStateAtGroupEnd = second->m_TaskState; });
    group.execute();
    drainEvents();
    EXPECT_EQ(first->m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_NE(secondStateAtGroupEnd, TaskSpecification::TASK_RUNNING);
    EXPECT_EQ(third->m_ExecuteCount, 0);
    EXPECT_EQ(third->m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_EQ(group.m_TaskState, GetParam().groupState);
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
    EXPECT_EQ(log.m_Lines.last(), QStringLiteral("canceled:%1").arg(int(GetParam().groupState)));
    if (GetParam().behaviour == LeafTask::FailAtOnce) {
        EXPECT_TRUE(log.m_Lines.contains(QStringLiteral("error:2 failed")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, SecondOfThree,
    ::testing::Values(SecondChildEnd{LeafTask::FailAtOnce, TaskSpecification::TASK_FAILED},
                      SecondChildEnd{LeafTask::CancelAtOnce, TaskSpecification::TASK_CANCELED}));

TEST_F(ComposedTask, ParallelFailureTellsTheSiblingOnceAndWaitsForIt)
{
    GroupTask group(2, nullptr, 1);
    SignalLog log(&group);
    LeafTask *a = group.addLeaf(QStringLiteral("a"), LeafTask::Manual, 0.3);
    LeafTask *b = group.addLeaf(QStringLiteral("b"), LeafTask::Manual, 0.3);
    LeafTask *c = group.addLeaf(QStringLiteral("c"), LeafTask::Manual, 0.4);
    group.execute();
    drainEvents();
    ASSERT_EQ(group.running().size(), 2);

    a->fail(QStringLiteral("a broke"));
    drainEvents();
    EXPECT_EQ(b->m_OtherCancelledCount, 1);
    EXPECT_EQ(b->m_LastOther, a);
    EXPECT_EQ(a->m_OtherCancelledCount, 0);
    EXPECT_EQ(log.m_Ends, 0) << "the group must wait for b";
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_RUNNING);
    EXPECT_EQ(c->m_ExecuteCount, 0);

    b->finish();
    drainEvents();
    EXPECT_EQ(c->m_ExecuteCount, 0);
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
    EXPECT_EQ(b->m_OtherCancelledCount, 1);
}

TEST_F(ComposedTask, FailureNewsTravelsDownIntoRunningSubgroups)
{
    GroupTask root(2, nullptr, 1);
    auto *sub = new GroupTask(1, &root, 0.5);
    root.add(sub);
    LeafTask *deep = sub->addLeaf(QStringLiteral("deep"), LeafTask::Manual, 1);
    LeafTask *failing = root.addLeaf(QStringLiteral("failing"), LeafTask::Manual, 0.5);
    root.execute();
    drainEvents();
    ASSERT_EQ(deep->m_TaskState, TaskSpecification::TASK_RUNNING);
    failing->fail();
    drainEvents();
    EXPECT_EQ(deep->m_OtherCancelledCount, 1);
    EXPECT_EQ(deep->m_LastOther, failing);
    deep->stop(); // reacts to the news by stopping
    drainEvents();
    EXPECT_EQ(sub->m_TaskState, TaskSpecification::TASK_CANCELED);
    EXPECT_EQ(root.m_TaskState, TaskSpecification::TASK_FAILED);
}

TEST_F(ComposedTask, CancelOnAnIdleGroupOnlyMarksIt)
{
    GroupTask group(1, nullptr, 1);
    LeafTask *child = group.addLeaf(QStringLiteral("c"), LeafTask::Manual, 1);
    child->m_StopOnCancel = true;
    group.cancel();
    EXPECT_TRUE(group.m_CancelRequested);
    EXPECT_FALSE(child->m_CancelRequested);
    EXPECT_EQ(child->m_TaskState, TaskSpecification::TASK_IDLE);
}

// A running group is cancelled while its first child runs and the second is
// pending; the running child either stops at once or (like work on a worker
// thread) runs to its end.
class CancelRunning : public ComposedTask, public ::testing::WithParamInterface<bool>
{
};

TEST_P(CancelRunning, EndsCanceledOnceTheRunningChildHasEnded)
{
    const bool stopsAtOnce = GetParam();
    GroupTask group(1, nullptr, 1);
    SignalLog log(&group);
    LeafTask *running = group.addLeaf(QStringLiteral("running"), LeafTask::Manual, 0.5);
    LeafTask *pending = group.addLeaf(QStringLiteral("pending"), LeafTask::Manual, 0.5);
    running->m_StopOnCancel = stopsAtOnce;
    group.execute();
    drainEvents();
    ASSERT_EQ(running->m_TaskState, TaskSpecification::TASK_RUNNING);

    group.cancel();
    EXPECT_TRUE(running->m_CancelRequested);
    EXPECT_TRUE(pending->m_CancelRequested);
    if (!stopsAtOnce) {
        drainEvents();
        EXPECT_EQ(log.m_Ends, 0) << "a working child is never abandoned";
        running->finish();
    }
    drainEvents();
    EXPECT_EQ(pending->m_ExecuteCount, 0);
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_CANCELED);
    EXPECT_EQ(log.m_Ends, 1);
    EXPECT_EQ(group.m_DoneCount, 1);
}

INSTANTIATE_TEST_SUITE_P(StopsAtOnce, CancelRunning, ::testing::Bool());

TEST_F(ComposedTask, PendingChildThatEndsOnCancelIsNeverStarted)
{
    // A child that aborts inside cancel() even before it was started (as a
    // transfer can) leaves the pending list.
    GroupTask group(1, nullptr, 1);
    LeafTask *running = group.addLeaf(QStringLiteral("running"), LeafTask::Manual, 0.5);
    LeafTask *pending = group.addLeaf(QStringLiteral("pending"), LeafTask::Manual, 0.5);
    pending->m_StopOnCancel = true;
    group.execute();
    drainEvents();
    group.cancel();
    EXPECT_TRUE(group.pending().isEmpty());
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_RUNNING);
    running->finish();
    drainEvents();
    EXPECT_EQ(pending->m_ExecuteCount, 0);
    EXPECT_EQ(group.completed().size(), 2);
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_CANCELED);
}

TEST_F(ComposedTask, ProgressIsTheWeightedSumOfTheChildren)
{
    GroupTask group(1, nullptr, 0.4);
    SignalLog log(&group);
    LeafTask *first = group.addLeaf(QStringLiteral("1"), LeafTask::Manual, 0.5);
    LeafTask *second = group.addLeaf(QStringLiteral("2"), LeafTask::Manual, 0.3);
    group.addLeaf(QStringLiteral("3"), LeafTask::Manual, 0.2);
    group.execute();
    drainEvents();
    first->finish();
    drainEvents();
    second->progress(0.5);
    ASSERT_FALSE(log.m_Progress.isEmpty());
    EXPECT_NEAR(log.m_Progress.last(), 0.4 * (0.5 + 0.15), 1e-12);
    EXPECT_NEAR(group.m_DoneAmount, 0.26, 1e-12);
}

TEST_F(ComposedTask, ChildOfWeightZeroAddsNoProgress)
{
    GroupTask group(1, nullptr, 1);
    LeafTask *zero = group.addLeaf(QStringLiteral("zero"), LeafTask::Manual, 0);
    group.addLeaf(QStringLiteral("other"), LeafTask::Manual, 1);
    group.execute();
    drainEvents();
    zero->progress(0.9);
    EXPECT_EQ(group.m_DoneAmount, 0);
    zero->finish();
    EXPECT_EQ(group.m_DoneAmount, 0);
}

TEST_F(ComposedTask, DownloadStatusSumsOnlyChildrenWithAKnownTotal)
{
    struct Row
    {
        quint64 done, total, since;
        bool downloading;
    };
    GroupTask root(1, nullptr, 1);
    auto *sub = new GroupTask(1, &root, 1);
    root.add(sub);
    const Row rows[] = {
        {10, 100, 5, false}, // counts fully
        {7, 0, 3, true},     // total unknown: only its speed and flag count
        {50, 50, 0, false},  // done
    };
    for (const Row &row : rows) {
        LeafTask *leaf = sub->addLeaf(QStringLiteral("d"), LeafTask::Manual, 0.1);
        leaf->m_BytesDone = row.done;
        leaf->m_BytesTotal = row.total;
        leaf->m_BytesSinceLastPoll = row.since;
        leaf->m_Downloading = row.downloading;
    }
    LeafTask *direct = root.addLeaf(QStringLiteral("direct"), LeafTask::Manual, 0.1);
    direct->m_BytesDone = 1;
    direct->m_BytesTotal = 2;

    // The counters are added to: the caller zeroes them.
    quint64 done = 1000, total = 1000, since = 1000;
    bool downloading = false;
    root.getDownloadStatus(done, total, since, downloading);
    EXPECT_EQ(done, 1000u + 60 + 1);
    EXPECT_EQ(total, 1000u + 150 + 2);
    EXPECT_EQ(since, 1000u + 8);
    EXPECT_TRUE(downloading);

    sub->findChildren<LeafTask *>()[1]->m_Downloading = false;
    downloading = true;
    root.getDownloadStatus(done, total, since, downloading);
    EXPECT_FALSE(downloading);
}

TEST_F(ComposedTask, SecondBatchStartedFromSubtasksDoneRunsAndEndsTheGroup)
{
    GroupTask group(2, nullptr, 1);
    SignalLog log(&group);
    group.addLeaf(QStringLiteral("a"), LeafTask::FinishAtOnce, 0.2);
    group.addLeaf(QStringLiteral("b"), LeafTask::FinishAtOnce, 0.2);
    QList<LeafTask *> batch;
    for (const char *name : {"c", "d", "e"}) {
        batch.append(new LeafTask(QLatin1String(name), LeafTask::Manual, &group, 0.2));
        group.m_SecondBatch.append(batch.last());
    }
    group.execute();
    drainEvents();
    // a and b each queued one start when they finished; the first ended the
    // batch, the second is left over and must not break the limit.
    while (!group.running().isEmpty()) {
        EXPECT_LE(group.running().size(), 2);
        static_cast<LeafTask *>(group.running().first())->finish();
        drainEvents();
    }
    EXPECT_EQ(TaskProbe::startOrder.join(QString()), QStringLiteral("abcde"));
    EXPECT_LE(TaskProbe::maxRunning, 2);
    EXPECT_EQ(group.m_DoneCount, 2); // once per batch
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(log.m_Ends, 1);
}

TEST_F(ComposedTask, ResetMakesTheGroupRunnableAgain)
{
    GroupTask group(1, nullptr, 1);
    SignalLog log(&group);
    LeafTask *child = group.addLeaf(QStringLiteral("c"), LeafTask::FailAtOnce, 1);
    group.execute();
    drainEvents();
    ASSERT_EQ(group.m_TaskState, TaskSpecification::TASK_FAILED);

    group.reset();
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_EQ(child->m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_EQ(log.m_Progress.last(), 0);
    child->m_Behaviour = LeafTask::FinishAtOnce;
    group.execute();
    drainEvents();
    EXPECT_EQ(group.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(log.m_Ends, 2);
    EXPECT_EQ(group.m_DoneCount, 2);
}

TEST_F(ComposedTask, DiscardedChildrenNoLongerReachTheGroup)
{
    // What a subclass reset does: the children are let go with deleteLater,
    // and whatever they still emit until then must not reach the group.
    GroupTask group(1, nullptr, 1);
    SignalLog log(&group);
    LeafTask *leaf = group.addLeaf(QStringLiteral("old"), LeafTask::Manual, 1);
    group.execute();
    drainEvents();
    QPointer<LeafTask> watch(leaf);
    group.discard();
    log.m_Progress.clear();
    leaf->progress(0.5);
    leaf->finish();
    drainEvents();
    EXPECT_TRUE(watch.isNull());
    EXPECT_EQ(log.m_Ends, 0);
    EXPECT_TRUE(log.m_Progress.isEmpty());
    EXPECT_TRUE(group.completed().isEmpty());
}

} // namespace
