// The main window, offscreen, with the real engine, configuration and
// single-instance guard. Its message boxes are answered by a BoxAnswerer;
// paths that end the application run inside QApplication::exec(), whose
// result is the exit code the program would end with.
#include "ui/mainwindow.h"

#include "boxanswerer.h"
#include "nginxserver.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include "manifest/rsaverifier.h"
#include "session/maintaskspecification.h"
#include "session/updateengine.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"
#include "shell/singleinstancechecker.h"
#include "shell/updateinidata.h"
#include "ui/banner.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace {

QString tempFile(const char *name)
{
    return QDir::tempPath() + QLatin1Char('/') + QLatin1String(name);
}

// Runs trigger inside the application's event loop and returns the code the
// loop ended with; 99 when nothing ended it within timeoutMs.
int runApplication(const std::function<void()> &trigger, int timeoutMs = 20000)
{
    QTimer::singleShot(0, trigger);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(timeoutMs);
    return QApplication::exec();
}

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A server that accepts every connection and never answers: a session
// against it stays in its first download for as long as a test needs.
class SilentServer
{
public:
    SilentServer()
    {
        m_Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_Server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_Server.nextPendingConnection())
                m_Sockets.push_back(socket);
        });
    }
    QString url() const
    {
        return QStringLiteral("http://127.0.0.1:%1/").arg(m_Server.serverPort());
    }

private:
    QTcpServer m_Server;
    std::vector<QTcpSocket *> m_Sockets;
};

class MainWindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RsaVerifier::initCrypto(); }

    void SetUp() override
    {
        // A cached banner keeps every window of these tests off the network.
        ASSERT_TRUE(TestSandbox::writeFile(tempFile("quorvex_banner.jpg"), pngBytes(468, 60)));
        ASSERT_TRUE(TestSandbox::writeFile(tempFile("quorvex_banner.txt"), "https%3A%2F%2Fad"));
        m_Config.m_ClientType = defaultClientType(1);
    }

    void TearDown() override
    {
        AppGlobals::setChannelBaseUrl(QString());
        QFile::remove(UpdateIniData::installIniPath());
        TestSandbox::removeSessionDirectories();
        for (const char *name : {"quorvex_banner.jpg", "quorvex_banner.txt", "qvx_force_update",
                                 "qvx_force_update_check"})
            QDir(tempFile(name)).removeRecursively(), QFile::remove(tempFile(name));
    }

    // A client update of version 5 that may start at once.
    void makeReady()
    {
        m_Config.m_UpdateMode = 1;
        m_Config.m_ClientVersion = 5;
        m_Config.m_Ready = true;
    }

    static int sessionCount(const MainWindow &window)
    {
        return window.engine()->findChildren<MainTaskSpecification *>().size();
    }

    Configuration m_Config;
};

struct HeaderCase
{
    int channel;
    int mode;
    const char *versionString;
    const char *expected;
};

class MainWindowHeaderTest : public MainWindowTest, public ::testing::WithParamInterface<HeaderCase>
{
};

TEST_P(MainWindowHeaderTest, ShowsVersionChannelAndStep)
{
    const HeaderCase &c = GetParam();
    m_Config.m_Channel = c.channel;
    m_Config.m_UpdateMode = c.mode;
    m_Config.m_VersionString = QString::fromUtf8(c.versionString);
    MainWindow window(&m_Config);
    window.updateHeader();
    EXPECT_EQ(window.versionLabel->text(), QString::fromUtf8(c.expected));
}

#define STEP_ONE "<div style=\"margin-top:4px;font-style:italic\">Step one: Updating updater</div>"
#define STEP_TWO                                                                                   \
    "<div style=\"margin-top:4px;font-style:italic\">Step two: Updating Quorvex client</div>"
#define CHANNEL(name)                                                                              \
    "<div style=\"margin-top:4px\">You are currently on <strong>" name " channel</strong>.</div>"
#define HEADLINE(text)                                                                             \
    "<div style=\"font-weight:bold;font-size:14px\">Update to Quorvex " text "</div>"

INSTANTIATE_TEST_SUITE_P(
    Headers, MainWindowHeaderTest,
    ::testing::Values(HeaderCase{0, 0, "", CHANNEL("Stable") STEP_ONE},
                      HeaderCase{1, 1, "", CHANNEL("Beta") STEP_TWO},
                      HeaderCase{2, 0, "", CHANNEL("Alpha") STEP_ONE},
                      HeaderCase{3, 1, "", CHANNEL("") STEP_TWO},
                      HeaderCase{0, 1, "3.0.0", HEADLINE("3.0.0") CHANNEL("Stable") STEP_TWO},
                      HeaderCase{2, 0, "7 beta", HEADLINE("7 beta") CHANNEL("Alpha") STEP_ONE},
                      // Text from the command line or a server is never markup.
                      HeaderCase{1, 0, "<b>4</b>",
                                 HEADLINE("&lt;b&gt;4&lt;/b&gt;") CHANNEL("Beta") STEP_ONE}),
    [](const ::testing::TestParamInfo<HeaderCase> &param) {
        return "Case" + std::to_string(param.index);
    });

TEST_F(MainWindowTest, FormAsTheUserSeesIt)
{
    MainWindow window(&m_Config);
    EXPECT_EQ(window.objectName(), QStringLiteral("MainWindow"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvex 3 Client Update"));
    EXPECT_EQ(window.totalProgressBar->maximum(), 1000);
    EXPECT_EQ(window.quorvexLabel->url(), AppGlobals::websiteUrl());
    EXPECT_EQ(window.quorvexLabel->pixmap(Qt::ReturnByValue).size(), QSize(48, 48));
    EXPECT_TRUE(window.banner->url().isEmpty() ||
                window.banner->url() == QLatin1String("https://ad"));
    EXPECT_TRUE(window.copyrightLabel->text().contains(AppGlobals::websiteUrl()));
    EXPECT_EQ(AppGlobals::mainWindow(), &window);

    window.show();
    EXPECT_FALSE(window.outputTextEdit->isVisible());
    window.detailsButton->click();
    EXPECT_TRUE(window.outputTextEdit->isVisible());
    window.detailsButton->click();
    EXPECT_FALSE(window.outputTextEdit->isVisible());
}

TEST_F(MainWindowTest, GlobalPointerEndsWithTheWindow)
{
    {
        MainWindow window(&m_Config);
        EXPECT_EQ(AppGlobals::mainWindow(), &window);
    }
    EXPECT_EQ(AppGlobals::mainWindow(), nullptr);
}

TEST_F(MainWindowTest, ProgressIsPerMilleAndOutOfRangeIsIgnored)
{
    MainWindow window(&m_Config);
    struct Step
    {
        double frac;
        int expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Step &step :
         {Step{0.5, 500}, Step{0.0015, 1}, Step{0.9999, 999}, Step{1.0, 1000}, Step{1.5, 1000},
          Step{0.25, 250}, Step{-0.1, 250}, Step{nan, 250}, Step{1e300, 250}, Step{0.0, 0}}) {
        emit window.engine()->updateProgress(step.frac);
        EXPECT_EQ(window.totalProgressBar->value(), step.expected) << step.frac;
    }
}

TEST_F(MainWindowTest, StartsOnlyWhenReadyAndOnlyOnce)
{
    QTemporaryDir channel;
    NginxServer nginx;
    ASSERT_TRUE(nginx.start(channel.path())) << nginx.errorText().toStdString();
    AppGlobals::setChannelBaseUrl(nginx.url(QStringLiteral("/")));

    BoxAnswerer answerer;
    MainWindow window(&m_Config);
    window.show();

    // Still waiting for the version: neither the start timer nor a stray
    // ready starts a session.
    m_Config.m_UpdateMode = 1;
    QMetaObject::invokeMethod(&window, "onStartUpdate");
    EXPECT_EQ(window.engine()->state(), UpdateEngine::PRE_INIT);

    makeReady();
    emit m_Config.ready();
    EXPECT_EQ(window.engine()->state(), UpdateEngine::RUNNING);
    emit m_Config.ready();
    QMetaObject::invokeMethod(&window, "onStartUpdate");
    EXPECT_EQ(sessionCount(window), 1);

    // The release is missing: the session is cancelled, the window says so
    // once and stays open with the progress back at 0. A second report while
    // the box is open adds a line but no box.
    int hooked = 0;
    answerer.setOnBox([&window, &hooked](QMessageBox *) {
        EXPECT_TRUE(window.isVisible());
        if (hooked++ == 0)
            emit window.engine()->updateCanceled();
    });
    for (int waited = 0; answerer.boxes().isEmpty() && waited < 15000; waited += 50)
        QTest::qWait(50);
    QTest::qWait(200);
    ASSERT_EQ(answerer.boxes().size(), 1);
    const BoxAnswerer::Box &box = answerer.boxes().first();
    EXPECT_EQ(box.title, QStringLiteral("Update"));
    EXPECT_EQ(box.text, QStringLiteral("Update cancelled. Push \"Details\" to check reasons."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.totalProgressBar->value(), 0);
    EXPECT_EQ(window.engine()->state(), UpdateEngine::PRE_INIT);
    const QString log = window.outputTextEdit->toPlainText();
    EXPECT_EQ(log.count(QStringLiteral("Update cancelled")), 2) << log;
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to download"))) << log;

    // A cancelled session is not started again by a late ready.
    emit m_Config.ready();
    EXPECT_EQ(window.engine()->state(), UpdateEngine::PRE_INIT);

    // Closing after the cancellation is accepted at once; step two drops the
    // cached banner.
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(answerer.boxes().size(), 1);
    EXPECT_FALSE(QFile::exists(tempFile("quorvex_banner.jpg")));
    EXPECT_FALSE(QFile::exists(tempFile("quorvex_banner.txt")));
}

TEST_F(MainWindowTest, CloseDuringSessionAsksAndAbortsOnYes)
{
    SilentServer server;
    AppGlobals::setChannelBaseUrl(server.url());
    makeReady();

    BoxAnswerer answerer({QMessageBox::No, QMessageBox::Yes});
    MainWindow window(&m_Config);
    window.show();
    QMetaObject::invokeMethod(&window, "onStartUpdate");
    ASSERT_EQ(window.engine()->state(), UpdateEngine::RUNNING);

    window.close();
    ASSERT_EQ(answerer.boxes().size(), 1);
    const BoxAnswerer::Box &question = answerer.boxes().first();
    EXPECT_EQ(question.title, QStringLiteral("Question"));
    EXPECT_EQ(question.text,
              QStringLiteral("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"));
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(question.defaultButton, QMessageBox::NoButton);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.engine()->state(), UpdateEngine::RUNNING);

    // Yes cancels the session and the application quits once the engine
    // reports it; a further close meanwhile asks nothing.
    const int code = runApplication([&window] {
        window.close();
        window.close();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(answerer.boxes().size(), 2);
    EXPECT_EQ(window.engine()->state(), UpdateEngine::CANCELED);
}

TEST_F(MainWindowTest, CloseWithoutSessionKeepsTheBannerInStepOne)
{
    for (const int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        SetUp();
        m_Config.m_UpdateMode = mode;
        BoxAnswerer answerer;
        MainWindow window(&m_Config);
        window.show();
        EXPECT_TRUE(window.close());
        EXPECT_FALSE(window.isVisible());
        EXPECT_TRUE(answerer.boxes().isEmpty());
        EXPECT_EQ(QFile::exists(tempFile("quorvex_banner.jpg")), mode == 0);
        EXPECT_EQ(QFile::exists(tempFile("quorvex_banner.txt")), mode == 0);
    }
}

struct RebootCase
{
    QMessageBox::StandardButton answer;
    const char *written;
    const char *absent;
};

class MainWindowRebootTest : public MainWindowTest, public ::testing::WithParamInterface<RebootCase>
{
};

TEST_P(MainWindowRebootTest, AnswerIsLeftInAMarkerFileAndTheApplicationQuits)
{
    const RebootCase &c = GetParam();
    BoxAnswerer answerer({c.answer});
    MainWindow window(&m_Config);
    window.show();
    // As an install command's worker thread reaches it: queued, through the
    // global pointer.
    const int code = runApplication([] {
        QMetaObject::invokeMethod(AppGlobals::mainWindow(), "onRebootWithConfirmation",
                                  Qt::QueuedConnection);
    });
    EXPECT_EQ(code, 0);
    ASSERT_EQ(answerer.boxes().size(), 1);
    const BoxAnswerer::Box &box = answerer.boxes().first();
    EXPECT_EQ(box.title, QStringLiteral("Confirm reboot"));
    EXPECT_TRUE(box.text.contains(QStringLiteral("Do you want to reboot now?")));
    EXPECT_EQ(box.defaultButton, QMessageBox::Yes);
    EXPECT_TRUE(QFile::exists(tempFile(c.written)));
    EXPECT_EQ(QFile(tempFile(c.written)).size(), 0);
    EXPECT_FALSE(QFile::exists(tempFile(c.absent)));

    // The restart question means no program is started at the end.
    window.close();
    emit window.engine()->updateFinished();
    QTest::qWait(1300);
    EXPECT_FALSE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MainWindowRebootTest,
    ::testing::Values(RebootCase{QMessageBox::Yes, "qvx_force_update", "qvx_force_update_check"},
                      RebootCase{QMessageBox::No, "qvx_force_update_check", "qvx_force_update"}),
    [](const ::testing::TestParamInfo<RebootCase> &param) {
        return param.param.answer == QMessageBox::Yes ? std::string("Yes") : std::string("No");
    });

TEST_F(MainWindowTest, UnwritableMarkerIsReportedInTheLog)
{
    MainWindow window(&m_Config);
    ASSERT_TRUE(QDir().mkpath(tempFile("qvx_force_update")));
    window.write_force_update_file(QStringLiteral("qvx_force_update"));
    EXPECT_TRUE(window.outputTextEdit->toPlainText().contains(
        QStringLiteral("Failed to store force update notice")));
}

TEST_F(MainWindowTest, MarkersAreDeletedOnlyInStepOne)
{
    for (const int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        m_Config.m_UpdateMode = mode;
        MainWindow window(&m_Config);
        window.write_force_update_file(QStringLiteral("qvx_force_update"));
        window.write_force_update_file(QStringLiteral("qvx_force_update_check"));
        window.delete_force_update_files();
        EXPECT_EQ(QFile::exists(tempFile("qvx_force_update")), mode == 1);
        EXPECT_EQ(QFile::exists(tempFile("qvx_force_update_check")), mode == 1);
    }
}

TEST_F(MainWindowTest, OtherInstanceBringsTheWindowForwardOnlyWithHash)
{
    MainWindow window(&m_Config);
    window.show();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));

    ASSERT_TRUE(SingleInstanceChecker::sendToRunningInstance(QStringLiteral("hello")));
    QTest::qWait(300);
    EXPECT_EQ(QApplication::activeWindow(), &other);

    ASSERT_TRUE(SingleInstanceChecker::sendToRunningInstance(QStringLiteral("#")));
    EXPECT_TRUE(QTest::qWaitFor([&window] { return QApplication::activeWindow() == &window; }));
}

TEST_F(MainWindowTest, ErrorsShowABoxAndFatalOnesEndWithTheirCode)
{
    BoxAnswerer answerer;
    MainWindow window(&m_Config);
    window.show();

    emit window.engine()->error(QStringLiteral("Disk full"));
    ASSERT_EQ(answerer.boxes().size(), 1);
    EXPECT_EQ(answerer.boxes().at(0).title, QStringLiteral("Error"));
    EXPECT_EQ(answerer.boxes().at(0).text, QStringLiteral("Disk full"));
    EXPECT_TRUE(window.outputTextEdit->toPlainText().contains(QStringLiteral("Disk full")));
    EXPECT_TRUE(window.isVisible());

    EXPECT_EQ(runApplication([&window] { emit window.engine()->fatalError(QStringLiteral("A")); }),
              2);
    EXPECT_EQ(runApplication([this] { emit m_Config.fatalError(QStringLiteral("B")); }), 1);
    ASSERT_EQ(answerer.boxes().size(), 3);
    EXPECT_EQ(answerer.boxes().at(1).text, QStringLiteral("A"));
    EXPECT_EQ(answerer.boxes().at(2).text, QStringLiteral("B"));
    EXPECT_EQ(answerer.boxes().at(2).icon, QMessageBox::Critical);
}

TEST_F(MainWindowTest, BannerIsShownAndCachedForTheNextStart)
{
    QFile::remove(tempFile("quorvex_banner.jpg"));
    QFile::remove(tempFile("quorvex_banner.txt"));
    const QString clickUrl = QStringLiteral("https://example.org/ä?x=1 2");
    {
        MainWindow window(&m_Config);
        // No image: nothing shown, nothing cached.
        QMetaObject::invokeMethod(&window, "onBannerFound", Q_ARG(QByteArray, "<html>"),
                                  Q_ARG(QString, clickUrl));
        // An image of absurd dimensions is not decoded at all.
        QMetaObject::invokeMethod(
            &window, "onBannerFound",
            Q_ARG(QByteArray,
                  pngBytes(1, 1).replace(16, 8, QByteArray::fromHex("0001000000010000"))),
            Q_ARG(QString, clickUrl));
        EXPECT_TRUE(window.banner->url().isEmpty());
        EXPECT_FALSE(QFile::exists(tempFile("quorvex_banner.jpg")));

        QMetaObject::invokeMethod(&window, "onBannerFound", Q_ARG(QByteArray, pngBytes(468, 60)),
                                  Q_ARG(QString, clickUrl));
        EXPECT_EQ(window.banner->url(), clickUrl);
        ASSERT_FALSE(window.banner->pixmap(Qt::ReturnByValue).isNull());
        EXPECT_EQ(window.banner->pixmap(Qt::ReturnByValue).size(), QSize(468, 60));
        EXPECT_EQ(window.banner->toolTip(),
                  QStringLiteral("Click to open \"https://example.org\""));
    }
    EXPECT_EQ(QImage(tempFile("quorvex_banner.jpg"), "JPG").size(), QSize(468, 60));
    EXPECT_EQ(TestSandbox::readFile(tempFile("quorvex_banner.txt")),
              QByteArray("https%3A%2F%2Fexample.org%2F%C3%A4%3Fx%3D1%202"));

    // The next window shows the cached banner at once, without a lookup.
    MainWindow next(&m_Config);
    EXPECT_EQ(next.banner->url(), clickUrl);
    EXPECT_TRUE(next.engine()->findChildren<Banner *>().isEmpty());
}

} // namespace
