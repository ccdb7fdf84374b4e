#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real nginx from the system, serving a directory on loopback for one test
// (or one test suite). It runs in the foreground as a child of the test
// process, with a generated configuration in a temporary directory, on a free
// port; stop() (or the destructor) ends it, so nothing is left running.
//
//   NginxServer server;
//   ASSERT_TRUE(server.start(root)) << server.errorText();
//   QUrl url = server.url(QStringLiteral("/file.bin"));
class NginxServer
{
public:
    NginxServer();
    ~NginxServer();

    // Serves rootDir as the document root. False (with errorText) when nginx
    // is missing or did not come up.
    bool start(const QString &rootDir);
    // Serves rootDir on a fixed port (a build-time default of the updater,
    // say); tests doing so hold a ctest RESOURCE_LOCK named after the port.
    bool startOnPort(const QString &rootDir, quint16 port);
    void stop();

    // Options for the next start: log every request (accessLogPath()), and
    // send each response at most bytesPerSecond (0: no limit).
    void setAccessLog(bool on) { m_AccessLog = on; }
    void setLimitRate(int bytesPerSecond) { m_LimitRate = bytesPerSecond; }
    QString accessLogPath() const;
    bool isRunning() const;

    quint16 port() const { return m_Port; }
    // "http://127.0.0.1:<port>" + path (path starts with "/").
    QString url(const QString &path = QString()) const;
    QString errorText() const { return m_ErrorText; }

    // The nginx executable, or empty when none is installed.
    static QString executable();

private:
    // Stops a running server; false (with the error text) when none can start.
    bool prepare();
    bool startOnce(const QString &rootDir, quint16 port);

    QTemporaryDir m_Dir;
    QProcess m_Process;
    quint16 m_Port = 0;
    QString m_ErrorText;
    bool m_AccessLog = false;
    int m_LimitRate = 0;

    Q_DISABLE_COPY(NginxServer)
};
