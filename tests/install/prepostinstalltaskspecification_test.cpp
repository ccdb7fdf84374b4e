// Install commands run as real processes: small shell scripts written into T
// the way the download step leaves them (not executable), their arguments,
// exit codes, the restart request and the time limits.

#include "install/prepostinstalllisttaskspecification.h"
#include "install/prepostinstalltaskspecification.h"
#include "installtesthelpers.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

// Stands in for the main window's restart question.
class RebootReceiver : public QObject
{
    Q_OBJECT

public:
    int calls = 0;

public slots:
    void onRebootWithConfirmation() { ++calls; }
};

class InstallCommandTest : public ::testing::Test
{
protected:
    void SetUp() override { m_Config.m_TempDir = m_Temp.path(); }
    void TearDown() override { AppGlobals::setMainWindow(nullptr); }

    void script(const QString &name, const QByteArray &body)
    {
        ASSERT_TRUE(
            writeFile(m_Temp.path() + QLatin1Char('/') + name, "#!/bin/sh\n" + body, mode644));
    }

    QTemporaryDir m_Temp;
    Configuration m_Config;
};

TEST_F(InstallCommandTest, ArgumentsGetTheDoubleDashPrefix)
{
    script(QStringLiteral("args.sh"), "for a in \"$@\"; do echo \"$a\"; done > \"$0.out\"\n");
    for (const QStringList &args :
         {QStringList{QStringLiteral("a"), QStringLiteral("b c")}, QStringList()}) {
        InstallCommandEntry entry{QStringLiteral("args.sh"), args, true};
        PrePostInstallTaskSpecification task(&entry, &m_Config, nullptr, 0.1);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED);
        EXPECT_EQ(run.messageTexts(),
                  (QStringList{QStringLiteral("Starting args.sh"),
                               QStringLiteral("args.sh completed sucessfully")}));
        QByteArray expected;
        for (const QString &arg : args)
            expected += "--" + arg.toUtf8() + "\n";
        EXPECT_EQ(readFile(m_Temp.path() + QStringLiteral("/args.sh.out")), expected);
    }
}

TEST_F(InstallCommandTest, ExitCodesAndOutcomes)
{
    RebootReceiver window;
    AppGlobals::setMainWindow(&window);
    struct Case
    {
        const char *command;
        QByteArray body; // empty: no such program
        bool required;
        bool ok;
        QString line; // after "Starting %1"; %1 is the command
        int reboots;
    };
    const Case cases[] = {
        {"zero.sh", "exit 0\n", true, true, QStringLiteral("%1 completed sucessfully"), 0},
        {"one.sh", "exit 1\n", true, false, QStringLiteral("Failed to complete %1, exit code: 1"),
         0},
        {"one.sh", "exit 1\n", false, true, QStringLiteral("Failed to complete %1, exit code: 1"),
         0},
        {"two.sh", "exit 2\n", true, false, QString(), 0},
        {"two.sh", "exit 2\n", false, true, QString(), 0},
        {"crash.sh", "kill -SEGV $$\n", true, false, QString(), 0},
        // A program's exit(1010) arrives as 1010 modulo 256.
        {"reboot.sh", "exit 1010\n", true, true,
         QStringLiteral("%1 completed sucessfully, reboot required"), 1},
        {"missing", QByteArray(), true, false, QStringLiteral("Failed to start %1: "), 0},
        {"missing", QByteArray(), false, true, QStringLiteral("Failed to start %1: "), 0},
    };
    for (const Case &c : cases) {
        const QString command = QLatin1String(c.command);
        if (!c.body.isEmpty())
            script(command, c.body);
        window.calls = 0;
        InstallCommandEntry entry{command, {}, c.required};
        PrePostInstallTaskSpecification task(&entry, &m_Config, nullptr, 0.1);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        QTest::qWait(20);
        EXPECT_EQ(task.m_TaskState,
                  c.ok ? TaskSpecification::TASK_FINISHED : TaskSpecification::TASK_FAILED)
            << c.command << c.required;
        const QStringList lines = run.messageTexts();
        EXPECT_EQ(lines.value(0), QStringLiteral("Starting %1").arg(command));
        if (c.line.isEmpty()) {
            EXPECT_EQ(lines.size(), 1) << c.command << lines.join(QLatin1Char('|'));
        } else {
            EXPECT_TRUE(lines.value(1).startsWith(c.line.arg(command)))
                << c.command << lines.join(QLatin1Char('|'));
        }
        EXPECT_EQ(window.calls, c.reboots) << c.command;
        // The program may be a file of the release, installed after the
        // pre-install commands: it keeps the mode its download had.
        if (!c.body.isEmpty()) {
            EXPECT_EQ(QFileInfo(m_Temp.path() + QLatin1Char('/') + command).permissions(), mode644)
                << c.command;
        }
    }
}

TEST_F(InstallCommandTest, ListStopsAtTheFirstFailedRequiredCommand)
{
    script(QStringLiteral("ok.sh"), "echo ran >> \"$0.log\"\n");
    script(QStringLiteral("fail.sh"), "exit 1\n");
    QList<InstallCommandEntry> commands{{QStringLiteral("ok.sh"), {}, true},
                                        {QStringLiteral("fail.sh"), {}, false},
                                        {QStringLiteral("fail.sh"), {}, true},
                                        {QStringLiteral("ok.sh"), {}, true}};
    PrePostInstallListTaskSpecification list(&commands, &m_Config, nullptr, 0.1);
    TaskRun run(&list);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(list.m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(run.messageTexts(),
              (QStringList{
                  QStringLiteral("Starting install condition"), QStringLiteral("Starting ok.sh"),
                  QStringLiteral("ok.sh completed sucessfully"), QStringLiteral("Starting fail.sh"),
                  QStringLiteral("Failed to complete fail.sh, exit code: 1"),
                  QStringLiteral("Starting fail.sh"),
                  QStringLiteral("Failed to complete fail.sh, exit code: 1")}));
    EXPECT_EQ(readFile(m_Temp.path() + QStringLiteral("/ok.sh.log")), QByteArray("ran\n"));

    QList<InstallCommandEntry> none;
    PrePostInstallListTaskSpecification empty(&none, &m_Config, nullptr, 0.1);
    TaskRun emptyRun(&empty);
    ASSERT_TRUE(emptyRun.run());
    EXPECT_EQ(empty.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_TRUE(emptyRun.messageTexts().isEmpty());
}

TEST_F(InstallCommandTest, CommandThatRunsTooLongIsKilled)
{
    script(QStringLiteral("slow.sh"), "echo $$ > \"$0.pid\"\nexec sleep 120\n");
    InstallCommandEntry entry{QStringLiteral("slow.sh"), {}, true};
    PrePostInstallTaskSpecification task(&entry, &m_Config, nullptr, 0.1);
    task.setTimeouts(PrePostInstallTaskSpecification::defaultTimeoutMs, 300);
    TaskRun run(&task);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED);
    ASSERT_EQ(run.messageTexts().size(), 2);
    EXPECT_TRUE(run.messageTexts()[1].startsWith(QStringLiteral("Failed to run slow.sh: ")));
    const QByteArray pid = readFile(m_Temp.path() + QStringLiteral("/slow.sh.pid")).trimmed();
    ASSERT_FALSE(pid.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
}

// The one test that waits for the real limit of 30 s.
TEST_F(InstallCommandTest, RealLimitIsThirtySeconds)
{
    script(QStringLiteral("sleeper.sh"), "exec sleep 60\n");
    InstallCommandEntry entry{QStringLiteral("sleeper.sh"), {}, false};
    PrePostInstallTaskSpecification task(&entry, &m_Config, nullptr, 0.1);
    TaskRun run(&task);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(run.run(45000));
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 29500);
    EXPECT_LT(elapsed, 40000);
    // Not required: the list would go on.
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_TRUE(
        run.messageTexts().value(1).startsWith(QStringLiteral("Failed to run sleeper.sh: ")));
}

} // namespace

#include "prepostinstalltaskspecification_test.moc"
