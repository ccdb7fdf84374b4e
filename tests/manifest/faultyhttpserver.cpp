#include "faultyhttpserver.h"

#include <memory>

FaultyHttpServer::FaultyHttpServer()
{
    connect(&m_Server, &QTcpServer::newConnection, this, &FaultyHttpServer::onNewConnection);
}

FaultyHttpServer::~FaultyHttpServer()
{
    for (const QPointer<QTcpSocket> &socket : qAsConst(m_Stalled)) {
        if (socket)
            socket->abort();
    }
}

bool FaultyHttpServer::start()
{
    return m_Server.listen(QHostAddress::LocalHost, 0);
}

QString FaultyHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port());
}

QByteArray FaultyHttpServer::body(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 977) & 0xff);
    return data;
}

void FaultyHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_Server.nextPendingConnection()) {
        socket->setParent(this);
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request]() {
            if (request->contains("\r\n\r\n"))
                return;
            request->append(socket->readAll());
            if (!request->contains("\r\n\r\n"))
                return;
            const QList<QByteArray> words = request->left(request->indexOf("\r\n")).split(' ');
            const QByteArray path = words.size() > 1 ? words.at(1) : QByteArray();
            const QString name = QString::fromLatin1(path.mid(path.lastIndexOf('/') + 1));
            ++m_Hits[name];
            answer(socket, name);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FaultyHttpServer::answer(QTcpSocket *socket, const QString &name)
{
    const QByteArray full = body(bodySize());
    const QByteArray length = QByteArray::number(full.size());
    auto respond = [socket](const QByteArray &head, const QByteArray &content, bool close) {
        socket->write(head + "\r\n\r\n" + content);
        if (close)
            socket->disconnectFromHost();
    };
    if (name == QLatin1String("ok.bin")) {
        respond("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + length, full, true);
    } else if (name == QLatin1String("notfound.bin")) {
        respond("HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 9", "not found",
                true);
    } else if (name == QLatin1String("redirect.bin")) {
        respond("HTTP/1.1 302 Found\r\nConnection: close\r\nLocation: ok.bin\r\n"
                "Content-Length: 0",
                QByteArray(), true);
    } else if (name == QLatin1String("stall.bin")) {
        respond("HTTP/1.1 200 OK\r\nContent-Length: " + length, full.left(1000), false);
        m_Stalled.append(socket);
    } else if (name == QLatin1String("short.bin")) {
        respond("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + length,
                full.left(full.size() / 2), true);
    } else if (name == QLatin1String("empty.bin")) {
        respond("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0", QByteArray(), true);
    } else if (name == QLatin1String("nolength.bin")) {
        respond("HTTP/1.1 200 OK\r\nConnection: close", full, true);
    } else {
        socket->abort();
    }
}
