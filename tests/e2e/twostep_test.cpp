// The two-step update from start to client start, a step two killed at
// several points and started again, and a session continued after it was
// stopped during its downloads.
#include "e2etest.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <iostream>

using namespace E2E;

namespace {

enum class Path
{
    NoArguments,  // the version comes from the version server
    AlphaChannel, // update.ini in the configuration directory names it
};

class TwoStepTest : public E2ETest, public ::testing::WithParamInterface<Path>
{
};

TEST_P(TwoStepTest, UpdatesTheInstallationAndStartsTheClient)
{
    if (GetParam() == Path::AlphaChannel) {
        // Without a version message: the alpha revision is the target.
        usePrivateChannel();
        ASSERT_TRUE(QFile::remove(channelRoot() + QStringLiteral("/qvx-client-2")));
        ASSERT_TRUE(TestSandbox::writeFile(
            configDir() + QStringLiteral("/update.ini"),
            QStringLiteral("[Channel]\nalpha=http://127.0.0.1:%1/alpha-channel\nalphaRevno=%2\n")
                .arg(builtInPort)
                .arg(newVersion)
                .toUtf8()));
        m_UserFilesBefore = userFiles();
    }
    ASSERT_TRUE(startServer()) << m_Server.errorText();

    QElapsedTimer timer;
    timer.start();
    int exitCode = -1;
    ASSERT_TRUE(run(install() + QStringLiteral("/update"), {}, 60000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    const qint64 elapsed = timer.elapsed();

    expectUpdated();
    const QByteArray postinstall =
        TestSandbox::readFile(configDir() + QStringLiteral("/postinstall.log"));
    EXPECT_TRUE(postinstall.contains("--installdir=" + install().toUtf8())) << postinstall.data();
    EXPECT_EQ(postinstall.count('\n'), 1);
    EXPECT_TRUE(logText().contains("startClientUpdater")) << logText().toStdString();

    qint64 bytes = 0;
    const QList<Request> served = requests();
    for (const Request &request : served) {
        EXPECT_EQ(request.status, 200) << request.path;
        if (GetParam() == Path::AlphaChannel) {
            EXPECT_TRUE(request.path.startsWith(QLatin1String("/alpha-channel/"))) << request.path;
        }
        bytes += request.bytes;
    }
    std::cout << "two-step update: " << elapsed << " ms, " << served.size() << " requests, "
              << bytes << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(E2E, TwoStepTest, ::testing::Values(Path::NoArguments, Path::AlphaChannel),
                         [](const ::testing::TestParamInfo<Path> &param) {
                             return param.param == Path::NoArguments ? "NoArguments"
                                                                     : "AlphaChannel";
                         });

// An installation that is already up to date: what a user meets when the
// updater is started again after an update ended without starting the client
// (stopped between its cleanup and the client start). Nothing is downloaded
// for the client, its post-install command still runs, and the client starts.
TEST_F(E2ETest, UpToDateInstallationRunsItsCommandsAndStartsTheClient)
{
    ASSERT_TRUE(startServer()) << m_Server.errorText();
    ASSERT_TRUE(run(install() + QStringLiteral("/update"), {}));
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    expectUpdated();
    const int requestsBefore = requests().size();

    int exitCode = -1;
    ASSERT_TRUE(run(install() + QStringLiteral("/update"), {}, 60000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    EXPECT_EQ(clientStarts(), 2) << logText().toStdString();
    EXPECT_EQ(TestSandbox::readFile(configDir() + QStringLiteral("/postinstall.log")).count('\n'),
              2);
    EXPECT_EQ(differences(snapshot(releaseTree(QStringLiteral("client"), newVersion)),
                          snapshot(install())),
              QStringList());
    EXPECT_EQ(sessionDirs(), QStringList());
    // Version message, the two product inis and their signatures.
    const QList<Request> all = requests();
    QStringList again;
    for (int i = requestsBefore; i < all.size(); ++i)
        again << all.at(i).path;
    EXPECT_EQ(again.size(), 5) << again.join(QLatin1Char(' ')).toStdString();
}

// Step two is killed with SIGKILL, then started again with the same
// arguments, as a user (or the next login) would.
enum class KillPoint
{
    Downloads,
    Replacements,
    PostInstall,
};

class KillTest : public E2ETest, public ::testing::WithParamInterface<KillPoint>
{
protected:
    // What of ours lies beside the installed files (backups, staging files).
    QStringList leftovers() const
    {
        QStringList found;
        const Tree tree = snapshot(install());
        for (auto it = tree.begin(); it != tree.end(); ++it) {
            const QString name = QFileInfo(it.key()).fileName();
            if (name.startsWith(QLatin1String("_old_")) || name.startsWith(QLatin1String("_new_")))
                found << it.key();
        }
        return found;
    }
};

TEST_P(KillTest, StepTwoStartedAgainConverges)
{
    const KillPoint point = GetParam();
    if (point == KillPoint::PostInstall) {
        m_ExtraEnvironment.insert(QStringLiteral("QVX_DEMO_POSTINSTALL_SLEEP"),
                                  QStringLiteral("60"));
    }
    // Slow responses keep the downloads in flight long enough to stop them.
    ASSERT_TRUE(startServer(point == KillPoint::Downloads ? 4096 : 0)) << m_Server.errorText();
    ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));

    switch (point) {
    case KillPoint::Downloads:
        ASSERT_TRUE(waitForLog("Queueing download: \"qvxclient_linux_amd64._lzma2_\""))
            << logText().toStdString();
        QThread::msleep(1500);
        break;
    case KillPoint::Replacements:
        ASSERT_TRUE(waitForLog("FileReplaceTaskSpecification: spec:")) << logText().toStdString();
        break;
    case KillPoint::PostInstall: {
        const QString log = configDir() + QStringLiteral("/postinstall.log");
        for (int i = 0; i < 3000 && !QFileInfo::exists(log); ++i)
            QThread::msleep(10);
        ASSERT_TRUE(QFileInfo::exists(log)) << logText().toStdString();
        break;
    }
    }
    const QList<qint64> stepTwo = stepTwoProcesses();
    ASSERT_EQ(stepTwo.size(), 1) << logText().toStdString();
    killSandboxProcesses();
    const QStringList left = leftovers();
    std::cout << "killed at " << int(point)
              << "; beside the installed files: " << left.join(QLatin1Char(' ')).toStdString()
              << "\n";
    EXPECT_EQ(clientStarts(), 0);
    const QStringList sessions = sessionDirs();
    ASSERT_EQ(sessions.size(), 1);

    m_ExtraEnvironment.clear();
    if (point == KillPoint::Downloads) {
        ASSERT_TRUE(startServer()) << m_Server.errorText();
    }
    const QString stepTwoExe =
        tempDir() + QLatin1Char('/') + sessions.first() + QStringLiteral("/update");
    int exitCode = -1;
    ASSERT_TRUE(run(stepTwoExe, stepTwoArguments(), 60000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    expectUpdated();
}

INSTANTIATE_TEST_SUITE_P(E2E, KillTest,
                         ::testing::Values(KillPoint::Downloads, KillPoint::Replacements,
                                           KillPoint::PostInstall),
                         [](const ::testing::TestParamInfo<KillPoint> &param) {
                             switch (param.param) {
                             case KillPoint::Downloads:
                                 return "Downloads";
                             case KillPoint::Replacements:
                                 return "Replacements";
                             case KillPoint::PostInstall:
                                 break;
                             }
                             return "PostInstall";
                         });

} // namespace

namespace {

// A session stopped during its downloads and started again with the same
// target fetches no file a second time that it had received whole.
TEST_F(E2ETest, ContinuedSessionDownloadsNoFileTwice)
{
    const int rate = 4096;
    ASSERT_TRUE(startServer(rate)) << m_Server.errorText();
    ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
    ASSERT_TRUE(waitForLog("Queueing download: \"qvxclient_linux_amd64._lzma2_\""));
    // Stopped once client files have arrived whole and others are in flight.
    // Received means whole in T: nginx may have sent a file that the updater
    // has not yet read from its socket.
    const QString prefix = QStringLiteral("/updater-images/client/%1/client/").arg(newVersion);
    const auto receivedClientFiles = [&]() {
        QSet<QString> paths;
        const QStringList sessions = sessionDirs();
        if (sessions.size() != 1)
            return paths;
        for (const Request &request : requests()) {
            if (!request.path.startsWith(prefix) || request.status != 200)
                continue;
            const QString local = tempDir() + QLatin1Char('/') + sessions.first() +
                                  QLatin1Char('/') + request.path.mid(prefix.size());
            if (TestSandbox::readFile(local) == TestSandbox::readFile(channelRoot() + request.path))
                paths.insert(request.path);
        }
        return paths;
    };
    for (int i = 0; i < 1000 && receivedClientFiles().size() < 2; ++i)
        QThread::msleep(10);
    killSandboxProcesses();
    const QList<Request> first = requests();
    const QStringList sessions = sessionDirs();
    ASSERT_EQ(sessions.size(), 1);
    const QSet<QString> received = receivedClientFiles();
    ASSERT_GE(received.size(), 1);

    QElapsedTimer timer;
    timer.start();
    int exitCode = -1;
    ASSERT_TRUE(run(tempDir() + QLatin1Char('/') + sessions.first() + QStringLiteral("/update"),
                    stepTwoArguments(), 90000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    const qint64 continuedMs = timer.elapsed();
    expectUpdated();

    const QList<Request> all = requests();
    qint64 continuedBytes = 0;
    QSet<QString> fetchedAgain;
    for (int i = first.size(); i < all.size(); ++i) {
        continuedBytes += all.at(i).bytes;
        if (received.contains(all.at(i).path))
            fetchedAgain.insert(all.at(i).path);
    }
    EXPECT_EQ(fetchedAgain, QSet<QString>());
    // What a fresh step two fetches: every client file and the product ini.
    qint64 freshBytes = 0;
    QSet<QString> fresh;
    for (const Request &request : all) {
        if (request.path.contains(QStringLiteral("/client/")) ||
            request.path.contains(QStringLiteral("qvx_client_linux_amd64.ini")))
            fresh.insert(request.path);
    }
    for (const QString &path : fresh)
        freshBytes += QFileInfo(channelRoot() + path).size();
    std::cout << "continued step two at " << rate << " B/s: " << continuedMs << " ms, "
              << continuedBytes << " bytes; a fresh step two fetches " << freshBytes << " bytes ("
              << received.size() << " files already received)\n";
}

} // namespace
