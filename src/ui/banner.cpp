#include "banner.h"

#include "shell/appglobals.h"

#include <QDebug>
#include <QTimerEvent>

Banner::Banner(QObject *parent)
    : Banner(AppGlobals::bannerServerHost(), parent)
{
}

Banner::Banner(const QString &host, QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
    , m_Host(host)
{
    qDebug() << "Creating Banner";
    m_socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    connect(m_socket, &QUdpSocket::readyRead, this, &Banner::onReadyRead);
    connect(m_socket, &QUdpSocket::errorOccurred, this, &Banner::onError);
}

void Banner::run()
{
    qDebug() << "Looking up banner server";
    QHostInfo::lookupHost(m_Host, this, SLOT(onResolved(QHostInfo)));
}

void Banner::onResolved(const QHostInfo &hostInfo)
{
    qDebug() << "Banner server lookup resolved, error =" << int(hostInfo.error());
    if (hostInfo.error() != QHostInfo::NoError)
        return;
    const QList<QHostAddress> addresses = hostInfo.addresses();
    if (addresses.isEmpty())
        return;
    m_Address.clear();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            m_Address = address;
            break;
        }
    }
    if (!m_Address.isNull())
        sendRequest();
}

void Banner::sendRequest()
{
    qDebug() << "Sending banner request to" << m_Address;
    static const QByteArray request("\x01\x01", 2);
    if (m_socket->writeDatagram(request, m_Address, serverPort) == request.size()) {
        m_Timer.start(replyTimeoutMs, Qt::PreciseTimer, this);
    } else {
        qDebug() << "Failed to write to banner server";
        m_Timer.stop();
    }
}

void Banner::timerEvent(QTimerEvent *event)
{
    qDebug() << "get banner from server timed out";
    if (event->timerId() == m_Timer.timerId()) {
        if (m_Retries++ == 0)
            sendRequest();
        else
            m_Timer.stop();
    }
    QObject::timerEvent(event);
}

void Banner::onReadyRead()
{
    m_Timer.stop();
    char buffer[replyBufferSize];
    const qint64 size = m_socket->readDatagram(buffer, sizeof buffer);
    if (size < 0) {
        qDebug() << "Received no data from banner server";
        return;
    }
    const QString text = QString::fromLatin1(buffer, int(size));
    qDebug() << "Reply from banner server:" << text;
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() == 2)
        emit bannerFound(parts.at(0), parts.at(1));
    else
        qDebug() << "invalid response:" << text;
}

void Banner::onError(QAbstractSocket::SocketError socketError)
{
    qDebug() << "banner had socketerror: " << socketError;
    m_Timer.stop();
}
