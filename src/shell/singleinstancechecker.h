#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One updater per installation and user: a starting updater hands a message to
// the running one over a local socket and ends if that works; the running one
// listens and reports each message so its window can come to the front.
class SingleInstanceChecker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SingleInstanceChecker)

public:
    // Starts listening. When the name is taken (a stale socket of a crashed
    // updater, say) the updater still runs; it only cannot be found later.
    explicit SingleInstanceChecker(QObject *parent = nullptr);
    ~SingleInstanceChecker() override;

    // True when a running updater accepted the message within the time limits.
    static bool sendToRunningInstance(const QString &message);

    // "QVXClientUpdate" followed by a checksum of this executable's path and
    // the user's home directory, so it differs per installation and per user.
    static QString serverName();

signals:
    void otherInstanceActivate(const QString &message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    QLocalServer *m_Server = nullptr;
    QLocalSocket *m_Connection = nullptr;
};
