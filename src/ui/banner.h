#pragma once

#include <QBasicTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QUdpSocket>

// Asks the banner server over UDP where the advertisement banner lives.
//
// One request datagram (0x01 0x01) goes to port 2009 of the server's first IPv4
// address; the reply names the image URL and the click-through URL, joined by
// one comma. Without a reply within five seconds the request is repeated once,
// then the banner is given up. Every failure is only logged: nothing in the
// update depends on the banner.
class Banner : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Banner)

public:
    static constexpr quint16 serverPort = 2009;
    static constexpr int replyTimeoutMs = 5000;
    static constexpr int replyBufferSize = 1024;

    // host defaults to the banner server compiled into the program.
    explicit Banner(QObject *parent = nullptr);
    Banner(const QString &host, QObject *parent);

    // Starts the host lookup; the request follows once the host is resolved.
    void run();

signals:
    void bannerFound(const QString &bannerUrl, const QString &clickUrl);

protected:
    void timerEvent(QTimerEvent *event) override;

private slots:
    void onResolved(const QHostInfo &hostInfo);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError socketError);

private:
    void sendRequest();

    QUdpSocket *m_socket;
    QBasicTimer m_Timer;
    QHostAddress m_Address;
    int m_Retries = 0;
    QString m_Host;
};
