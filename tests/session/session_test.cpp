// Update sessions against real HTTP servers serving release folders that the
// release tool built: the product ini step, the main task and the engine.

#include "manifest/inidownloadtaskspecification.h"
#include "manifest/productini.h"
#include "manifest/rsaverifier.h"
#include "nginxserver.h"
#include "session/maintaskspecification.h"
#include "session/updateengine.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"
#include "shell/updateinidata.h"
#include "slowfileserver.h"
#include "testsandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "qtprinters.h"

namespace {

constexpr int waitMs = 30000;

// Runs "qvxrelease build" on a small release tree.
bool buildRelease(const QString &channel, const char *product, int version,
                  const QByteArray &readme, QString *output)
{
    const QString tree = TestSandbox::tempDir() +
                         QStringLiteral("/tree-%1-%2").arg(QLatin1String(product)).arg(version);
    const QString description = tree + QStringLiteral(".txt");
    if (!TestSandbox::writeFile(tree + QStringLiteral("/bin/app"),
                                TestSandbox::randomBytes(300000, 1)) ||
        !TestSandbox::writeFile(tree + QStringLiteral("/docs/readme.txt"), readme) ||
        !TestSandbox::writeFile(tree + QStringLiteral("/lib/libx.so.1"), QByteArray(20000, 'x')) ||
        !TestSandbox::writeFile(description,
                                "# test release\nplain docs/*\ngzip lib/*\n"
                                "postinstall setup.sh linux64,--x::__QVX_DIR__/y,optional\n"))
        return false;
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVX_RELEASE_TOOL),
               {QStringLiteral("build"), tree, channel, QStringLiteral("--key"),
                QStringLiteral(QVX_TEST_PRIVATE_KEY), QStringLiteral("--product"),
                QLatin1String(product), QStringLiteral("--version"), QString::number(version),
                QStringLiteral("--input"), description});
    const bool ok = tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit &&
                    tool.exitCode() == 0;
    *output = QString::fromUtf8(tool.readAll());
    return ok;
}

// Relative path -> content of every file below dir.
QMap<QString, QByteArray> filesBelow(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), TestSandbox::readFile(path));
    }
    return files;
}

class SessionTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        RsaVerifier::initCrypto();
        s_Channel = new QTemporaryDir(TestSandbox::tempDir() + QStringLiteral("/channel-XXXXXX"));
        QString output;
        s_BuildOk = buildRelease(s_Channel->path(), "client", 5, "release five\n", &output) &&
                    buildRelease(s_Channel->path(), "client", 6, "release six\n", &output) &&
                    buildRelease(s_Channel->path(), "updater", 5, "release five\n", &output) &&
                    buildRelease(s_Channel->path(), "updater", 7, "release seven\n", &output);
        s_BuildOutput = output;
        s_Nginx = new NginxServer;
        s_NginxOk = s_Nginx->start(s_Channel->path());
    }

    static void TearDownTestSuite()
    {
        delete s_Nginx;
        delete s_Channel;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_BuildOk) << s_BuildOutput.toStdString();
        ASSERT_TRUE(s_NginxOk) << s_Nginx->errorText().toStdString();
        AppGlobals::setChannelBaseUrl(s_Nginx->url(QStringLiteral("/")));
    }

    void TearDown() override
    {
        AppGlobals::setChannelBaseUrl(QString());
        QFile::remove(UpdateIniData::installIniPath());
        TestSandbox::removeSessionDirectories();
        // A client session installs the release next to this executable;
        // the next test starts from an installation without it.
        for (const char *installed : {"bin", "docs", "lib"})
            QDir(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                 QLatin1String(installed))
                .removeRecursively();
    }

    static QString releaseDir(int version)
    {
        return s_Channel->path() + QLatin1Char('/') + QString::number(version);
    }

    static void configure(Configuration &config, int mode, int version)
    {
        config.m_UpdateMode = mode;
        config.m_ClientVersion = version;
        config.m_ClientType = defaultClientType(mode);
    }

    static QTemporaryDir *s_Channel;
    static NginxServer *s_Nginx;
    static bool s_BuildOk;
    static bool s_NginxOk;
    static QString s_BuildOutput;
};

QTemporaryDir *SessionTest::s_Channel = nullptr;
NginxServer *SessionTest::s_Nginx = nullptr;
bool SessionTest::s_BuildOk = false;
bool SessionTest::s_NginxOk = false;
QString SessionTest::s_BuildOutput;

// One engine session from initialize to its end.
struct EngineRun
{
    explicit EngineRun(Configuration *config)
        : engine(config, nullptr)
        , messages(&engine, SIGNAL(message(QString)))
        , errors(&engine, SIGNAL(error(QString)))
        , fatal(&engine, SIGNAL(fatalError(QString)))
        , progress(&engine, SIGNAL(updateProgress(qreal)))
        , polls(&engine, SIGNAL(downloadProgress(qulonglong, qulonglong, qulonglong, bool)))
        , finished(&engine, SIGNAL(updateFinished()))
        , canceled(&engine, SIGNAL(updateCanceled()))
    {
    }

    bool start() { return engine.initialize() && engine.startUpdate(); }
    bool waitForEnd()
    {
        for (int waited = 0; finished.isEmpty() && canceled.isEmpty() && waited < waitMs;
             waited += 100)
            QTest::qWait(100);
        return !finished.isEmpty() || !canceled.isEmpty();
    }
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const QList<QVariant> &args : messages)
            texts << args.value(0).toString();
        return texts;
    }

    UpdateEngine engine;
    QSignalSpy messages;
    QSignalSpy errors;
    QSignalSpy fatal;
    QSignalSpy progress;
    QSignalSpy polls;
    QSignalSpy finished;
    QSignalSpy canceled;
};

TEST_F(SessionTest, IniTaskInFreshTempFetchesUnpacksAndChecks)
{
    QTemporaryDir temp;
    Configuration config;
    configure(config, 1, 5);
    config.m_TempDir = temp.path();
    QNetworkAccessManager manager;
    IniDownloadTaskSpecification task(&manager, &config, nullptr, 0.1);
    QSignalSpy finished(&task, SIGNAL(finished(TaskSpecification *)));
    task.execute();

    const QList<TaskSpecification *> children =
        task.findChildren<TaskSpecification *>(QString(), Qt::FindDirectChildrenOnly);
    QStringList classes;
    QList<qreal> weights;
    for (const TaskSpecification *child : children) {
        classes << QLatin1String(child->metaObject()->className());
        weights << child->m_Weight;
    }
    EXPECT_EQ(classes, (QStringList{QStringLiteral("DownloadTaskSpecification"),
                                    QStringLiteral("FileUnpackTaskSpecification_lzma2"),
                                    QStringLiteral("DownloadTaskSpecification"),
                                    QStringLiteral("CheckSignatureTaskSpecification")}));
    ASSERT_EQ(weights.size(), 4);
    EXPECT_NEAR(weights[3], 0.3334, 1e-9);

    ASSERT_TRUE(finished.wait(waitMs));
    const QString name = QStringLiteral("qvx_client_linux_amd64.ini");
    EXPECT_EQ(TestSandbox::readFile(temp.path() + QLatin1Char('/') + name),
              TestSandbox::readFile(releaseDir(5) + QLatin1Char('/') + name));
}

TEST_F(SessionTest, IniTaskWithFilesPresentOnlyChecks)
{
    QTemporaryDir temp;
    const QString name = QStringLiteral("update_linux_amd64.ini");
    for (const QString &file : {name, name + QStringLiteral(".sig")})
        ASSERT_TRUE(QFile::copy(releaseDir(5) + QLatin1Char('/') + file,
                                temp.path() + QLatin1Char('/') + file));
    Configuration config;
    configure(config, 0, 5);
    config.m_TempDir = temp.path();
    QNetworkAccessManager manager;
    IniDownloadTaskSpecification task(&manager, &config, nullptr, 0.1);
    QSignalSpy finished(&task, SIGNAL(finished(TaskSpecification *)));
    task.execute();
    const QList<TaskSpecification *> children =
        task.findChildren<TaskSpecification *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 1);
    EXPECT_STREQ(children[0]->metaObject()->className(), "CheckSignatureTaskSpecification");
    EXPECT_EQ(children[0]->m_Weight, 1.0);
    ASSERT_TRUE(finished.wait(waitMs));
}

TEST_F(SessionTest, TamperedIniStopsTheSessionBeforePlanning)
{
    QTemporaryDir temp;
    const QString name = QStringLiteral("qvx_client_linux_amd64.ini");
    QByteArray ini = TestSandbox::readFile(releaseDir(5) + QLatin1Char('/') + name);
    ini.replace("lib/libx.so.1.gz", "lib/libz.so.1.gz");
    ASSERT_TRUE(TestSandbox::writeFile(temp.path() + QLatin1Char('/') + name, ini));
    ASSERT_TRUE(QFile::copy(releaseDir(5) + QLatin1Char('/') + name + QStringLiteral(".sig"),
                            temp.path() + QLatin1Char('/') + name + QStringLiteral(".sig")));

    Configuration config;
    configure(config, 1, 5);
    config.m_TempDir = temp.path();
    QNetworkAccessManager manager;
    MainTaskSpecification task(&manager, &config, nullptr, 1.0);
    QSignalSpy canceled(&task, SIGNAL(canceled(TaskSpecification *)));
    QSignalSpy messages(&task, SIGNAL(message(QString)));
    task.execute();
    ASSERT_TRUE(canceled.wait(waitMs));
    EXPECT_EQ(canceled.size(), 1);
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED);

    QStringList texts;
    for (const QList<QVariant> &args : messages)
        texts << args.value(0).toString();
    EXPECT_TRUE(texts.contains(QStringLiteral("Could not verify the product ini file. Aborting")))
        << texts.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Compiling download and replace list for client")));
    EXPECT_TRUE(task.plan().downloads.isEmpty());
    EXPECT_TRUE(task.plan().replaces.isEmpty());
    // The unverified copy is gone, so a later start fetches a fresh one.
    EXPECT_FALSE(QFileInfo::exists(temp.path() + QLatin1Char('/') + name));
}

TEST_F(SessionTest, UpdaterSessionDownloadsTheReleaseIntoTemp)
{
    Configuration config;
    configure(config, 0, 5);
    EngineRun run(&config);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForEnd());
    ASSERT_EQ(run.finished.size(), 1) << run.messageTexts().join(QLatin1Char('\n')).toStdString();

    // Every published file of the section now lies in T under its key; the
    // updater's T is kept for the hand-over, only the record is gone.
    const QMap<QString, QByteArray> published =
        filesBelow(releaseDir(5) + QStringLiteral("/updater"));
    ASSERT_EQ(published.size(), 3);
    for (auto it = published.begin(); it != published.end(); ++it)
        EXPECT_EQ(TestSandbox::readFile(config.m_TempDir + QLatin1Char('/') + it.key()), it.value())
            << it.key().toStdString();
    EXPECT_FALSE(QFileInfo::exists(UpdateIniData::installIniPath()));
    // The six steps of the updater's session weigh 0.1 + 0.05 + 0.4 + 0.1 +
    // 0.4 + 0.1; the root's own end then reports its full weight.
    QList<qreal> progress;
    for (const QList<QVariant> &args : run.progress)
        progress << args.value(0).toReal();
    ASSERT_GE(progress.size(), 2);
    EXPECT_NEAR(progress[progress.size() - 2], 1.15, 1e-9);
    EXPECT_EQ(progress.last(), 1.0);
    EXPECT_TRUE(run.messageTexts().contains(QStringLiteral("Update successfully finished")));
    EXPECT_TRUE(run.errors.isEmpty());
}

TEST_F(SessionTest, ClientSessionRemovesItsTempDirAtTheEnd)
{
    Configuration config;
    configure(config, 1, 6);
    EngineRun run(&config);
    ASSERT_TRUE(run.start());
    const QString temp = config.m_TempDir;
    ASSERT_TRUE(QFileInfo(temp).isDir());
    ASSERT_TRUE(run.waitForEnd());
    ASSERT_EQ(run.finished.size(), 1) << run.messageTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_FALSE(QFileInfo::exists(UpdateIniData::installIniPath()));
    EXPECT_EQ(run.engine.state(), UpdateEngine::FINISHED);
}

TEST_F(SessionTest, PollReportsPlannedTotalAndCancelledSessionContinues)
{
    // All three files download at once; the package of bin/app is held back
    // for longer than a poll interval.
    SlowFileServer slow(s_Channel->path(), 2500);
    ASSERT_TRUE(slow.start());
    slow.holdBack(QStringLiteral("5/client/bin/app._lzma2_"));
    AppGlobals::setChannelBaseUrl(slow.baseUrl());
    quint64 planned = 0;
    for (const QByteArray &bytes : filesBelow(releaseDir(5) + QStringLiteral("/client")))
        planned += quint64(bytes.size());
    // The finished downloads of the product ini count as well.
    for (const char *name :
         {"qvx_client_linux_amd64.ini._lzma2_", "qvx_client_linux_amd64.ini.sig"})
        planned +=
            quint64(QFileInfo(releaseDir(5) + QLatin1Char('/') + QLatin1String(name)).size());

    QString firstTemp;
    {
        Configuration config;
        configure(config, 1, 5);
        EngineRun run(&config);
        QObject::connect(&run.engine, &UpdateEngine::downloadProgress, &run.engine,
                         [&run](qulonglong, qulonglong, qulonglong, bool downloading) {
                             if (downloading)
                                 run.engine.cancelUpdate();
                         });
        ASSERT_TRUE(run.start());
        firstTemp = config.m_TempDir;
        ASSERT_TRUE(run.waitForEnd());
        ASSERT_EQ(run.canceled.size(), 1);
        ASSERT_GE(run.polls.size(), 2);
        const QList<QVariant> poll = run.polls.first();
        EXPECT_TRUE(poll.value(3).toBool());
        EXPECT_EQ(poll.value(1).toULongLong(), planned);
        EXPECT_LT(poll.value(0).toULongLong(), planned);
        // The closing report clears the counters.
        EXPECT_EQ(run.polls.last().value(1).toULongLong(), 0u);
        EXPECT_TRUE(run.messageTexts().contains(QStringLiteral("User aborted update")));
        EXPECT_EQ(run.engine.state(), UpdateEngine::CANCELED);
    }
    // The files that were complete stay for the next start; the one held
    // back was removed with its cancelled download.
    EXPECT_TRUE(QFileInfo::exists(firstTemp + QStringLiteral("/docs/readme.txt")));
    EXPECT_FALSE(QFileInfo::exists(firstTemp + QStringLiteral("/bin/app._lzma2_")));
    QFile kept(firstTemp + QStringLiteral("/docs/readme.txt"));
    const QDateTime past = QDateTime::currentDateTime().addDays(-3);
    ASSERT_TRUE(kept.open(QIODevice::ReadWrite));
    ASSERT_TRUE(kept.setFileTime(past, QFileDevice::FileModificationTime));
    kept.close();

    // Same version: the session continues in the same directory, and only
    // what is missing is fetched.
    AppGlobals::setChannelBaseUrl(s_Nginx->url(QStringLiteral("/")));
    Configuration config;
    configure(config, 1, 5);
    EngineRun run(&config);
    ASSERT_TRUE(run.engine.initialize());
    EXPECT_EQ(config.m_TempDir, firstTemp);
    EXPECT_TRUE(
        run.messageTexts().contains(QStringLiteral("Previous update session for v. 5 found")));
    QDateTime modified;
    QObject::connect(&run.engine, &UpdateEngine::message, &run.engine, [&](const QString &text) {
        // Before cleanup removes T: was the kept file fetched again?
        if (text == QStringLiteral("Remove temporary files..."))
            modified = QFileInfo(firstTemp + QStringLiteral("/docs/readme.txt")).lastModified();
    });
    ASSERT_TRUE(run.engine.startUpdate());
    ASSERT_TRUE(run.waitForEnd());
    ASSERT_EQ(run.finished.size(), 1) << run.messageTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(modified.toSecsSinceEpoch(), past.toSecsSinceEpoch());
}

TEST_F(SessionTest, WrongFileFromServerIsDeletedAndFailsTheSession)
{
    const QString served = releaseDir(7) + QStringLiteral("/updater/lib/libx.so.1.gz");
    const QByteArray original = TestSandbox::readFile(served);
    QByteArray wrong = original;
    wrong[wrong.size() / 2] = char(wrong[wrong.size() / 2] ^ 0x55);
    ASSERT_TRUE(TestSandbox::writeFile(served, wrong));

    Configuration config;
    configure(config, 0, 7);
    QString temp;
    {
        EngineRun run(&config);
        ASSERT_TRUE(run.start());
        temp = config.m_TempDir;
        ASSERT_TRUE(run.waitForEnd());
        ASSERT_TRUE(TestSandbox::writeFile(served, original));
        ASSERT_EQ(run.canceled.size(), 1);
        EXPECT_TRUE(run.messageTexts().contains(
            QStringLiteral("Signature check failed for %1/lib/libx.so.1.gz").arg(temp)))
            << run.messageTexts().join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(run.messageTexts().contains(QStringLiteral("User aborted update")));
    }
    EXPECT_FALSE(QFileInfo::exists(temp + QStringLiteral("/lib/libx.so.1.gz")));
    EXPECT_TRUE(QFileInfo::exists(UpdateIniData::installIniPath()));

    // With the server mended, the same version continues and completes.
    Configuration again;
    configure(again, 0, 7);
    EngineRun run(&again);
    ASSERT_TRUE(run.start());
    EXPECT_EQ(again.m_TempDir, temp);
    ASSERT_TRUE(run.waitForEnd());
    ASSERT_EQ(run.finished.size(), 1);
    EXPECT_EQ(TestSandbox::readFile(temp + QStringLiteral("/lib/libx.so.1.gz")), original);
}

// Previous session records and what initialize does with their directories.
TEST_F(SessionTest, AnotherVersionRemovesOnlyTheUpdatersOwnDirectory)
{
    const QString own = QDir::tempPath() + QStringLiteral("/quorvex_temp_77");
    ASSERT_TRUE(TestSandbox::writeFile(own + QStringLiteral("/sub/file"), "old download"));
    ASSERT_TRUE(UpdateIniData::modify(4, own, QString(), defaultClientType(1)));
    {
        Configuration config;
        configure(config, 1, 5);
        EngineRun run(&config);
        ASSERT_TRUE(run.engine.initialize());
        EXPECT_FALSE(QFileInfo::exists(own));
        EXPECT_TRUE(run.messageTexts().contains(
            QStringLiteral("Cleanup previous session (v. 4, %1) files...").arg(own)));
        EXPECT_TRUE(run.messageTexts().contains(QStringLiteral("Ok")));
        EXPECT_NE(config.m_TempDir, own);
        int version = 0;
        QString dir;
        ASSERT_TRUE(UpdateIniData::get(&version, nullptr, &dir, nullptr));
        EXPECT_EQ(version, 5);
        EXPECT_EQ(dir, config.m_TempDir);
    }

    // A record naming a directory the updater did not make: never emptied,
    // never continued, whatever the version.
    QTemporaryDir foreign(TestSandbox::home() + QStringLiteral("/documents-XXXXXX"));
    ASSERT_TRUE(
        TestSandbox::writeFile(foreign.path() + QStringLiteral("/precious.txt"), "keep me"));
    for (int recordedVersion : {4, 5}) {
        ASSERT_TRUE(UpdateIniData::modify(recordedVersion, foreign.path(), QString(),
                                          defaultClientType(1)));
        Configuration config;
        configure(config, 1, 5);
        EngineRun run(&config);
        ASSERT_TRUE(run.engine.initialize());
        EXPECT_EQ(TestSandbox::readFile(foreign.path() + QStringLiteral("/precious.txt")),
                  QByteArray("keep me"));
        EXPECT_NE(config.m_TempDir, foreign.path());
        EXPECT_TRUE(
            QFileInfo(config.m_TempDir).fileName().startsWith(QStringLiteral("quorvex_temp_")));
        QString dir;
        ASSERT_TRUE(UpdateIniData::get(nullptr, nullptr, &dir, nullptr));
        EXPECT_EQ(dir, config.m_TempDir);
    }
}

TEST_F(SessionTest, InvalidProxyReachesTheListenerAtInitialize)
{
    const QString proxy = QStringLiteral("http://[bad");
    ASSERT_FALSE(QUrl(proxy, QUrl::TolerantMode).isValid());
    {
        QSettings settings(UpdateIniData::installIniPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("update/proxy"), proxy);
    }
    Configuration config;
    configure(config, 1, 5);
    EngineRun run(&config); // the window connects after construction
    EXPECT_FALSE(run.engine.initialize());
    ASSERT_EQ(run.fatal.size(), 1);
    EXPECT_EQ(run.fatal.first().value(0).toString(),
              QStringLiteral("'http://[bad' is an invalid proxy specification"));
    EXPECT_FALSE(run.engine.isSessionActive());
}

} // namespace
