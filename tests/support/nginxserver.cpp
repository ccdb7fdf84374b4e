#include "nginxserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 pickFreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool canConnect(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool connected = socket.waitForConnected(200);
    socket.abort();
    return connected;
}

} // namespace

NginxServer::NginxServer() = default;

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::executable()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!found.isEmpty())
        return found;
    // Debian installs it in sbin, which is not on every user's PATH.
    return QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

bool NginxServer::prepare()
{
    stop();
    if (executable().isEmpty()) {
        m_ErrorText = QStringLiteral("nginx is not installed (scripts/install-deps installs it)");
        return false;
    }
    if (!m_Dir.isValid()) {
        m_ErrorText = QStringLiteral("cannot create a temporary directory for nginx");
        return false;
    }
    return true;
}

bool NginxServer::start(const QString &rootDir)
{
    if (!prepare())
        return false;
    // The free port can be taken between probing and nginx's bind; try again
    // on another port then.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = pickFreePort();
        if (port != 0 && startOnce(QFileInfo(rootDir).absoluteFilePath(), port))
            return true;
    }
    return false;
}

bool NginxServer::startOnPort(const QString &rootDir, quint16 port)
{
    if (!prepare())
        return false;
    // Another server answering there would pass for this one.
    if (canConnect(port)) {
        m_ErrorText = QStringLiteral("port %1 is already in use").arg(port);
        return false;
    }
    return startOnce(QFileInfo(rootDir).absoluteFilePath(), port);
}

QString NginxServer::accessLogPath() const
{
    return m_Dir.path() + QStringLiteral("/access.log");
}

bool NginxServer::startOnce(const QString &rootDir, quint16 port)
{
    const QString dir = m_Dir.path();
    QDir(dir).mkpath(QStringLiteral("temp"));
    // master_process off: a single foreground process that neither forks nor
    // switches to an unprivileged user, so it reads the test's private files
    // and ends with its parent's SIGTERM.
    const QString config = QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/error.log warn;
events { worker_connections 256; }
http {
    access_log %4;
    client_body_temp_path %1/temp/body;
    proxy_temp_path %1/temp/proxy;
    fastcgi_temp_path %1/temp/fastcgi;
    uwsgi_temp_path %1/temp/uwsgi;
    scgi_temp_path %1/temp/scgi;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    server {
        listen 127.0.0.1:%2;
        root %3;
        limit_rate %5;
    }
}
)")
                               .arg(dir)
                               .arg(port)
                               .arg(rootDir)
                               .arg(m_AccessLog ? accessLogPath() : QStringLiteral("off"))
                               .arg(m_LimitRate);
    const QString configPath = dir + QStringLiteral("/nginx.conf");
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0) {
        m_ErrorText = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    file.close();

    m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_Process.start(executable(),
                    {QStringLiteral("-p"), dir, QStringLiteral("-e"),
                     dir + QStringLiteral("/error.log"), QStringLiteral("-c"), configPath});
    if (!m_Process.waitForStarted(5000)) {
        m_ErrorText = QStringLiteral("cannot start nginx: %1").arg(m_Process.errorString());
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (m_Process.state() != QProcess::Running) {
            QFile log(dir + QStringLiteral("/error.log"));
            log.open(QIODevice::ReadOnly);
            m_ErrorText = QStringLiteral("nginx exited: %1").arg(QString::fromUtf8(log.readAll()));
            return false;
        }
        if (canConnect(port)) {
            m_Port = port;
            return true;
        }
        m_Process.waitForFinished(20);
    }
    m_ErrorText = QStringLiteral("nginx did not answer on port %1").arg(port);
    stop();
    return false;
}

void NginxServer::stop()
{
    if (m_Process.state() != QProcess::NotRunning) {
        m_Process.terminate();
        if (!m_Process.waitForFinished(5000)) {
            m_Process.kill();
            m_Process.waitForFinished(5000);
        }
    }
    m_Port = 0;
}

bool NginxServer::isRunning() const
{
    return m_Process.state() == QProcess::Running && m_Port != 0;
}

QString NginxServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_Port).arg(path);
}
