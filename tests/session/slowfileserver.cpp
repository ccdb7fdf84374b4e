#include "slowfileserver.h"

#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

SlowFileServer::SlowFileServer(const QString &rootDir, int holdMs)
    : m_Root(rootDir)
    , m_HoldMs(holdMs)
{
    connect(&m_Server, &QTcpServer::newConnection, this, &SlowFileServer::onNewConnection);
}

bool SlowFileServer::start()
{
    return m_Server.listen(QHostAddress::LocalHost);
}

QString SlowFileServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_Server.serverPort());
}

void SlowFileServer::onNewConnection()
{
    while (QTcpSocket *socket = m_Server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() {
            if (!socket->canReadLine())
                return;
            const QList<QByteArray> request = socket->readLine().split(' ');
            socket->readAll();
            const QString path =
                request.size() > 1 ? QString::fromUtf8(request[1]).mid(1) : QString();
            QFile file(m_Root + QLatin1Char('/') + path);
            if (path.contains(QStringLiteral("..")) || !file.open(QIODevice::ReadOnly)) {
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: "
                              "close\r\n\r\n");
                socket->disconnectFromHost();
                return;
            }
            const QByteArray body = file.readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n");
            if (!m_Slow.contains(path)) {
                socket->write(body);
                socket->disconnectFromHost();
                return;
            }
            const int half = body.size() / 2;
            socket->write(body.left(half));
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(m_HoldMs, this, [guarded, body, half]() {
                if (!guarded)
                    return;
                guarded->write(body.mid(half));
                guarded->disconnectFromHost();
            });
        });
    }
}
