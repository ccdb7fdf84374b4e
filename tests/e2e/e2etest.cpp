#include "e2etest.h"

#include "qtprinters.h"
#include "testsandbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace E2E {

namespace {

QString s_ReleasesError;

bool runTool(const QString &program, const QStringList &args, int timeoutMs, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return false;
    const bool finished = process.waitForFinished(timeoutMs);
    *output = QString::fromLocal8Bit(process.readAll());
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool copyTree(const QString &from, const QString &to)
{
    QString output;
    return runTool(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}, 60000, &output);
}

QString readLink(const QString &path)
{
    return QFileInfo(path).symLinkTarget();
}

} // namespace

void E2ETest::SetUpTestSuite()
{
    // New files get this mode's complement; the release trees are made for
    // it (scripts/make-demo-releases).
    ::umask(022);
    if (QFileInfo::exists(releases() + QStringLiteral("/www/qvx-client-2")))
        return;
    QString output;
    if (!runTool(QStringLiteral("bash"),
                 {QStringLiteral(QVX_SOURCE_DIR "/scripts/make-demo-releases"),
                  QStringLiteral(QVX_BUILD_DIR), releases()},
                 300000, &output)) {
        s_ReleasesError = QStringLiteral("make-demo-releases failed:\n") + output;
        return;
    }
    // The alpha channel: the same releases under a URL of their own.
    QFile::link(QStringLiteral("updater-images/client"),
                releases() + QStringLiteral("/www/alpha-channel"));
}

QString E2ETest::releases()
{
    return TestSandbox::root() + QStringLiteral("/releases");
}

QString E2ETest::releaseTree(const QString &product, int version)
{
    return releases() + QStringLiteral("/trees/%1-%2").arg(product).arg(version);
}

void E2ETest::SetUp()
{
    ASSERT_TRUE(s_ReleasesError.isEmpty()) << s_ReleasesError;
    ASSERT_TRUE(m_Root.isValid());
    for (const char *dir : {"home/documents", "tmp", "config", "neighbour"})
        ASSERT_TRUE(QDir().mkpath(path(QLatin1String(dir))));
    // The marker turns the updater's log file on.
    ASSERT_TRUE(TestSandbox::writeFile(path(QStringLiteral("tmp/qvx_update_log")), {}));
    ASSERT_TRUE(copyTree(releaseTree(QStringLiteral("client"), oldVersion), install()));
    ASSERT_TRUE(TestSandbox::writeFile(path(QStringLiteral("home/documents/notes.txt")), "mine"));
    ASSERT_TRUE(TestSandbox::writeFile(path(QStringLiteral("config/settings.ini")), "[a]\nb=1\n"));
    ASSERT_TRUE(TestSandbox::writeFile(path(QStringLiteral("neighbour/keep.bin")), "keep"));
    m_UserFilesBefore = userFiles();
    m_ChannelRoot = releases() + QStringLiteral("/www");
}

void E2ETest::TearDown()
{
    killSandboxProcesses();
    m_Server.stop();
}

QString E2ETest::path(const QString &relative) const
{
    return m_Root.path() + QLatin1Char('/') + relative;
}

void E2ETest::usePrivateChannel()
{
    const QString copy = path(QStringLiteral("www"));
    ASSERT_TRUE(copyTree(releases() + QStringLiteral("/www"), copy));
    m_ChannelRoot = copy;
}

bool E2ETest::startServer(int limitRate)
{
    m_Server.setAccessLog(true);
    m_Server.setLimitRate(limitRate);
    return m_Server.startOnPort(m_ChannelRoot, builtInPort);
}

QList<Request> E2ETest::requests() const
{
    // The combined format: ... "GET /path HTTP/1.1" status bytes ...
    static const QRegularExpression line(QStringLiteral("\"[A-Z]+ (\\S+) [^\"]*\" (\\d+) (\\d+)"));
    QList<Request> result;
    const QByteArray text = TestSandbox::readFile(m_Server.accessLogPath());
    for (const QByteArray &raw : text.split('\n')) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(raw));
        if (match.hasMatch())
            result << Request{match.captured(1), match.captured(2).toInt(),
                              match.captured(3).toLongLong()};
    }
    return result;
}

QProcessEnvironment E2ETest::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    env.insert(QStringLiteral("TMPDIR"), tempDir());
    env.insert(QStringLiteral("QVX_CONFIG_DIR"), configDir() + QLatin1Char('/'));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = m_ExtraEnvironment.begin(); it != m_ExtraEnvironment.end(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

bool E2ETest::run(const QString &exe, const QStringList &args, int timeoutMs, int *exitCode)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(QFileInfo(exe).path());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(exe, args);
    if (!process.waitForStarted(10000))
        return false;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

bool E2ETest::launch(const QString &exe, const QStringList &args)
{
    QProcess process;
    process.setProgram(exe);
    process.setArguments(args);
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(QFileInfo(exe).path());
    process.setStandardOutputFile(QProcess::nullDevice());
    return process.startDetached();
}

QList<qint64> E2ETest::sandboxProcesses() const
{
    // A process runs from the sandbox when its executable or its command
    // line lies below it; its descendants (a sleep of a script) count too.
    const QString root = m_Root.path() + QLatin1Char('/');
    const QByteArray rootBytes = root.toUtf8();
    const qint64 self = ::getpid();
    QList<qint64> found;
    QMap<qint64, qint64> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const QString dir = QStringLiteral("/proc/") + entry;
        const QByteArray stat = TestSandbox::readFile(dir + QStringLiteral("/stat"));
        // pid (name) state ppid ...: the name may hold spaces, so read after ")".
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 2 || fields.at(0) == "Z")
            continue;
        parents.insert(pid, fields.at(1).toLongLong());
        const QByteArray cmdline = TestSandbox::readFile(dir + QStringLiteral("/cmdline"));
        if (readLink(dir + QStringLiteral("/exe")).startsWith(root) || cmdline.contains(rootBytes))
            found << pid;
    }
    bool grew = true;
    while (grew) {
        grew = false;
        for (auto it = parents.begin(); it != parents.end(); ++it) {
            if (!found.contains(it.key()) && found.contains(it.value())) {
                found << it.key();
                grew = true;
            }
        }
    }
    return found;
}

QList<qint64> E2ETest::stepTwoProcesses() const
{
    const QString prefix = tempDir() + QStringLiteral("/quorvex_temp_");
    QList<qint64> found;
    for (const qint64 pid : sandboxProcesses()) {
        if (readLink(QStringLiteral("/proc/%1/exe").arg(pid)).startsWith(prefix))
            found << pid;
    }
    return found;
}

void E2ETest::killSandboxProcesses()
{
    for (int round = 0; round < 100; ++round) {
        const QList<qint64> pids = sandboxProcesses();
        if (pids.isEmpty())
            return;
        for (const qint64 pid : pids)
            ::kill(pid_t(pid), SIGKILL);
        QThread::msleep(20);
    }
}

bool E2ETest::waitForQuiet(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (sandboxProcesses().isEmpty())
            return true;
        QThread::msleep(50);
    }
    return false;
}

QStringList E2ETest::sessionDirs() const
{
    return QDir(tempDir()).entryList({QStringLiteral("quorvex_temp_*")}, QDir::Dirs);
}

QStringList E2ETest::stepTwoArguments() const
{
    return {QStringLiteral("--clientupdate"), QStringLiteral("client_linux_amd64"),
            QString::number(newVersion), QStringLiteral("3.2.0")};
}

QByteArray E2ETest::logText() const
{
    QByteArray text;
    const QDir dir(tempDir() + QStringLiteral("/quorvex_update_log"));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        text += TestSandbox::readFile(dir.filePath(name));
    return text;
}

bool E2ETest::waitForLog(const QByteArray &text, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (logText().contains(text))
            return true;
        QThread::msleep(5);
    }
    return false;
}

int E2ETest::clientStarts() const
{
    return TestSandbox::readFile(path(QStringLiteral("config/client_started.log"))).count('\n');
}

Tree E2ETest::userFiles() const
{
    Tree tree;
    for (const char *dir : {"home/documents", "neighbour"}) {
        const Tree part = snapshot(path(QLatin1String(dir)));
        for (auto it = part.begin(); it != part.end(); ++it)
            tree.insert(QLatin1String(dir) + QLatin1Char('/') + it.key(), it.value());
    }
    tree.insert(QStringLiteral("config/settings.ini"),
                Node{TestSandbox::readFile(path(QStringLiteral("config/settings.ini"))),
                     QFileInfo(path(QStringLiteral("config/settings.ini"))).permissions()});
    return tree;
}

void E2ETest::startAgainFromOldRelease()
{
    killSandboxProcesses();
    m_Server.stop();
    QDir(install()).removeRecursively();
    ASSERT_TRUE(copyTree(releaseTree(QStringLiteral("client"), oldVersion), install()));
    QDir(tempDir()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(tempDir()));
    ASSERT_TRUE(TestSandbox::writeFile(path(QStringLiteral("tmp/qvx_update_log")), {}));
    for (const char *name :
         {"client_started.log", "postinstall.log", "preinstall.log", "update.ini"})
        QFile::remove(configDir() + QLatin1Char('/') + QLatin1String(name));
}

void E2ETest::expectUpdated(const QString &tree)
{
    EXPECT_EQ(
        differences(
            snapshot(tree.isEmpty() ? releaseTree(QStringLiteral("client"), newVersion) : tree),
            snapshot(install())),
        QStringList());
    EXPECT_EQ(sessionDirs(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(install() + QStringLiteral("/update.ini")));
    EXPECT_EQ(clientStarts(), 1);
    EXPECT_EQ(differences(m_UserFilesBefore, userFiles()), QStringList());
}

} // namespace E2E
