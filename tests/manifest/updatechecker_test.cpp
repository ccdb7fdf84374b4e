// The version query against nginx on loopback, with Versions messages written
// by Python's protobuf (an independent encoder) and by "qvxrelease versions",
// and the configuration's reactions to the answer.
#include "manifest/updatechecker.h"

#include "boxanswerer.h"
#include "nginxserver.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include "shell/appglobals.h"
#include "shell/configuration.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

const char kPythonScript[] = R"(import sys
sys.path.insert(0, sys.argv[1])
import UpdateMessage_pb2 as m
from google.protobuf import text_format

if sys.argv[2] == 'read':
    v = m.Versions()
    v.ParseFromString(open(sys.argv[3], 'rb').read())
    print(text_format.MessageToString(v, as_one_line=True))
    sys.exit(0)

out = sys.argv[3]
def write(name, v, partial=False):
    data = v.SerializePartialToString() if partial else v.SerializeToString()
    open(out + '/' + name, 'wb').write(data)
def channel(v, name, number, text):
    c = v.channels.add()
    c.name = name
    c.version_number = number
    c.version_string = text

v = m.Versions(licenseAgreementId=1)
channel(v, 'stable', 3, '3.0.0')
channel(v, 'beta', 4, '4.0 beta')
write('two', v)
v = m.Versions(licenseAgreementId=0)
channel(v, 'stable', 7, 'first')
channel(v, 'stable', 9, 'second')
write('duplicate', v)
v = m.Versions()
channel(v, 'stable', 3, '3.0.0')
write('nolicense', v, partial=True)
v = m.Versions(licenseAgreementId=2)
channel(v, 'alpha', -5, 'minus five')
write('negative', v)
write('nochannels', m.Versions(licenseAgreementId=5))
)";

bool run(const QString &program, const QStringList &args, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const bool ok = process.waitForFinished(30000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QByteArray text = process.readAll();
    if (output)
        *output = text;
    if (!ok)
        qWarning() << program << args << "failed:" << text;
    return ok;
}

// Runs one query and returns every update_available it gave.
QList<UpdateVersions> query(const QUrl &url)
{
    QPointer<UpdateChecker> checker = new UpdateChecker(url, nullptr);
    QSignalSpy spy(checker.data(), SIGNAL(update_available(UpdateVersions)));
    checker->checkForUpdate();
    spy.wait(10000);
    // A late second signal would come before the checker is gone.
    for (int waited = 0; checker && waited < 2000; waited += 20)
        QTest::qWait(20);
    EXPECT_TRUE(checker.isNull()) << "one checker serves one query";
    QList<UpdateVersions> results;
    for (const QList<QVariant> &args : spy)
        results << args.at(0).value<UpdateVersions>();
    return results;
}

UpdateVersions
versions(std::initializer_list<std::pair<const char *, QPair<QString, QString>>> list)
{
    UpdateVersions result;
    for (const auto &entry : list)
        result.insert(QLatin1String(entry.first), entry.second);
    return result;
}

QPair<QString, QString> release(const char *number, const char *text)
{
    return qMakePair(QLatin1String(number), QString::fromUtf8(text));
}

class UpdateCheckerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        qRegisterMetaType<UpdateVersions>("UpdateVersions");
        s_Root = new QTemporaryDir;
        s_Python = new QTemporaryDir;
        const QString root = s_Root->path();
        const QString py = s_Python->path();
        TestSandbox::writeFile(py + QStringLiteral("/make.py"), kPythonScript);
        TestSandbox::writeFile(root + QStringLiteral("/garbage"), "this is no message");
        s_Ready =
            run(QStringLiteral(QVX_PROTOC),
                {QStringLiteral("--proto_path=") + QStringLiteral(QVX_PROTO_DIR),
                 QStringLiteral("--python_out=") + py, QStringLiteral("UpdateMessage.proto")}) &&
            run(QStringLiteral("/usr/bin/python3"),
                {py + QStringLiteral("/make.py"), py, QStringLiteral("write"), root}) &&
            run(QStringLiteral(QVX_RELEASE_TOOL),
                {QStringLiteral("versions"), root + QStringLiteral("/tool"),
                 QStringLiteral("--channel"), QStringLiteral("stable:3:3.0.0"),
                 QStringLiteral("--channel"), QStringLiteral("beta:4:4.0 beta"),
                 QStringLiteral("--license"), QStringLiteral("1")});
        s_Nginx = new NginxServer;
        s_NginxOk = s_Nginx->start(root);
    }

    static void TearDownTestSuite()
    {
        delete s_Nginx;
        delete s_Python;
        delete s_Root;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_Ready) << "protoc, python3-protobuf or qvxrelease failed (see the log)";
        ASSERT_TRUE(s_NginxOk) << s_Nginx->errorText().toStdString();
    }

    static QTemporaryDir *s_Root;
    static QTemporaryDir *s_Python;
    static NginxServer *s_Nginx;
    static bool s_Ready;
    static bool s_NginxOk;
};

QTemporaryDir *UpdateCheckerTest::s_Root = nullptr;
QTemporaryDir *UpdateCheckerTest::s_Python = nullptr;
NginxServer *UpdateCheckerTest::s_Nginx = nullptr;
bool UpdateCheckerTest::s_Ready = false;
bool UpdateCheckerTest::s_NginxOk = false;

TEST_F(UpdateCheckerTest, DecodesWhatTheServerSends)
{
    const UpdateVersions two =
        versions({{"stable", release("3", "3.0.0")}, {"beta", release("4", "4.0 beta")}});
    const struct
    {
        const char *path;
        UpdateVersions expected;
    } cases[] = {
        {"/two", two},
        {"/tool", two},
        {"/duplicate", versions({{"stable", release("7", "first")}})},
        {"/nolicense", {}},
        {"/negative", versions({{"alpha", release("-5", "minus five")}})},
        {"/nochannels", {}},
        {"/garbage", {}},
        {"/missing", {}}, // nginx's 404 page is no message either
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const QList<UpdateVersions> results = query(QUrl(s_Nginx->url(QLatin1String(c.path))));
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results.first(), c.expected);
    }
}

TEST_F(UpdateCheckerTest, ReleaseToolWritesWhatPythonWrites)
{
    const QString root = s_Root->path();
    EXPECT_EQ(TestSandbox::readFile(root + QStringLiteral("/tool")),
              TestSandbox::readFile(root + QStringLiteral("/two")));

    // Python reads what the tool writes: order, negative numbers, colons.
    const QString out = root + QStringLiteral("/tool-read");
    ASSERT_TRUE(run(QStringLiteral(QVX_RELEASE_TOOL),
                    {QStringLiteral("versions"), out, QStringLiteral("--channel"),
                     QStringLiteral("beta:-2:b:2"), QStringLiteral("--channel"),
                     QStringLiteral("stable:2147483647:max")}));
    QByteArray text;
    ASSERT_TRUE(run(QStringLiteral("/usr/bin/python3"),
                    {s_Python->path() + QStringLiteral("/make.py"), s_Python->path(),
                     QStringLiteral("read"), out},
                    &text));
    EXPECT_EQ(text.trimmed(),
              QByteArray("licenseAgreementId: 0 channels { name: \"beta\" version_number: -2 "
                         "version_string: \"b:2\" } channels { name: \"stable\" version_number: "
                         "2147483647 version_string: \"max\" }"));
}

TEST_F(UpdateCheckerTest, ReleaseToolRejectsBadChannels)
{
    const QString out = s_Root->path() + QStringLiteral("/rejected");
    for (const char *channel : {"stable", "stable:3", ":3:x", "stable:x:y", "stable:2147483648:y",
                                "stable: 3:y", "stable:+3:y"}) {
        SCOPED_TRACE(channel);
        QProcess tool;
        tool.start(
            QStringLiteral(QVX_RELEASE_TOOL),
            {QStringLiteral("versions"), out, QStringLiteral("--channel"), QLatin1String(channel)});
        ASSERT_TRUE(tool.waitForFinished(10000));
        EXPECT_EQ(tool.exitCode(), 2);
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST(UpdateCheckerNetworkTest, UnreachableServerGivesOneEmptyAnswer)
{
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    const QList<UpdateVersions> results =
        query(QUrl(QStringLiteral("http://127.0.0.1:%1/qvx-client-2").arg(port)));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results.first().isEmpty());
}

// The configuration's side of the answer.
class VersionAnswerTest : public ::testing::Test
{
protected:
    VersionAnswerTest()
        : m_Ready(&m_Config, SIGNAL(ready()))
        , m_Fatal(&m_Config, SIGNAL(fatalError(QString)))
    {
        m_Config.m_Channel = 0;
    }

    QString fatalText() const
    {
        return m_Fatal.isEmpty() ? QString() : m_Fatal.last().at(0).toString();
    }

    Configuration m_Config;
    QSignalSpy m_Ready;
    QSignalSpy m_Fatal;
};

TEST_F(VersionAnswerTest, ChannelReleaseBecomesTheTarget)
{
    m_Config.m_Channel = 1;
    m_Config.on_updateAvailable(
        versions({{"stable", release("3", "3.0.0")}, {"beta", release("4", "4.0 beta")}}));
    EXPECT_EQ(m_Ready.size(), 1);
    EXPECT_TRUE(m_Fatal.isEmpty());
    EXPECT_TRUE(m_Config.m_Ready);
    EXPECT_EQ(m_Config.m_ClientVersion, 4);
    EXPECT_EQ(m_Config.m_VersionString, QStringLiteral("4.0 beta"));
}

TEST_F(VersionAnswerTest, MissingOrInvalidVersionIsFatal)
{
    m_Config.on_updateAvailable(versions({{"beta", release("4", "4.0 beta")}}));
    EXPECT_EQ(fatalText(), QStringLiteral("Update server returned no version"));

    m_Config.on_updateAvailable(versions({{"stable", release("-5", "minus")}}));
    EXPECT_EQ(fatalText(), QStringLiteral("Update server returned invalid version nr (-5)"));
    EXPECT_TRUE(m_Ready.isEmpty());
    EXPECT_FALSE(m_Config.m_Ready);
    EXPECT_EQ(m_Config.m_ClientVersion, 0);
}

TEST_F(VersionAnswerTest, FailedQueryIsToldOnTheWindowAndQuits)
{
    QWidget window;
    window.setObjectName(QStringLiteral("MainWindow"));
    window.show();
    BoxAnswerer answerer;
    QTimer::singleShot(0, [this] { m_Config.on_updateAvailable({}); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    ASSERT_EQ(answerer.boxes().size(), 1);
    const BoxAnswerer::Box &box = answerer.boxes().first();
    EXPECT_EQ(box.title, QStringLiteral("Error"));
    EXPECT_EQ(box.text,
              QStringLiteral("Failed to query latest client\nversion from update server."));
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Abort));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.parentName, QStringLiteral("MainWindow"));
    EXPECT_TRUE(m_Ready.isEmpty());
    EXPECT_TRUE(m_Fatal.isEmpty());
}

// Without a version on the command line the session waits for the version
// server compiled into the program (on loopback in test builds).
TEST_F(UpdateCheckerTest, CommandLineWithoutVersionWaitsForTheServer)
{
    const QUrl url(AppGlobals::versionQueryUrl());
    ASSERT_EQ(url.host(), QStringLiteral("127.0.0.1")) << "a product build asks a real server";
    QTemporaryDir root;
    ASSERT_TRUE(run(QStringLiteral(QVX_RELEASE_TOOL),
                    {QStringLiteral("versions"), root.path() + url.path(),
                     QStringLiteral("--channel"), QStringLiteral("stable:12:12.0 final")}));
    NginxServer server;
    ASSERT_TRUE(server.startOnPort(root.path(), quint16(url.port())))
        << "port " << url.port() << " taken? " << server.errorText().toStdString();

    Configuration config;
    QSignalSpy ready(&config, SIGNAL(ready()));
    ASSERT_TRUE(config.parseCommandLineOptions({QStringLiteral("update")}));
    EXPECT_FALSE(config.m_Ready);
    EXPECT_EQ(config.m_ClientVersion, 0);
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_TRUE(config.m_Ready);
    EXPECT_EQ(config.m_ClientVersion, 12);
    EXPECT_EQ(config.m_VersionString, QStringLiteral("12.0 final"));
}

} // namespace
