// The one-shot downloader thread of the version query, against nginx.
#include "manifest/httpdownloader.h"
#include "nginxserver.h"
#include "testsandbox.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct Received
{
    QList<QByteArray> bodies;
    QList<QThread *> threads;
};

// Starts a downloader and waits until it has deleted itself.
Received fetch(const QString &url)
{
    auto *downloader = new HTTPDownloader(QNetworkRequest(QUrl(url)));
    QPointer<HTTPDownloader> alive(downloader);
    Received received;
    QObject receiver;
    QObject::connect(downloader, &HTTPDownloader::download_available, &receiver,
                     [&received](const QByteArray &data) {
                         received.bodies << data;
                         received.threads << QThread::currentThread();
                     });
    downloader->start();
    EXPECT_TRUE(QTest::qWaitFor([&alive]() { return alive.isNull(); }, 20000));
    QTest::qWait(20); // nothing else may arrive afterwards
    return received;
}

TEST(HTTPDownloaderTest, DeliversBodyOnceOnCreatorThread)
{
    QTemporaryDir root;
    const QByteArray message("\x0a\x05stable\x10\x03", 10);
    ASSERT_TRUE(TestSandbox::writeFile(root.filePath(QStringLiteral("qvx-client-2")), message));
    NginxServer server;
    ASSERT_TRUE(server.start(root.path())) << server.errorText().toStdString();

    Received ok = fetch(server.url(QStringLiteral("/qvx-client-2")));
    ASSERT_EQ(ok.bodies.size(), 1);
    EXPECT_EQ(ok.bodies.first(), message);
    EXPECT_EQ(ok.threads.first(), QThread::currentThread());

    // A failed request (here: 404) yields one empty array.
    Received missing = fetch(server.url(QStringLiteral("/nothing")));
    ASSERT_EQ(missing.bodies.size(), 1);
    EXPECT_TRUE(missing.bodies.first().isEmpty());

    // So does a server that is not there at all.
    const QString gone = server.url(QStringLiteral("/qvx-client-2"));
    server.stop();
    Received refused = fetch(gone);
    ASSERT_EQ(refused.bodies.size(), 1);
    EXPECT_TRUE(refused.bodies.first().isEmpty());
}

} // namespace
