// Whole update sessions through the engine against nginx, serving releases
// that qvxrelease built from real trees of a few hundred files (nested
// folders, executables, shared libraries, packages, gzip and plain files):
// afterwards the installation equals the release tree byte for byte and by
// permission bits, or, after a fault, holds either the old or the new release, with
// nothing lost.

#include "installtesthelpers.h"
#include "manifest/rsaverifier.h"
#include "nginxserver.h"
#include "session/updateengine.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"
#include "shell/updateinidata.h"
#include "testsandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

bool runTool(const QStringList &arguments, QString *output)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVX_RELEASE_TOOL), arguments);
    const bool ok = tool.waitForFinished(120000) && tool.exitStatus() == QProcess::NormalExit &&
                    tool.exitCode() == 0;
    *output += QString::fromUtf8(tool.readAll());
    return ok;
}

bool build(const QString &tree, const QString &channel, const char *product, int version,
           const QByteArray &description, QString *output)
{
    const QString descriptionFile = tree + QStringLiteral(".desc");
    return writeFile(descriptionFile, description) &&
           runTool({QStringLiteral("build"), tree, channel, QStringLiteral("--key"),
                    QStringLiteral(QVX_TEST_PRIVATE_KEY), QStringLiteral("--product"),
                    QLatin1String(product), QStringLiteral("--version"), QString::number(version),
                    QStringLiteral("--input"), descriptionFile},
                   output);
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
        if (!writeFile(target, readFile(source), QFileInfo(source).permissions()))
            return false;
    }
    return true;
}

// The client release trees: version 10 is installed, version 11 is the
// target. Between them files change (also executables and a file with a
// private mode), appear in new folders, and disappear through delete lines.
void makeClientTrees(const QString &oldTree, const QString &newTree)
{
    for (int i = 0; i < 320; ++i) {
        QString name;
        switch (i % 4) {
        case 0:
            name = QStringLiteral("docs/d%1/page%2.txt").arg(i % 3).arg(i);
            break;
        case 1:
            name = QStringLiteral("share/s%1/t%2/data%3.bin").arg(i % 5).arg(i % 2).arg(i);
            break;
        default:
            name =
                QStringLiteral("res/r%1/a%2/b%3/f%4.dat").arg(i % 3).arg(i % 4).arg(i % 5).arg(i);
        }
        const QByteArray content = randomBytes(200 + (i * 53) % 4000, quint32(i));
        writeFile(oldTree + QLatin1Char('/') + name, content, mode644);
        const QByteArray newContent =
            i % 5 == 0 ? randomBytes(300 + i, quint32(i + 1000)) : content;
        writeFile(newTree + QLatin1Char('/') + name, newContent, mode644);
    }
    for (int i = 0; i < 20; ++i)
        writeFile(newTree + QStringLiteral("/added/n%1/deep/new%2.dat").arg(i % 3).arg(i),
                  randomBytes(1000 + i, quint32(5000 + i)), mode644);
    for (int i = 0; i < 8; ++i)
        writeFile(oldTree + QStringLiteral("/gone/g%1/old%2.dat").arg(i % 2).arg(i), "obsolete",
                  mode644);
    writeFile(oldTree + QStringLiteral("/res/r0/obsolete.txt"), "obsolete", mode644);
    struct Executable
    {
        const char *name;
        int size;
    };
    for (const Executable &e :
         {Executable{"bin/qvxclient_linux_amd64", 150000},
          Executable{"qvxclient_runscript.sh", 300}, Executable{"lib/libqvxcore.so", 60000},
          Executable{"lib/libqvxnet.so.1", 40000}, Executable{"lib/plugins/libimg.so.4", 20000}}) {
        const QString name = QLatin1String(e.name);
        writeFile(oldTree + QLatin1Char('/') + name, randomBytes(e.size, quint32(qHash(name))),
                  mode777);
        writeFile(newTree + QLatin1Char('/') + name,
                  randomBytes(e.size + 10, quint32(qHash(name) + 1)), mode777);
    }
    // A library whose suffix is not in the list keeps the mode it had.
    writeFile(oldTree + QStringLiteral("/lib/libqvxold.so.2"), "v10", mode644);
    writeFile(newTree + QStringLiteral("/lib/libqvxold.so.2"), "v11", mode644);
    writeFile(oldTree + QStringLiteral("/config/private.key"), "old secret", mode600);
    writeFile(newTree + QStringLiteral("/config/private.key"), "new secret", mode600);
    // The post-install command arrives as a plain file of the release.
    writeFile(newTree + QStringLiteral("/tools/post.sh"),
              "#!/bin/sh\necho \"$@\" > \"$HOME/post-install-ran\"\n", mode644);
    writeFile(newTree + QStringLiteral("/tools/fail.sh"), "#!/bin/sh\nexit 1\n", mode644);
}

const QByteArray clientDescription = "plain docs/*\nplain tools/*\ngzip share/*\n"
                                     "delete gone 2\ndelete res/r0/obsolete.txt 1\n"
                                     "postinstall tools/post.sh linux64,dir::__QVX_DIR__\n";

class InstallSessionTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ::umask(022);
        RsaVerifier::initCrypto();
        s_Root = new QTemporaryDir(TestSandbox::tempDir() + QStringLiteral("/release-XXXXXX"));
        const QString root = s_Root->path();
        makeClientTrees(root + QStringLiteral("/client10"), root + QStringLiteral("/client11"));
        // The updater's own trees.
        writeFile(root + QStringLiteral("/updater20/update"), randomBytes(80000, 1), mode777);
        writeFile(root + QStringLiteral("/updater21/update"), randomBytes(80100, 2), mode777);
        for (const char *tree : {"/updater20", "/updater21"}) {
            writeFile(root + QLatin1String(tree) + QStringLiteral("/lib/libqvxupd.so.1"),
                      randomBytes(30000, 3), mode777);
            writeFile(root + QLatin1String(tree) + QStringLiteral("/docs/license.txt"), "license",
                      mode644);
        }
        writeFile(root + QStringLiteral("/updater21/lib/libqvxnew.so.0"), randomBytes(5000, 4),
                  mode777);

        const QString channel = root + QStringLiteral("/channel");
        QString output;
        s_BuildOk = build(root + QStringLiteral("/client11"), channel, "client", 11,
                          clientDescription, &output) &&
                    build(root + QStringLiteral("/client11"), channel, "client", 12,
                          clientDescription, &output) &&
                    build(root + QStringLiteral("/client11"), channel, "client", 13,
                          clientDescription + "postinstall tools/fail.sh linux64\n", &output) &&
                    build(root + QStringLiteral("/updater21"), channel, "updater", 21,
                          "gzip lib/*\n", &output) &&
                    tamperInstalledDigest(channel + QStringLiteral("/12"), &output);
        s_BuildOutput = output;
        s_Nginx = new NginxServer;
        s_NginxOk = s_Nginx->start(channel);
    }

    // Release 12 claims another digest for one installed file in the middle
    // of the list, under a valid signature: the file unpacks, then fails its
    // check while others are installed.
    static bool tamperInstalledDigest(const QString &release, QString *output)
    {
        const QString ini = release + QStringLiteral("/qvx_client_linux_amd64.ini");
        QByteArray text = readFile(ini);
        const QByteArray key = "res/r2/a2/b0/f170.dat._lzma2_=";
        const int line = text.indexOf(key);
        if (line < 0)
            return false;
        // Field 3 of the line is the installed file's digest.
        int field = line;
        for (int i = 0; i < 2; ++i)
            field = text.indexOf("::", field) + 2;
        text.replace(field, 128, sha512Hex("not the content").toLatin1());
        return writeFile(ini, text) &&
               runTool({QStringLiteral("pack"), ini, ini + QStringLiteral("._lzma2_")}, output) &&
               runTool({QStringLiteral("sign"), QStringLiteral(QVX_TEST_PRIVATE_KEY), ini}, output);
    }

    static void TearDownTestSuite()
    {
        delete s_Nginx;
        delete s_Root;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_BuildOk) << s_BuildOutput.toStdString();
        ASSERT_TRUE(s_NginxOk) << s_Nginx->errorText().toStdString();
        AppGlobals::setChannelBaseUrl(s_Nginx->url(QStringLiteral("/")));
        QFile::remove(TestSandbox::home() + QStringLiteral("/post-install-ran"));
    }

    void TearDown() override
    {
        AppGlobals::setChannelBaseUrl(QString());
        QFile::remove(UpdateIniData::installIniPath());
    }

    static QString tree(const char *name)
    {
        return s_Root->path() + QLatin1Char('/') + QLatin1String(name);
    }

    // A session for version into installDir: recorded in update.ini as
    // begun, so the engine continues it there (with a fresh directory T).
    static void prepare(Configuration &config, int mode, int version, const QString &installDir,
                        QString *tempDir)
    {
        config.m_UpdateMode = mode;
        config.m_ClientVersion = version;
        config.m_ClientType = defaultClientType(mode);
        *tempDir = QDir::tempPath() + QStringLiteral("/quorvex_temp_%1").arg(version);
        QDir(*tempDir).removeRecursively();
        QDir().mkpath(*tempDir);
        UpdateIniData::modify(version, *tempDir, installDir, config.m_ClientType);
    }

    static QTemporaryDir *s_Root;
    static NginxServer *s_Nginx;
    static bool s_BuildOk;
    static bool s_NginxOk;
    static QString s_BuildOutput;
};

QTemporaryDir *InstallSessionTest::s_Root = nullptr;
NginxServer *InstallSessionTest::s_Nginx = nullptr;
bool InstallSessionTest::s_BuildOk = false;
bool InstallSessionTest::s_NginxOk = false;
QString InstallSessionTest::s_BuildOutput;

struct EngineRun
{
    explicit EngineRun(Configuration *config)
        : engine(config, nullptr)
        , messages(&engine, SIGNAL(message(QString)))
        , errors(&engine, SIGNAL(error(QString)))
        , progress(&engine, SIGNAL(updateProgress(qreal)))
        , finished(&engine, SIGNAL(updateFinished()))
        , canceled(&engine, SIGNAL(updateCanceled()))
    {
    }

    bool run()
    {
        if (!engine.initialize() || !engine.startUpdate())
            return false;
        for (int waited = 0; finished.isEmpty() && canceled.isEmpty() && waited < 90000;
             waited += 50)
            QTest::qWait(50);
        return !finished.isEmpty() || !canceled.isEmpty();
    }
    QString log() const
    {
        QStringList texts;
        for (const QList<QVariant> &args : messages)
            texts << args.value(0).toString();
        return texts.join(QLatin1Char('\n'));
    }
    qreal lastStepProgress() const
    {
        // The last report is the root's own end (its full weight); the one
        // before it is the sum of its steps.
        return progress.size() < 2 ? 0 : progress.at(progress.size() - 2).value(0).toReal();
    }

    UpdateEngine engine;
    QSignalSpy messages;
    QSignalSpy errors;
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy canceled;
};

TEST_F(InstallSessionTest, ClientSessionBringsTheInstallationToTheRelease)
{
    QTemporaryDir install;
    ASSERT_TRUE(copyTree(tree("client10"), install.path()));
    Configuration config;
    QString temp;
    prepare(config, 1, 11, install.path(), &temp);
    EngineRun run(&config);
    ASSERT_TRUE(run.run());
    ASSERT_EQ(run.finished.size(), 1) << run.log().toStdString();
    EXPECT_EQ(differences(snapshot(tree("client11")), snapshot(install.path())), QStringList());
    EXPECT_NEAR(run.lastStepProgress(), 1.2, 1e-9);
    EXPECT_EQ(readFile(TestSandbox::home() + QStringLiteral("/post-install-ran")),
              "--dir --" + install.path().toUtf8() + "\n");
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_TRUE(run.errors.isEmpty());
}

TEST_F(InstallSessionTest, FaultsLeaveNothingLost)
{
    struct Case
    {
        const char *name;
        int version;
        const char *expectedTree; // what the installation holds afterwards
        QString line;             // a line the session must have shown
    };
    const Case cases[] = {
        // The file replacements are undone, old versions restored.
        {"digest mismatch", 12, "client10", QStringLiteral("rolling back file updates")},
        // Installing had succeeded and is kept; the session still fails.
        {"post-install fails", 13, "client11",
         QStringLiteral("Failed to complete tools/fail.sh, exit code: 1")},
    };
    for (const Case &c : cases) {
        QTemporaryDir install;
        ASSERT_TRUE(copyTree(tree("client10"), install.path()));
        Configuration config;
        QString temp;
        prepare(config, 1, c.version, install.path(), &temp);
        EngineRun run(&config);
        ASSERT_TRUE(run.run()) << c.name;
        EXPECT_EQ(run.canceled.size(), 1) << c.name << run.log().toStdString();
        EXPECT_TRUE(run.log().contains(c.line)) << c.name << run.log().toStdString();
        EXPECT_EQ(differences(snapshot(tree(c.expectedTree)), snapshot(install.path())),
                  QStringList())
            << c.name;
        // T is kept for a later continuation.
        EXPECT_TRUE(QFileInfo(temp).isDir()) << c.name;
        QFile::remove(UpdateIniData::installIniPath());
    }
}

TEST_F(InstallSessionTest, UpdaterSessionBuildsTheNewUpdaterInTemp)
{
    QTemporaryDir install;
    ASSERT_TRUE(copyTree(tree("updater20"), install.path()));
    const Tree before = snapshot(install.path());
    Configuration config;
    QString temp;
    prepare(config, 0, 21, install.path(), &temp);
    EngineRun run(&config);
    ASSERT_TRUE(run.run());
    ASSERT_EQ(run.finished.size(), 1) << run.log().toStdString();
    EXPECT_NEAR(run.lastStepProgress(), 1.15, 1e-9);
    EXPECT_EQ(differences(before, snapshot(install.path())), QStringList());
    // Every file of the new updater lies in T, changed or not.
    const Tree release = snapshot(tree("updater21"));
    for (auto it = release.begin(); it != release.end(); ++it) {
        if (it.value().content != "/") {
            EXPECT_EQ(readFile(temp + QLatin1Char('/') + it.key()), it.value().content) << it.key();
        }
    }
    EXPECT_EQ(QFileInfo(temp + QStringLiteral("/update")).permissions(), mode777);
    QSettings ini(temp + QStringLiteral("/update.ini"), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("current/type")).toString(), defaultClientType(1));
    EXPECT_EQ(ini.value(QStringLiteral("current/dir")).toString(), temp);
    EXPECT_EQ(ini.value(QStringLiteral("current/qvxdir")).toString(), install.path());
    QDir(temp).removeRecursively();
}

} // namespace
