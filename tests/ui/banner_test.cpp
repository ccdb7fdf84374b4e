#include "ui/banner.h"

#include "qtprinters.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A banner server on loopback port 2009 that answers each request with the
// datagram it was given, or stays silent. It listens on 127.0.0.2, not on the
// 127.0.0.1 that a real updater started by another test asks.
class FakeBannerServer : public QObject
{
public:
    explicit FakeBannerServer(
        const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.2")))
    {
        m_Bound = m_Socket.bind(address, Banner::serverPort);
        connect(&m_Socket, &QUdpSocket::readyRead, this, [this] {
            while (m_Socket.hasPendingDatagrams()) {
                QHostAddress sender;
                quint16 port = 0;
                QByteArray request(int(m_Socket.pendingDatagramSize()), '\0');
                m_Socket.readDatagram(request.data(), request.size(), &sender, &port);
                m_Requests.push_back({request, m_Clock.elapsed()});
                if (!m_Reply.isNull())
                    m_Socket.writeDatagram(m_Reply, sender, port);
            }
        });
        m_Clock.start();
    }

    bool isBound() const { return m_Bound; }
    void setReply(const QByteArray &reply) { m_Reply = reply; }

    struct Request
    {
        QByteArray bytes;
        qint64 atMs;
    };
    const std::vector<Request> &requests() const { return m_Requests; }

private:
    QUdpSocket m_Socket;
    QElapsedTimer m_Clock;
    QByteArray m_Reply;
    std::vector<Request> m_Requests;
    bool m_Bound = false;
};

struct ReplyCase
{
    const char *name;
    QByteArray reply;
    bool found;
    QString bannerUrl;
    QString clickUrl;
};

class BannerReplyTest : public ::testing::TestWithParam<ReplyCase>
{
};

TEST_P(BannerReplyTest, ReadsTheReply)
{
    const ReplyCase &c = GetParam();
    FakeBannerServer server;
    ASSERT_TRUE(server.isBound());
    server.setReply(c.reply);

    Banner banner(QStringLiteral("127.0.0.2"), nullptr);
    QSignalSpy found(&banner, &Banner::bannerFound);
    banner.run();
    if (c.found) {
        ASSERT_TRUE(found.wait(3000));
        EXPECT_EQ(found.at(0).at(0).toString(), c.bannerUrl);
        EXPECT_EQ(found.at(0).at(1).toString(), c.clickUrl);
    } else {
        // The reply arrives well within this time; nothing may come of it.
        QTest::qWait(500);
        EXPECT_EQ(found.count(), 0);
    }
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().front().bytes, QByteArray("\x01\x01", 2));
}

const QByteArray longReply =
    QByteArray(10, 'A') + ',' + QByteArray(1100, 'B') + ',' + QByteArray(888, 'C');

INSTANTIATE_TEST_SUITE_P(
    Replies, BannerReplyTest,
    ::testing::Values(ReplyCase{"TwoUrls", "http://b/banner.jpg,http://b/click?x=1%20y", true,
                                QStringLiteral("http://b/banner.jpg"),
                                QStringLiteral("http://b/click?x=1%20y")},
                      ReplyCase{"LeadingComma", ",http://b/click", true, QString(),
                                QStringLiteral("http://b/click")},
                      ReplyCase{"Latin1", "http://b/\xe9.jpg, x ", true,
                                QStringLiteral("http://b/\u00e9.jpg"), QStringLiteral(" x ")},
                      ReplyCase{"NoComma", "http://b/banner.jpg", false, {}, {}},
                      ReplyCase{"TwoCommas", "a,b,c", false, {}, {}},
                      // Only the first 1024 bytes count: the second comma lies beyond them.
                      ReplyCase{"CutTo1024Bytes", longReply, true, QString(10, QLatin1Char('A')),
                                QString(1013, QLatin1Char('B'))}),
    [](const ::testing::TestParamInfo<ReplyCase> &row) { return row.param.name; });

TEST(BannerTest, SilentServerGetsExactlyOneRepeat)
{
    FakeBannerServer server;
    ASSERT_TRUE(server.isBound());
    Banner banner(QStringLiteral("127.0.0.2"), nullptr);
    QSignalSpy found(&banner, &Banner::bannerFound);
    banner.run();
    QTest::qWait(2 * Banner::replyTimeoutMs + 1500);

    ASSERT_EQ(server.requests().size(), 2u);
    const qint64 gap = server.requests()[1].atMs - server.requests()[0].atMs;
    EXPECT_GE(gap, Banner::replyTimeoutMs - 250);
    EXPECT_LE(gap, Banner::replyTimeoutMs + 1000);
    EXPECT_EQ(found.count(), 0);
}

TEST(BannerTest, IPv6OnlyHostGetsNoRequest)
{
    FakeBannerServer server6(QHostAddress::LocalHostIPv6);
    Banner banner(QStringLiteral("::1"), nullptr);
    banner.run();
    QTest::qWait(500);
    EXPECT_TRUE(server6.requests().empty());
}

TEST(BannerTest, UnknownHostGetsNoRequest)
{
    FakeBannerServer server;
    Banner banner(QStringLiteral("no-such-host.invalid"), nullptr);
    banner.run();
    QTest::qWait(1000);
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
