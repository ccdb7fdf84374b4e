// The download task against real servers on loopback: nginx for the plain
// transfer, FaultyHttpServer for everything a server can do wrong.
#include "faultyhttpserver.h"
#include "manifest/downloadtaskspecification.h"
#include "nginxserver.h"
#include "shell/appglobals.h"
#include "testsandbox.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

constexpr qreal weight = 0.5;
constexpr int version = 7;

// Records every signal of a task in order, as one readable line each.
struct TaskLog : QObject
{
    explicit TaskLog(TaskSpecification *task)
    {
        connect(task, &TaskSpecification::message, this,
                [this](const QString &text) { lines << QStringLiteral("message: ") + text; });
        connect(task, &TaskSpecification::error, this,
                [this](const QString &text) { lines << QStringLiteral("error: ") + text; });
        connect(task, &TaskSpecification::finished, this, [this]() {
            lines << QStringLiteral("finished");
            ++ends;
        });
        connect(task, &TaskSpecification::canceled, this, [this]() {
            lines << QStringLiteral("canceled");
            ++ends;
        });
        connect(task, &TaskSpecification::updateProgress, this,
                [this](qreal value) { progress << value; });
    }
    QStringList lines;
    QList<qreal> progress;
    int ends = 0;
};

struct Status
{
    quint64 done = 0, total = 0, sinceLast = 0;
    bool downloading = false;
};

Status poll(TaskSpecification *task)
{
    Status s;
    task->getDownloadStatus(s.done, s.total, s.sinceLast, s.downloading);
    return s;
}

class DownloadTaskTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_Dir.isValid()); }
    void TearDown() override { AppGlobals::setChannelBaseUrl(QString()); }

    DownloadTaskSpecification *makeTask(const QString &fileName, qint64 expectedSize = -1)
    {
        m_LocalPath = m_Dir.filePath(QStringLiteral("download.bin"));
        auto *task = new DownloadTaskSpecification(&m_Manager, fileName, version, m_LocalPath,
                                                   expectedSize, &m_Owner, weight);
        m_Log.reset(new TaskLog(task));
        return task;
    }
    bool waitForEnd(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([this]() { return m_Log->ends > 0; }, timeoutMs);
    }

    QTemporaryDir m_Dir;
    QNetworkAccessManager m_Manager;
    QObject m_Owner;
    QString m_LocalPath;
    std::unique_ptr<TaskLog> m_Log;
};

// --- the plain transfer, from nginx -------------------------------------------------------

class NginxDownloadTest : public DownloadTaskTest
{
protected:
    static void SetUpTestSuite()
    {
        s_Root = new QTemporaryDir;
        s_Server = new NginxServer;
        const QString release = s_Root->filePath(QStringLiteral("channel/%1").arg(version));
        QDir().mkpath(release + QStringLiteral("/data"));
        ASSERT_TRUE(TestSandbox::writeFile(release + QStringLiteral("/data/file.bin"),
                                           FaultyHttpServer::body(fileSize)));
        ASSERT_TRUE(s_Server->start(s_Root->path())) << s_Server->errorText().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_Server;
        delete s_Root;
    }
    void SetUp() override
    {
        DownloadTaskTest::SetUp();
        AppGlobals::setChannelBaseUrl(s_Server->url(QStringLiteral("/channel/")));
    }

    static constexpr int fileSize = 3 * 1024 * 1024 + 123;
    static QTemporaryDir *s_Root;
    static NginxServer *s_Server;
};
QTemporaryDir *NginxDownloadTest::s_Root = nullptr;
NginxServer *NginxDownloadTest::s_Server = nullptr;

TEST_F(NginxDownloadTest, DownloadsFileIntoPlace)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("data/file.bin"));
    EXPECT_EQ(task->downloadUrl().toString(),
              s_Server->url(QStringLiteral("/channel/7/data/file.bin")));
    task->execute();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_RUNNING);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(m_Log->lines,
              (QStringList{QStringLiteral("message: Downloading data/file.bin"),
                           QStringLiteral("message: Downloading data/file.bin finished"),
                           QStringLiteral("finished")}));
    EXPECT_TRUE(TestSandbox::readFile(m_LocalPath) == FaultyHttpServer::body(fileSize));
    // Progress never fell and ended at the weight.
    for (int i = 1; i < m_Log->progress.size(); ++i)
        EXPECT_GE(m_Log->progress[i], m_Log->progress[i - 1]);
    EXPECT_DOUBLE_EQ(m_Log->progress.last(), weight);
    const Status s = poll(task);
    EXPECT_EQ(s.done, quint64(fileSize));
    EXPECT_EQ(s.total, quint64(fileSize));
    EXPECT_EQ(s.sinceLast, quint64(fileSize));
    EXPECT_FALSE(s.downloading);
    EXPECT_EQ(poll(task).sinceLast, 0u);
}

TEST_F(NginxDownloadTest, PlannedSizeDrivesProgressAndIsCapped)
{
    // Planned half the real size: progress reaches the weight early and stays there.
    DownloadTaskSpecification *task = makeTask(QStringLiteral("data/file.bin"), fileSize / 2);
    task->execute();
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(task->m_TaskState, TaskSpecification::TASK_FINISHED);
    for (qreal p : qAsConst(m_Log->progress))
        EXPECT_LE(p, weight);
    EXPECT_EQ(poll(task).total, quint64(fileSize / 2));

    // Planned twice the real size: the server's figure never replaces it.
    task = makeTask(QStringLiteral("data/file.bin"), qint64(fileSize) * 2);
    task->execute();
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(task->m_TaskState, TaskSpecification::TASK_FINISHED);
    ASSERT_GE(m_Log->progress.size(), 2);
    EXPECT_NEAR(m_Log->progress[m_Log->progress.size() - 2], weight / 2, 0.001);
    EXPECT_EQ(poll(task).total, quint64(fileSize) * 2);
}

TEST_F(NginxDownloadTest, MissingFileFailsAfterFiveAttempts)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("data/none.bin"));
    task->execute();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(m_Log->lines.count(QStringLiteral("message: data/none.bin returned 404")), 5);
    EXPECT_EQ(m_Log->lines.mid(m_Log->lines.size() - 2),
              (QStringList{QStringLiteral("message: Unable to download data/none.bin"),
                           QStringLiteral("canceled")}));
    EXPECT_FALSE(QFile::exists(m_LocalPath));
}

// --- a server that misbehaves -------------------------------------------------------------

class FaultyDownloadTest : public DownloadTaskTest
{
protected:
    void SetUp() override
    {
        DownloadTaskTest::SetUp();
        ASSERT_TRUE(m_Server.start());
        AppGlobals::setChannelBaseUrl(m_Server.baseUrl());
    }
    FaultyHttpServer m_Server;
};

struct FailingCase
{
    const char *file;
    const char *attemptMessage; // expected on each of the five attempts; empty: any text
    // Qt itself resends a request once when a fresh connection closes without an answer, so
    // the server may see more requests than there were attempts.
    bool exactHits;
};

class FailingServerTest : public FaultyDownloadTest,
                          public ::testing::WithParamInterface<FailingCase>
{
};

const FailingCase failingCases[] = {
    {"notfound.bin", "notfound.bin returned 404", true},
    {"redirect.bin", "redirect.bin returned 302", true},
    {"short.bin", "", true},
    {"close.bin", "", false},
};

TEST_P(FailingServerTest, FiveAttemptsThenFailureWithoutFile)
{
    const QString file = QString::fromLatin1(GetParam().file);
    DownloadTaskSpecification *task = makeTask(file);
    task->execute();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    const int firstRunHits = m_Server.hits(file);
    if (GetParam().exactHits) {
        EXPECT_EQ(firstRunHits, 5);
    } else {
        EXPECT_GE(firstRunHits, 5);
    }
    EXPECT_EQ(m_Server.hits(QStringLiteral("ok.bin")), 0); // redirections are not followed
    // "Downloading", five attempt messages, "Unable to download", canceled.
    ASSERT_EQ(m_Log->lines.size(), 8) << m_Log->lines.join(QLatin1Char('\n')).toStdString();
    for (int i = 1; i <= 5; ++i) {
        if (*GetParam().attemptMessage)
            EXPECT_EQ(m_Log->lines[i],
                      QStringLiteral("message: ") + QLatin1String(GetParam().attemptMessage));
        else
            EXPECT_TRUE(m_Log->lines[i].startsWith(QStringLiteral("message: ")));
    }
    EXPECT_EQ(m_Log->lines[6], QStringLiteral("message: Unable to download ") + file);
    EXPECT_EQ(m_Log->ends, 1);
    EXPECT_FALSE(QFile::exists(m_LocalPath));
    EXPECT_DOUBLE_EQ(m_Log->progress.last(), 0.0);

    // reset restores the whole budget: five more attempts.
    task->reset();
    m_Log->ends = 0;
    task->execute();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    ASSERT_EQ(m_Log->lines.size(), 16);
    EXPECT_EQ(m_Log->lines.count(QStringLiteral("message: Unable to download ") + file), 2);
    if (GetParam().exactHits) {
        EXPECT_EQ(m_Server.hits(file), 10);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingServerTest, ::testing::ValuesIn(failingCases), [](const auto &row) {
        return std::string(row.param.file).substr(0, std::string(row.param.file).find('.'));
    });

TEST_F(FaultyDownloadTest, EmptyBodyGivesEmptyFile)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("empty.bin"));
    task->execute();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_TRUE(QFile::exists(m_LocalPath));
    EXPECT_EQ(QFileInfo(m_LocalPath).size(), 0);
}

TEST_F(FaultyDownloadTest, BodyWithoutLengthHasNoTotalAndNoProgress)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("nolength.bin"));
    task->execute();
    // Poll like the engine while data arrives: no total is ever known.
    QList<Status> polls;
    while (m_Log->ends == 0 && polls.size() < 2000) {
        polls << poll(task);
        QTest::qWait(1);
    }
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FINISHED);
    for (const Status &s : qAsConst(polls))
        EXPECT_EQ(s.total, 0u);
    for (int i = 0; i + 1 < m_Log->progress.size(); ++i)
        EXPECT_DOUBLE_EQ(m_Log->progress[i], 0.0);
    EXPECT_DOUBLE_EQ(m_Log->progress.last(), weight);
    EXPECT_TRUE(TestSandbox::readFile(m_LocalPath) ==
                FaultyHttpServer::body(FaultyHttpServer::bodySize()));
}

TEST_F(FaultyDownloadTest, StalledTransferTimesOutOnSixteenthPoll)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("stall.bin"));
    task->execute();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return QFileInfo(m_LocalPath).size() == 1000; }, 10000));
    QTest::qWait(50);
    Status first = poll(task);
    EXPECT_TRUE(first.downloading);
    EXPECT_EQ(first.done, 1000u);
    EXPECT_EQ(first.sinceLast, 1000u);
    for (int i = 2; i <= 15; ++i) {
        const Status s = poll(task);
        EXPECT_TRUE(s.downloading) << i;
        EXPECT_EQ(s.sinceLast, 0u) << i;
    }
    EXPECT_EQ(m_Server.hits(QStringLiteral("stall.bin")), 1);
    poll(task);
    EXPECT_TRUE(m_Log->lines.contains(QStringLiteral("message: file stall.bin timed out")));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_RUNNING);
    // A new attempt started at once, with the file truncated and progress reset.
    ASSERT_TRUE(
        QTest::qWaitFor([&]() { return m_Server.hits(QStringLiteral("stall.bin")) == 2; }, 10000));
    EXPECT_DOUBLE_EQ(m_Log->progress.contains(0.0), true);

    // Cancel in the middle of the second attempt: no partial file survives.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return QFileInfo(m_LocalPath).size() == 1000; }, 10000));
    task->cancel();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_CANCELED);
    EXPECT_EQ(m_Log->ends, 1);
    EXPECT_EQ(m_Log->lines.last(), QStringLiteral("canceled"));
    EXPECT_FALSE(QFile::exists(m_LocalPath));
    EXPECT_FALSE(poll(task).downloading);
}

TEST_F(FaultyDownloadTest, CancelOfIdleTaskOnlySetsTheFlag)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("ok.bin"));
    task->cancel();
    EXPECT_TRUE(task->m_CancelRequested);
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_IDLE);
    EXPECT_TRUE(m_Log->lines.isEmpty());
    EXPECT_EQ(m_Server.hits(QStringLiteral("ok.bin")), 0);
}

TEST_F(FaultyDownloadTest, SiblingFailureAbortsRunningDownload)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("stall.bin"));
    QObject sibling;
    task->execute();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return QFileInfo(m_LocalPath).size() == 1000; }, 10000));
    TaskSpecification *other = makeTask(QStringLiteral("ok.bin"));
    m_Log.reset(new TaskLog(task));
    ASSERT_TRUE(
        QMetaObject::invokeMethod(task, "onOtherTaskCancelled", Q_ARG(TaskSpecification *, other)));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(m_Log->lines, (QStringList{QStringLiteral("message: Abort downloading stall.bin"),
                                         QStringLiteral("canceled")}));
    EXPECT_FALSE(QFile::exists(m_Dir.filePath(QStringLiteral("download.bin"))));
}

TEST_F(FaultyDownloadTest, UncreatableFileFailsWithoutRequest)
{
    auto *task = new DownloadTaskSpecification(
        &m_Manager, QStringLiteral("ok.bin"), version,
        m_Dir.filePath(QStringLiteral("missing/dir/file.bin")), -1, &m_Owner, weight);
    m_Log.reset(new TaskLog(task));
    task->execute();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(m_Log->lines,
              (QStringList{QStringLiteral("message: Downloading ok.bin"),
                           QStringLiteral("error: Unable to create file %1 for saving")
                               .arg(m_Dir.filePath(QStringLiteral("missing/dir/file.bin"))),
                           QStringLiteral("canceled")}));
    QTest::qWait(50);
    EXPECT_EQ(m_Server.hits(QStringLiteral("ok.bin")), 0);
}

// A full disk, imitated with a file size limit: every attempt fails on write
// and nothing is left behind.
TEST_F(FaultyDownloadTest, FullDiskFailsEveryAttempt)
{
    struct rlimit old
    {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    DownloadTaskSpecification *task = makeTask(QStringLiteral("ok.bin"));
    task->execute();
    const bool ended = waitForEnd();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(ended);
    EXPECT_EQ(task->m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(m_Server.hits(QStringLiteral("ok.bin")), 5);
    EXPECT_EQ(m_Log->lines.size(), 8) << m_Log->lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFile::exists(m_LocalPath));
}

TEST_F(FaultyDownloadTest, DestroyedTaskLeavesNoPartialFile)
{
    DownloadTaskSpecification *task = makeTask(QStringLiteral("stall.bin"));
    task->execute();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return QFileInfo(m_LocalPath).size() == 1000; }, 10000));
    delete task;
    EXPECT_FALSE(QFile::exists(m_LocalPath));
}

} // namespace
