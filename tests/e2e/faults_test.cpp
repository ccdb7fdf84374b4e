// Faults of the server and of the installation. Each ends with a clear
// message in the details (which the updater also logs) and loses no file:
// the installation is left as it was, or updated when the fault heals.
#include "e2etest.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <iostream>

using namespace E2E;

namespace {

QString channelFile(const QString &root, const QString &relative)
{
    return root + QStringLiteral("/updater-images/client/%1/").arg(newVersion) + relative;
}

bool runTool(const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral(QVX_BUILD_DIR "/tools/qvxrelease/qvxrelease"), args);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

bool flipByte(const QString &path, qint64 offset)
{
    QByteArray bytes = TestSandbox::readFile(path);
    if (bytes.isEmpty())
        return false;
    offset = qMin(offset, qint64(bytes.size() - 1));
    bytes[int(offset)] = char(bytes[int(offset)] ^ 0x5a);
    return TestSandbox::writeFile(path, bytes);
}

class FaultTest : public E2ETest
{
protected:
    void TearDown() override
    {
        E2ETest::TearDown();
        // Whatever a failed test left immutable must not outlive it.
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), install()});
        QProcess::execute(QStringLiteral("chattr"),
                          {QStringLiteral("-i"), install() + QStringLiteral("/data")});
        if (m_Mounted)
            QProcess::execute(QStringLiteral("umount"), {install()});
    }

    // Runs the two steps until step two reports the end of its session.
    void runUntilCancelled(const QByteArray &expectedDetail)
    {
        ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
        ASSERT_TRUE(waitForLog("Details: Update cancelled")) << logText().toStdString();
        EXPECT_TRUE(logText().contains(expectedDetail)) << logText().toStdString();
        killSandboxProcesses();
    }

    void expectUnchanged()
    {
        EXPECT_EQ(differences(snapshot(releaseTree(QStringLiteral("client"), oldVersion)),
                              snapshot(install())),
                  QStringList());
        EXPECT_EQ(clientStarts(), 0);
        EXPECT_EQ(differences(m_UserFilesBefore, userFiles()), QStringList());
    }

    // Changes the client's product ini of the new release and signs it again
    // with the demo key, as a release manager would.
    void rewriteProductIni(const QByteArray &from, const QByteArray &to)
    {
        const QString ini =
            channelFile(channelRoot(), QStringLiteral("qvx_client_linux_amd64.ini"));
        QByteArray text = TestSandbox::readFile(ini);
        ASSERT_TRUE(text.contains(from));
        text.replace(from, to);
        ASSERT_TRUE(TestSandbox::writeFile(ini, text));
        ASSERT_TRUE(runTool({QStringLiteral("pack"), ini, ini + QStringLiteral("._lzma2_")}));
        ASSERT_TRUE(runTool({QStringLiteral("sign"),
                             QStringLiteral(QVX_SOURCE_DIR "/keys/demo/demo_private.der"), ini}));
    }

    // Builds the client's new release again into the private channel, from
    // the demo's tree with a pre-install program that fails (exit code 1),
    // named by a "preinstall" line with the given value. Returns the tree.
    QString rebuildWithFailingPreInstall(const QString &commandValue)
    {
        const QString tree = path(QStringLiteral("release-tree"));
        QDir(tree).removeRecursively();
        if (QProcess::execute(QStringLiteral("cp"),
                              {QStringLiteral("-a"),
                               releaseTree(QStringLiteral("client"), newVersion), tree}) != 0)
            return {};
        // Installed like any data file: mode 0644, as the updater gives it.
        const QString program = tree + QStringLiteral("/preinstall.sh");
        if (!TestSandbox::writeFile(program, "#!/bin/sh\necho \"$@\" >\"$QVX_CONFIG_DIR/"
                                             "preinstall.log\"\nexit 1\n"))
            return {};
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                           QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
        const QString description = path(QStringLiteral("client-description.txt"));
        QByteArray text = TestSandbox::readFile(
            releases() + QStringLiteral("/input/client-%1.txt").arg(newVersion));
        text += "plain preinstall.sh\npreinstall preinstall.sh " + commandValue.toUtf8() + '\n';
        if (!TestSandbox::writeFile(description, text))
            return {};
        if (!runTool(
                {QStringLiteral("build"), tree,
                 channelRoot() + QStringLiteral("/updater-images/client"), QStringLiteral("--key"),
                 QStringLiteral(QVX_SOURCE_DIR "/keys/demo/demo_private.der"),
                 QStringLiteral("--product"), QStringLiteral("client"), QStringLiteral("--version"),
                 QString::number(newVersion), QStringLiteral("--input"), description}))
            return {};
        return tree;
    }

    bool m_Mounted = false;
};

TEST_F(FaultTest, WrongContentIsRejected)
{
    usePrivateChannel();
    ASSERT_TRUE(flipByte(channelFile(channelRoot(), QStringLiteral("client/data/readme.txt")), 5));
    ASSERT_TRUE(startServer()) << m_Server.errorText();
    runUntilCancelled("Signature check failed for");
    expectUnchanged();
}

TEST_F(FaultTest, TamperedProductIniOrSignatureIsRejected)
{
    for (const bool signature : {false, true}) {
        SCOPED_TRACE(signature ? "signature" : "product ini");
        usePrivateChannel();
        const QString ini =
            channelFile(channelRoot(), QStringLiteral("qvx_client_linux_amd64.ini"));
        if (signature) {
            ASSERT_TRUE(flipByte(ini + QStringLiteral(".sig"), 40));
        } else {
            QByteArray text = TestSandbox::readFile(ini);
            text.replace("data/old_notes.txt=0", "data/readme.txt=0");
            ASSERT_TRUE(TestSandbox::writeFile(ini, text));
            ASSERT_TRUE(runTool({QStringLiteral("pack"), ini, ini + QStringLiteral("._lzma2_")}));
        }
        ASSERT_TRUE(startServer()) << m_Server.errorText();
        runUntilCancelled("Details:");
        expectUnchanged();
        startAgainFromOldRelease();
        QDir(channelRoot()).removeRecursively();
    }
}

TEST_F(FaultTest, PackageThatDoesNotDecodeRollsBack)
{
    // Signed and with the right digest, but its content is damaged: only the
    // decoder can tell.
    usePrivateChannel();
    const QString package =
        channelFile(channelRoot(), QStringLiteral("client/libqvxdemo.so.1._lzma2_"));
    const QByteArray before = TestSandbox::readFile(package);
    ASSERT_TRUE(flipByte(package, before.size() / 2));
    const QByteArray after = TestSandbox::readFile(package);
    rewriteProductIni(QCryptographicHash::hash(before, QCryptographicHash::Sha512).toHex(),
                      QCryptographicHash::hash(after, QCryptographicHash::Sha512).toHex());
    ASSERT_TRUE(startServer()) << m_Server.errorText();
    runUntilCancelled("Could not unpack");
    EXPECT_TRUE(logText().contains("rolling back file updates"));
    expectUnchanged();
}

TEST_F(FaultTest, ServerStopsMidDownloadAndComesBack)
{
    // The retries of a download follow each other at once: a server that is
    // gone for seconds ends the session, which loses nothing and continues
    // once the server is back.
    ASSERT_TRUE(startServer(4096)) << m_Server.errorText();
    ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
    ASSERT_TRUE(waitForLog("Queueing download: \"qvxclient_linux_amd64._lzma2_\""));
    QThread::msleep(1000);
    m_Server.stop();
    ASSERT_TRUE(waitForLog("Details: Update cancelled")) << logText().toStdString();
    EXPECT_TRUE(logText().contains("Unable to download")) << logText().toStdString();
    EXPECT_GE(logText().count("Connection refused"), 4);
    killSandboxProcesses();
    expectUnchanged();

    ASSERT_TRUE(startServer()) << m_Server.errorText();
    const QStringList sessions = sessionDirs();
    ASSERT_EQ(sessions.size(), 1);
    int exitCode = -1;
    ASSERT_TRUE(run(tempDir() + QLatin1Char('/') + sessions.first() + QStringLiteral("/update"),
                    stepTwoArguments(), 60000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
    expectUpdated();
}

// Root ignores permission bits; an immutable directory refuses even root every
// rename and new file inside it.
TEST_F(FaultTest, InstallationThatIsNotWritableIsLeftAsItWas)
{
    struct Case
    {
        const char *dir;
        const char *detail;
    };
    // The installation directory itself: step one cannot even record its
    // session there. A directory inside it: step two fails on its files and
    // rolls the others back.
    const Case cases[] = {{"", "Failed to write to update.ini"},
                          {"data", "rolling back file updates"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dir);
        const QString dir = install() + QLatin1Char('/') + QLatin1String(c.dir);
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir}) != 0)
            GTEST_SKIP() << "chattr +i does not work on this file system: no way to make a "
                            "directory unwritable for this user";
        ASSERT_TRUE(startServer()) << m_Server.errorText();
        ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
        EXPECT_TRUE(waitForLog(c.detail)) << logText().toStdString();
        killSandboxProcesses();
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dir});
        expectUnchanged();
        startAgainFromOldRelease();
    }
}

TEST_F(FaultTest, FullDiskInTheInstallationIsLeftAsItWas)
{
    // A tmpfs just larger than the old release: the new files do not fit
    // beside the backups.
    QDir(install()).removeRecursively();
    QDir().mkpath(install());
    qint64 used = 0;
    const Tree old = snapshot(releaseTree(QStringLiteral("client"), oldVersion));
    for (const Node &node : old)
        used += node.content.size() + 4096;
    const QString size = QStringLiteral("size=%1").arg(used + 64 * 1024);
    if (QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           size, QStringLiteral("tmpfs"), install()}) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs mount rights)";
    m_Mounted = true;
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"),
                           releaseTree(QStringLiteral("client"), oldVersion) + QStringLiteral("/."),
                           install()}),
        0);
    ASSERT_TRUE(startServer()) << m_Server.errorText();
    runUntilCancelled("rolling back file updates");
    expectUnchanged();
}

TEST_F(FaultTest, FailingPreInstallCommandStopsTheUpdateOnlyWhenRequired)
{
    struct Case
    {
        const char *value; // of the "preinstall" line
        bool required;
    };
    const Case cases[] = {{"linux64,phase::pre", true}, {"linux64,phase::pre,optional", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        usePrivateChannel();
        const QString tree = rebuildWithFailingPreInstall(QLatin1String(c.value));
        ASSERT_FALSE(tree.isEmpty());
        ASSERT_TRUE(startServer()) << m_Server.errorText();
        ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
        if (c.required) {
            ASSERT_TRUE(waitForLog("Details: Update cancelled")) << logText().toStdString();
            killSandboxProcesses();
            expectUnchanged();
            // Nothing after the failed command ran.
            EXPECT_FALSE(QFileInfo::exists(configDir() + QStringLiteral("/postinstall.log")));
        } else {
            ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
            expectUpdated(tree);
            EXPECT_TRUE(QFileInfo::exists(configDir() + QStringLiteral("/postinstall.log")));
        }
        EXPECT_TRUE(logText().contains("Failed to complete preinstall.sh, exit code: 1"))
            << logText().toStdString();
        EXPECT_EQ(TestSandbox::readFile(configDir() + QStringLiteral("/preinstall.log")),
                  "--phase --pre\n");

        startAgainFromOldRelease();
        QDir(channelRoot()).removeRecursively();
    }
}

TEST_F(FaultTest, PostInstallAskingForARestartStartsNothing)
{
    // The window asks whether to restart the computer; the answer is left for
    // the next start in a marker file in TMPDIR, and nothing is started.
    struct Case
    {
        const char *answer;
        const char *marker;
    };
    const Case cases[] = {{"yes", "qvx_force_update"}, {"no", "qvx_force_update_check"}};
    m_ExtraEnvironment.insert(QStringLiteral("QVX_DEMO_POSTINSTALL_EXIT"), QStringLiteral("1010"));
    m_ExtraEnvironment.insert(QStringLiteral("LD_PRELOAD"),
                              QStringLiteral(QVX_BOXANSWERER_PRELOAD));
    m_ExtraEnvironment.insert(QStringLiteral("QVX_TEST_BOX_LOG"), path(QStringLiteral("boxes")));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer);
        m_ExtraEnvironment.insert(QStringLiteral("QVX_TEST_BOX_ANSWERS"), QLatin1String(c.answer));
        ASSERT_TRUE(startServer()) << m_Server.errorText();
        ASSERT_TRUE(launch(install() + QStringLiteral("/update"), {}));
        ASSERT_TRUE(waitForLog("onRebootWithConfirmation")) << logText().toStdString();
        ASSERT_TRUE(waitForQuiet()) << logText().toStdString();
        EXPECT_TRUE(
            TestSandbox::readFile(path(QStringLiteral("boxes"))).contains("Confirm reboot"));
        EXPECT_TRUE(QFileInfo::exists(tempDir() + QLatin1Char('/') + QLatin1String(c.marker)));
        EXPECT_EQ(QDir(tempDir()).entryList({QStringLiteral("qvx_force_update*")}).size(), 1);
        EXPECT_EQ(clientStarts(), 0);
        EXPECT_EQ(differences(snapshot(releaseTree(QStringLiteral("client"), newVersion)),
                              snapshot(install())),
                  QStringList());

        startAgainFromOldRelease();
        QFile::remove(path(QStringLiteral("boxes")));
    }
}

} // namespace
