#include "testtasks.h"

#include <gtest/gtest.h>

namespace {

TEST(TaskSpecification, FinishReportsFullWeightBeforeFinished)
{
    for (qreal weight : {1.0, 0.4, 0.0}) {
        SCOPED_TRACE(weight);
        LeafTask task(QStringLiteral("t"), LeafTask::Manual, nullptr, weight);
        SignalLog log(&task);
        task.execute();
        task.progress(0.5);
        task.progress(0.25); // progress may go back; finishing still fills it
        task.finish();
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED);
        EXPECT_DOUBLE_EQ(task.m_DoneAmount, weight);
        ASSERT_EQ(log.m_Progress.size(), 3);
        EXPECT_DOUBLE_EQ(log.m_Progress[0], 0.5 * weight);
        EXPECT_DOUBLE_EQ(log.m_Progress.last(), weight);
        EXPECT_EQ(log.m_Lines.last(), QStringLiteral("finished"));
        EXPECT_EQ(log.m_Ends, 1);
    }
}

TEST(TaskSpecification, FailureAndCancellationBothEmitCanceled)
{
    LeafTask failed(QStringLiteral("f"), LeafTask::Manual, nullptr, 1);
    LeafTask stopped(QStringLiteral("s"), LeafTask::Manual, nullptr, 1);
    SignalLog failedLog(&failed);
    SignalLog stoppedLog(&stopped);
    failed.execute();
    stopped.execute();
    failed.fail(QStringLiteral("disk full"));
    stopped.stop();
    EXPECT_EQ(failedLog.m_Lines,
              (QStringList{QStringLiteral("error:disk full"), QStringLiteral("canceled:3")}));
    EXPECT_EQ(stoppedLog.m_Lines, QStringList{QStringLiteral("canceled:4")});
    EXPECT_TRUE(failedLog.m_Progress.isEmpty());
}

TEST(TaskSpecification, OtherTaskCancelledReachesOnlyARunningTaskAboutAnother)
{
    // A composed parent sends the news to all its children, the failed one
    // included; only running siblings may react.
    LeafTask running(QStringLiteral("running"), LeafTask::Manual, nullptr, 1);
    LeafTask idle(QStringLiteral("idle"), LeafTask::Manual, nullptr, 1);
    LeafTask ended(QStringLiteral("ended"), LeafTask::FailAtOnce, nullptr, 1);
    LeafTask other(QStringLiteral("other"), LeafTask::Manual, nullptr, 1);
    running.execute();
    ended.execute();
    for (LeafTask *task : {&running, &idle, &ended}) {
        QObject::connect(&other, SIGNAL(otherTaskCancelled(TaskSpecification *)), task,
                         SLOT(onOtherTaskCancelled(TaskSpecification *)));
        QObject::connect(task, SIGNAL(otherTaskCancelled(TaskSpecification *)), task,
                         SLOT(onOtherTaskCancelled(TaskSpecification *)));
    }
    emit other.otherTaskCancelled(&other);
    for (LeafTask *task : {&running, &idle, &ended})
        emit task->otherTaskCancelled(task); // about itself: no effect
    EXPECT_EQ(running.m_OtherCancelledCount, 1);
    EXPECT_EQ(running.m_LastOther, &other);
    EXPECT_EQ(idle.m_OtherCancelledCount, 0);
    EXPECT_EQ(ended.m_OtherCancelledCount, 0);
}

TEST(TaskSpecification, ResetReturnsToIdleAndReportsZero)
{
    LeafTask task(QStringLiteral("t"), LeafTask::FailAtOnce, nullptr, 0.7);
    task.execute();
    task.cancel();
    task.progress(0.5);
    SignalLog log(&task);
    task.reset();
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_FALSE(task.m_CancelRequested);
    EXPECT_EQ(task.m_DoneAmount, 0);
    EXPECT_EQ(log.m_Lines, QStringList{QStringLiteral("progress:0")});
}

TEST(TaskSpecification, BaseDownloadStatusIsZero)
{
    class Plain : public TaskSpecification
    {
    public:
        using TaskSpecification::TaskSpecification;
        void execute() override {}
    } task(nullptr, 1);
    quint64 done = 5, total = 6, since = 7;
    bool downloading = true;
    task.getDownloadStatus(done, total, since, downloading);
    EXPECT_EQ(done + total + since, 0u);
    EXPECT_FALSE(downloading);
}

} // namespace
