// The real update executable, started as a user would start it.
#include "qtprinters.h"
#include "testsandbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A copy of the update executable in an installation directory of its own,
// with a temporary directory (where the log and the instance socket live) and
// a home directory for the runs of this test.
class Installation
{
public:
    explicit Installation(const QString &tempDir)
        : m_TempDir(tempDir)
    {
        m_Exe = m_Dir.path() + QStringLiteral("/update");
        QFile::copy(TestSandbox::updateExecutable(), m_Exe);
    }

    std::unique_ptr<QProcess> start(const QStringList &args,
                                    const QString &home = TestSandbox::home()) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_TempDir);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (m_AnswerBoxes) {
            // The window reports a rejected command line in a box before
            // the program ends; the preloaded answerer closes it.
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QVX_BOXANSWERER_PRELOAD));
            env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
        }
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(m_Exe, args);
        process->waitForStarted();
        return process;
    }

    bool isValid() const { return QFile::exists(m_Exe); }
    void answerBoxes() { m_AnswerBoxes = true; }

private:
    QTemporaryDir m_Dir;
    QString m_TempDir;
    QString m_Exe;
    bool m_AnswerBoxes = false;
};

class UpdateProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestSandbox::updateExecutable().isEmpty());
        ASSERT_TRUE(m_Temp.isValid());
        // The marker turns logging on for every run below.
        ASSERT_TRUE(TestSandbox::writeFile(m_Temp.path() + QStringLiteral("/qvx_update_log"), {}));
    }

    QString logDir() const { return m_Temp.path() + QStringLiteral("/quorvex_update_log"); }

    // The text of every log file, newest first.
    QList<QByteArray> logs() const
    {
        QList<QByteArray> texts;
        const QDir dir(logDir());
        for (const QString &name : dir.entryList(QDir::Files, QDir::Time))
            texts << TestSandbox::readFile(dir.filePath(name));
        return texts;
    }

    // Waits until some log holds the text; returns that log.
    QByteArray waitForLog(const QByteArray &text, int timeoutMs = 15000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QByteArray &log : logs()) {
                if (log.contains(text))
                    return log;
            }
            QThread::msleep(50);
        }
        return {};
    }

    // Log files are named to the second; a run that must not share the file of
    // the previous one starts in the next second.
    static void waitForNextSecond()
    {
        const int second = QTime::currentTime().second();
        while (QTime::currentTime().second() == second)
            QThread::msleep(10);
    }

    static void stop(QProcess &process)
    {
        process.kill();
        process.waitForFinished(5000);
    }

    QTemporaryDir m_Temp;
};

TEST_F(UpdateProcessTest, RejectedCommandLineExitsWithOne)
{
    Installation installation(m_Temp.path());
    ASSERT_TRUE(installation.isValid());
    installation.answerBoxes();
    auto process = installation.start({QStringLiteral("client_linux_x86"), QStringLiteral("abc")});
    ASSERT_TRUE(process->waitForFinished(15000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 1);

    const QList<QByteArray> texts = logs();
    ASSERT_EQ(texts.size(), 1);
    const QByteArray &log = texts.first();
    EXPECT_TRUE(log.contains("\t|\tDebug\t|\tQuorvex updater started\n")) << log.constData();
    EXPECT_TRUE(log.contains("\t|\tWarning\t|\tFailed to parse command line options, aborting\n"))
        << log.constData();
}

TEST_F(UpdateProcessTest, NothingIsLoggedWithoutTheMarker)
{
    QFile::remove(m_Temp.path() + QStringLiteral("/qvx_update_log"));
    Installation installation(m_Temp.path());
    installation.answerBoxes();
    auto process = installation.start({QStringLiteral("client_linux_x86"), QStringLiteral("abc")});
    ASSERT_TRUE(process->waitForFinished(15000));
    EXPECT_EQ(process->exitCode(), 1);
    EXPECT_FALSE(QFile::exists(logDir()));
    EXPECT_TRUE(process->readAllStandardOutput().isEmpty());
}

TEST_F(UpdateProcessTest, OneUpdaterPerInstallationAndUser)
{
    Installation installation(m_Temp.path());
    Installation otherInstallation(m_Temp.path());
    ASSERT_TRUE(installation.isValid() && otherInstallation.isValid());

    auto first = installation.start({});
    // It listens before it reads its command line.
    const QByteArray firstLog = waitForLog("Empty cmdline params");
    ASSERT_FALSE(firstLog.isEmpty());

    waitForNextSecond();
    auto second = installation.start({});
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    const QByteArray secondLog = waitForLog("Detected other instance running, aborting");
    EXPECT_FALSE(secondLog.isEmpty());
    EXPECT_FALSE(secondLog.contains("parseCommandLineOptions"));
    EXPECT_FALSE(waitForLog("otherInstanceActivate \"#\"").isEmpty());
    EXPECT_EQ(first->state(), QProcess::Running);

    // Another installation, and the same one for another user, run on their own.
    QTemporaryDir otherHome;
    for (const bool otherUser : {false, true}) {
        SCOPED_TRACE(otherUser ? "other user" : "other installation");
        waitForNextSecond();
        auto independent =
            otherUser ? installation.start({}, otherHome.path()) : otherInstallation.start({});
        EXPECT_FALSE(independent->waitForFinished(3000));
        EXPECT_EQ(independent->state(), QProcess::Running);
        stop(*independent);
    }
    stop(*first);
}

} // namespace
