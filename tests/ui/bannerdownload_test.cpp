// The engine's side of the banner: the cached files, the lookup at the
// banner server (a UDP server of the test's own on loopback) and the image
// download with its size limit (nginx on loopback).
#include "session/updateengine.h"

#include "nginxserver.h"
#include "qtprinters.h"
#include "testsandbox.h"

#include "shell/configuration.h"
#include "ui/banner.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

QString tempFile(const char *name)
{
    return QDir::tempPath() + QLatin1Char('/') + QLatin1String(name);
}

// Answers every request on loopback port 2009 with one fixed datagram.
class BannerServer
{
public:
    explicit BannerServer(const QByteArray &reply)
    {
        m_Bound = m_Socket.bind(QHostAddress::LocalHost, Banner::serverPort);
        QObject::connect(&m_Socket, &QUdpSocket::readyRead, [this, reply] {
            while (m_Socket.hasPendingDatagrams()) {
                QHostAddress sender;
                quint16 port = 0;
                QByteArray request(int(m_Socket.pendingDatagramSize()), '\0');
                m_Socket.readDatagram(request.data(), request.size(), &sender, &port);
                ++m_Requests;
                m_Socket.writeDatagram(reply, sender, port);
            }
        });
    }
    bool isBound() const { return m_Bound; }
    int requests() const { return m_Requests; }

private:
    QUdpSocket m_Socket;
    bool m_Bound = false;
    int m_Requests = 0;
};

class BannerDownloadTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_Root = new QTemporaryDir;
        for (const int size : {270000, 270001})
            TestSandbox::writeFile(s_Root->path() + QStringLiteral("/banner_%1.bin").arg(size),
                                   QByteArray(size, 'b'));
        s_Nginx = new NginxServer;
        s_NginxOk = s_Nginx->start(s_Root->path());
    }

    static void TearDownTestSuite()
    {
        delete s_Nginx;
        delete s_Root;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_NginxOk) << s_Nginx->errorText().toStdString();
        QFile::remove(tempFile("quorvex_banner.jpg"));
        QFile::remove(tempFile("quorvex_banner.txt"));
    }

    static QString bannerUrl(int size)
    {
        return s_Nginx->url(QStringLiteral("/banner_%1.bin").arg(size));
    }

    Configuration m_Config;

    static QTemporaryDir *s_Root;
    static NginxServer *s_Nginx;
    static bool s_NginxOk;
};

QTemporaryDir *BannerDownloadTest::s_Root = nullptr;
NginxServer *BannerDownloadTest::s_Nginx = nullptr;
bool BannerDownloadTest::s_NginxOk = false;

TEST_F(BannerDownloadTest, ImageOfAtMost270000BytesIsDelivered)
{
    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy found(&engine, SIGNAL(bannerFound(QByteArray, QString)));
    QMetaObject::invokeMethod(&engine, "onBannerFound", Q_ARG(QString, bannerUrl(270000)),
                              Q_ARG(QString, QStringLiteral("https://click.example/")));
    ASSERT_TRUE(found.wait(10000));
    EXPECT_EQ(found.at(0).at(0).toByteArray().size(), 270000);
    EXPECT_EQ(found.at(0).at(1).toString(), QStringLiteral("https://click.example/"));

    // One byte more, and the banner is dropped as soon as the length is known.
    found.clear();
    QMetaObject::invokeMethod(&engine, "onBannerFound", Q_ARG(QString, bannerUrl(270001)),
                              Q_ARG(QString, QStringLiteral("https://click.example/")));
    EXPECT_FALSE(found.wait(1500));

    // An empty or unusable URL is not even requested.
    QMetaObject::invokeMethod(&engine, "onBannerFound", Q_ARG(QString, QString()),
                              Q_ARG(QString, QStringLiteral("https://click.example/")));
    EXPECT_FALSE(found.wait(300));
}

TEST_F(BannerDownloadTest, LookupAndDownloadWhenNothingIsCached)
{
    const QByteArray reply = bannerUrl(270000).toLatin1() + ",https://click.example/x";
    BannerServer server(reply);
    ASSERT_TRUE(server.isBound());
    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy found(&engine, SIGNAL(bannerFound(QByteArray, QString)));
    engine.getBanner();
    ASSERT_TRUE(found.wait(10000));
    EXPECT_EQ(server.requests(), 1);
    EXPECT_EQ(found.at(0).at(0).toByteArray(), QByteArray(270000, 'b'));
    EXPECT_EQ(found.at(0).at(1).toString(), QStringLiteral("https://click.example/x"));
}

TEST_F(BannerDownloadTest, CachedFilesAreUsedWithoutAnyNetwork)
{
    BannerServer server(bannerUrl(270000).toLatin1() + ",https://never");
    ASSERT_TRUE(server.isBound());
    ASSERT_TRUE(TestSandbox::writeFile(tempFile("quorvex_banner.jpg"), "cached image"));
    ASSERT_TRUE(TestSandbox::writeFile(tempFile("quorvex_banner.txt"),
                                       "https%3A%2F%2Fexample.org%2F%C3%A4"));
    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy found(&engine, SIGNAL(bannerFound(QByteArray, QString)));
    engine.getBanner();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.at(0).at(0).toByteArray(), QByteArray("cached image"));
    EXPECT_EQ(found.at(0).at(1).toString(), QStringLiteral("https://example.org/ä"));
    QTest::qWait(500);
    EXPECT_EQ(server.requests(), 0);
    EXPECT_EQ(found.size(), 1);
    EXPECT_TRUE(engine.findChildren<Banner *>().isEmpty());

    // Half a cache (no click URL) is no cache.
    QFile::remove(tempFile("quorvex_banner.txt"));
    UpdateEngine other(&m_Config, nullptr);
    QSignalSpy otherFound(&other, SIGNAL(bannerFound(QByteArray, QString)));
    other.getBanner();
    ASSERT_TRUE(otherFound.wait(10000));
    EXPECT_EQ(server.requests(), 1);
    EXPECT_EQ(otherFound.at(0).at(1).toString(), QStringLiteral("https://never"));
}

} // namespace
