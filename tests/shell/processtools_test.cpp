#include "shell/processtools.h"

#include "qtprinters.h"
#include "testsandbox.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// Waits for a detached process to leave its trace.
bool waitForFile(const QString &path, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (QFileInfo(path).size() > 0)
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool writeScript(const QString &path, const QByteArray &body)
{
    return TestSandbox::writeFile(path, "#!/bin/sh\n" + body) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

TEST(ProcessToolsTest, StartsTheClientRunScriptInTheInstallation)
{
    QTemporaryDir install;
    ASSERT_TRUE(writeScript(install.path() + QStringLiteral("/qvxclient_runscript.sh"),
                            "pwd > started.txt; echo \"$#\" >> started.txt\n"));
    ProcessTools::startQvxClient(install.path());
    const QString trace = install.path() + QStringLiteral("/started.txt");
    ASSERT_TRUE(waitForFile(trace));
    QThread::msleep(100);
    EXPECT_EQ(TestSandbox::readFile(trace), QFile::encodeName(install.path()) + "\n0\n");
}

TEST(ProcessToolsTest, StartsTheNewUpdaterWithItsArguments)
{
    QTemporaryDir dir;
    ASSERT_TRUE(writeScript(dir.path() + QStringLiteral("/update"),
                            "printf '%s|' \"$PWD\" \"$@\" > started.txt\n"));
    ProcessTools::startClientUpdater(dir.path(), {QStringLiteral("--clientupdate"),
                                                  QStringLiteral("client_linux_amd64"),
                                                  QStringLiteral("12"), QStringLiteral("#")});
    const QString trace = dir.path() + QStringLiteral("/started.txt");
    ASSERT_TRUE(waitForFile(trace));
    QThread::msleep(100);
    EXPECT_EQ(TestSandbox::readFile(trace),
              QFile::encodeName(dir.path()) + "|--clientupdate|client_linux_amd64|12|#|");
}

TEST(ProcessToolsTest, MissingUpdaterStartsNothing)
{
    QTemporaryDir dir;
    QStringList logged;
    static QStringList *sink = nullptr;
    sink = &logged;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { sink->append(text); });
    ProcessTools::startClientUpdater(dir.path(), {QStringLiteral("--clientupdate")});
    qInstallMessageHandler(previous);

    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.last().startsWith(QStringLiteral("Failed to find")));
    EXPECT_TRUE(logged.last().contains(dir.path() + QStringLiteral("/update")));
    EXPECT_FALSE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("\nstarting")));
}

} // namespace
