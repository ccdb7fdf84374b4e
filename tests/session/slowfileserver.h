#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

// A static file server on loopback, run by the test's own event loop, that
// holds back the second half of chosen files for a while: long enough for
// the engine's one-second poll to see a download in progress, or for a test
// to cancel in the middle of one.
class SlowFileServer : public QObject
{
    Q_OBJECT

public:
    SlowFileServer(const QString &rootDir, int holdMs);
    bool start();
    QString baseUrl() const; // "http://127.0.0.1:<port>/"
    // Request paths (below the root, without the leading "/") to hold back.
    void holdBack(const QString &path) { m_Slow.insert(path); }

private slots:
    void onNewConnection();

private:
    QTcpServer m_Server;
    QString m_Root;
    int m_HoldMs;
    QSet<QString> m_Slow;
};
