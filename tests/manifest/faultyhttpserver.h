#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A deliberately bad HTTP server on loopback, run by the test's own event
// loop. What it does depends on the last path segment of the request:
//
//   ok.bin        200 with Content-Length and bodySize() bytes
//   notfound.bin  404
//   redirect.bin  302 to ok.bin
//   stall.bin     200, Content-Length bodySize(), the first 1000 bytes, then silence
//   short.bin     200, Content-Length bodySize(), half the body, then it closes
//   close.bin     closes without answering
//   empty.bin     200 with an empty body
//   nolength.bin  200 without Content-Length, the body, then it closes
//
// Connections are never reused. hits(name) counts requests per segment.
class FaultyHttpServer : public QObject
{
    Q_OBJECT

public:
    FaultyHttpServer();
    ~FaultyHttpServer() override;

    bool start();
    quint16 port() const { return m_Server.serverPort(); }
    QString baseUrl() const; // "http://127.0.0.1:<port>/"
    int hits(const QString &name) const { return m_Hits.value(name); }
    static QByteArray body(int size);
    static int bodySize() { return 200000; }

private slots:
    void onNewConnection();

private:
    void answer(QTcpSocket *socket, const QString &name);

    QTcpServer m_Server;
    QHash<QString, int> m_Hits;
    QList<QPointer<QTcpSocket>> m_Stalled;
};
