// The real update executable, offscreen, started from a copy in an
// installation of its own. A preloaded answerer closes its message boxes and
// writes down what they and the window showed.
#include "nginxserver.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Program
{
public:
    explicit Program(bool withTranslation)
    {
        m_Exe = m_Install.path() + QStringLiteral("/update");
        m_Ok = QFile::copy(TestSandbox::updateExecutable(), m_Exe);
        if (withTranslation) {
            QDir(m_Install.path()).mkpath(QStringLiteral("translations"));
            m_Ok = m_Ok &&
                   QFile::copy(QStringLiteral(QVX_GERMAN_QM),
                               m_Install.path() + QStringLiteral("/translations/update_de.qm"));
        }
        // The log marker, and a cached banner that keeps the run off the
        // banner server.
        TestSandbox::writeFile(m_Temp.path() + QStringLiteral("/qvx_update_log"), {});
        TestSandbox::writeFile(m_Temp.path() + QStringLiteral("/quorvex_banner.jpg"), "x");
        TestSandbox::writeFile(m_Temp.path() + QStringLiteral("/quorvex_banner.txt"), "y");
    }

    ~Program()
    {
        m_Process.kill();
        m_Process.waitForFinished(5000);
    }

    bool isValid() const { return m_Ok && m_Install.isValid() && m_Temp.isValid(); }

    void start(const QStringList &args, const char *locale, const char *answers = "")
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_Temp.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QLatin1String(locale));
        env.insert(QStringLiteral("LC_ALL"), QLatin1String(locale));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QVX_BOXANSWERER_PRELOAD));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
        env.insert(QStringLiteral("QVX_TEST_BOX_LOG"), boxLogPath());
        env.insert(QStringLiteral("QVX_TEST_BOX_ANSWERS"), QLatin1String(answers));
        m_Process.setProcessEnvironment(env);
        m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_Process.start(m_Exe, args);
        m_Process.waitForStarted();
    }

    QProcess &process() { return m_Process; }
    QString boxLogPath() const { return m_Temp.path() + QStringLiteral("/boxes.txt"); }
    QStringList boxLog() const
    {
        return QString::fromUtf8(TestSandbox::readFile(boxLogPath()))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QByteArray log() const
    {
        QByteArray text;
        const QDir dir(m_Temp.path() + QStringLiteral("/quorvex_update_log"));
        for (const QString &name : dir.entryList(QDir::Files))
            text += TestSandbox::readFile(dir.filePath(name));
        return text;
    }

    // Waits until the box log has a line starting with prefix.
    QString waitForLine(const QString &prefix, int timeoutMs = 15000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QString &line : boxLog()) {
                if (line.startsWith(prefix))
                    return line;
            }
            QThread::msleep(50);
        }
        return {};
    }

private:
    QTemporaryDir m_Install;
    QTemporaryDir m_Temp;
    QString m_Exe;
    QProcess m_Process;
    bool m_Ok = false;
};

bool portAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(300);
}

struct LanguageCase
{
    const char *name;
    const char *locale;
    bool withTranslation;
    const char *expectedBox;
};

class UpdateProgramLanguageTest : public ::testing::TestWithParam<LanguageCase>
{
};

// A rejected command line is reported in a box in the user's language, then
// the program ends with exit code 1.
TEST_P(UpdateProgramLanguageTest, RejectedCommandLineInTheUsersLanguage)
{
    const LanguageCase &c = GetParam();
    Program program(c.withTranslation);
    ASSERT_TRUE(program.isValid());
    program.start({QStringLiteral("client_linux_x86"), QStringLiteral("abc")}, c.locale);
    ASSERT_TRUE(program.process().waitForFinished(15000));
    EXPECT_EQ(program.process().exitCode(), 1);
    EXPECT_EQ(program.boxLog(), QStringList{QString::fromUtf8(c.expectedBox)});
}

INSTANTIATE_TEST_SUITE_P(
    Languages, UpdateProgramLanguageTest,
    ::testing::Values(LanguageCase{"German", "de_DE.UTF-8", true,
                                   "box\tFehler\tUngültige Versionsnummer (abc)"},
                      LanguageCase{"GermanWithoutFile", "de_DE.UTF-8", false,
                                   "box\tError\tInvalid version nr (abc)"},
                      LanguageCase{"English", "C", true, "box\tError\tInvalid version nr (abc)"}),
    [](const ::testing::TestParamInfo<LanguageCase> &param) { return param.param.name; });

// Started without a version, the program asks the version server compiled
// into it (loopback in test builds), puts the answer in its header and only
// then starts the session.
TEST(UpdateProgramTest, WindowWaitsForTheVersionServer)
{
    const QUrl url(QStringLiteral(QVX_VERSION_QUERY_URL));
    ASSERT_EQ(url.host(), QStringLiteral("127.0.0.1"));
    QTemporaryDir root;
    QProcess tool;
    tool.start(QStringLiteral(QVX_RELEASE_TOOL),
               {QStringLiteral("versions"), root.path() + url.path(), QStringLiteral("--channel"),
                QStringLiteral("stable:41:4.1 final")});
    ASSERT_TRUE(tool.waitForFinished(10000) && tool.exitCode() == 0);
    NginxServer server;
    ASSERT_TRUE(server.startOnPort(root.path(), quint16(url.port())))
        << server.errorText().toStdString();

    Program program(true);
    ASSERT_TRUE(program.isValid());
    program.start({}, "de_DE.UTF-8");
    // No release 41 on the channel: the session is cancelled and says so.
    const QString box = program.waitForLine(QStringLiteral("box\t"));
    EXPECT_EQ(box,
              QStringLiteral("box\tAktualisierung\tAktualisierung abgebrochen. Unter „Details“ "
                             "finden Sie die Gründe."));
    EXPECT_TRUE(program.waitForLine(QStringLiteral("window\tQuorvex 3 Client-Aktualisierung\t"))
                    .contains(QStringLiteral("Schritt eins")));
    EXPECT_EQ(program.process().state(), QProcess::Running) << "the window stays open";

    const QByteArray log = program.log();
    const int answer =
        log.indexOf("Received version from remote server: QPair(\"41\",\"4.1 final\")");
    const int started = log.indexOf("Starting update");
    ASSERT_GE(answer, 0) << log.constData();
    EXPECT_GT(started, answer);
    EXPECT_TRUE(log.contains("Requesting download of QUrl(\"http://127.0.0.1:18765/updater-images/"
                             "client/41/update_linux_amd64.ini"))
        << log.constData();
}

TEST(UpdateProgramTest, UnreachableVersionServerIsToldAndQuits)
{
    const QUrl url(QStringLiteral(QVX_VERSION_QUERY_URL));
    if (portAnswers(quint16(url.port())))
        GTEST_SKIP() << "something outside this test serves port " << url.port();
    Program program(false);
    ASSERT_TRUE(program.isValid());
    program.start({}, "C");
    ASSERT_TRUE(program.process().waitForFinished(15000));
    EXPECT_EQ(program.process().exitCode(), 0);
    const QStringList boxes = program.boxLog().filter(QStringLiteral("box\t"));
    EXPECT_EQ(boxes,
              QStringList{QStringLiteral(
                  "box\tError\tFailed to query latest client\\nversion from update server.")});
    EXPECT_FALSE(program.log().contains("Starting update"));
}

} // namespace
