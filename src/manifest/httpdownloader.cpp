#include "httpdownloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

HTTPDownloader::HTTPDownloader(const QNetworkRequest &request)
    : QThread(nullptr)
    , m_Request(request)
{
    // Deleting a QThread object from inside its own run() races with the
    // thread's shutdown; QThread handles a deletion queued by finished().
    connect(this, SIGNAL(finished()), this, SLOT(deleteLater()));
}

HTTPDownloader::~HTTPDownloader() = default;

void HTTPDownloader::run()
{
    auto *manager = new QNetworkAccessManager;
    // Direct: the reply is read on the thread that owns it; receivers of
    // download_available still get the data queued into their own thread.
    connect(manager, SIGNAL(finished(QNetworkReply *)), this,
            SLOT(on_downloadFinished(QNetworkReply *)), Qt::DirectConnection);
    manager->get(m_Request);
    exec();
    delete manager;
}

void HTTPDownloader::on_downloadFinished(QNetworkReply *reply)
{
    const QByteArray data =
        reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    emit download_available(data);
    reply->deleteLater();
    quit();
}
