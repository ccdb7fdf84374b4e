#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr int connectTimeoutMs = 1000;
constexpr int writeTimeoutMs = 1000;
} // namespace

SingleInstanceChecker::SingleInstanceChecker(QObject *parent)
    : QObject(parent)
    , m_Server(new QLocalServer(this))
{
    connect(m_Server, &QLocalServer::newConnection, this, &SingleInstanceChecker::onNewConnection);
    if (!m_Server->listen(serverName()))
        qDebug() << "SingleInstanceChecker: cannot listen on" << serverName()
                 << m_Server->errorString();
}

SingleInstanceChecker::~SingleInstanceChecker()
{
    m_Server->close();
    if (m_Connection)
        m_Connection->close();
}

QString SingleInstanceChecker::serverName()
{
    QString key = QCoreApplication::applicationFilePath().toLower() + QDir::homePath();
    key.remove(QLatin1Char('/'));
    key.remove(QLatin1Char(':'));
    const QByteArray bytes = key.toUtf8();
    const quint16 checksum = qChecksum(bytes.constData(), uint(bytes.size()));
    return QStringLiteral("QVXClientUpdate") + QString::number(checksum, 16);
}

bool SingleInstanceChecker::sendToRunningInstance(const QString &message)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    const QByteArray data = message.toLatin1();
    const bool accepted = socket.write(data) == data.size();
    const bool written = accepted && socket.waitForBytesWritten(writeTimeoutMs);
    socket.close();
    return written;
}

void SingleInstanceChecker::onNewConnection()
{
    delete m_Connection;
    m_Connection = m_Server->nextPendingConnection();
    if (m_Connection)
        connect(m_Connection, &QLocalSocket::readyRead, this, &SingleInstanceChecker::onReadyRead);
}

void SingleInstanceChecker::onReadyRead()
{
    if (!m_Connection)
        return;
    const QByteArray bytes = m_Connection->readAll();
    const int end = bytes.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
    // One message per connection; the socket goes once this slot has returned.
    m_Connection->deleteLater();
    m_Connection = nullptr;
    emit otherInstanceActivate(text);
}
