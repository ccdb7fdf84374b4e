#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QThread>

class QNetworkReply;

// One HTTP GET on a thread of its own, for small answers (the version message).
// Start it with start() after connecting download_available; it emits exactly
// one download_available, with the whole body, or an empty array when the
// request failed, then ends its thread and deletes itself. It never retries,
// has no time limit of its own and does not look at the status code.
class HTTPDownloader : public QThread
{
    Q_OBJECT

public:
    explicit HTTPDownloader(const QNetworkRequest &request);
    ~HTTPDownloader() override;

signals:
    void download_available(QByteArray data);

public slots:
    virtual void on_downloadFinished(QNetworkReply *reply);

protected:
    void run() override;

    QNetworkRequest m_Request;

private:
    Q_DISABLE_COPY(HTTPDownloader)
};
