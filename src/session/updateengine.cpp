#include "updateengine.h"

#include "manifest/rsaverifier.h"
#include "session/maintaskspecification.h"
#include "shell/configuration.h"
#include "shell/updateinidata.h"
#include "ui/banner.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

namespace {

constexpr int pollIntervalMs = 1000;
constexpr int defaultProxyPort = 3128;
constexpr qint64 maxBannerSize = 270000;

QString tempBannerPath(const char *name)
{
    return QDir::tempPath() + QLatin1Char('/') + QLatin1String(name);
}

bool readWhole(const QString &path, QByteArray &out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    out = file.readAll();
    return true;
}

} // namespace

UpdateEngine::UpdateEngine(Configuration *config, QObject *parent)
    : QObject(parent)
    , m_State(PRE_INIT)
    , m_Config(config)
    , m_MainTask(nullptr)
    , m_Timer(new QTimer(this))
    , m_NetworkManager(new QNetworkAccessManager(this))
    , p_BannerReply(nullptr)
{
    connect(m_Config, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    connect(m_Timer, SIGNAL(timeout()), this, SLOT(onTimer()));
    m_Config->readUpdateSettings();
    setUpProxy();
}

UpdateEngine::~UpdateEngine() = default;

void UpdateEngine::setUpProxy()
{
    if (m_Config->m_Proxy.isEmpty()) {
        m_NetworkManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(m_Config->m_Proxy, QUrl::TolerantMode);
    if (!url.isValid()) {
        // Nobody listens yet: initialize() delivers this, and the session
        // never runs through a proxy other than the one configured.
        m_ProxyError =
            QStringLiteral("'%1' is an invalid proxy specification").arg(m_Config->m_Proxy);
        qDebug() << "setUpProxy" << m_ProxyError;
        return;
    }
    m_NetworkManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, url.host(QUrl::FullyDecoded),
                                             quint16(url.port(defaultProxyPort)), QString(),
                                             QString()));
}

bool UpdateEngine::isOwnTempDir(const QString &dir)
{
    const QFileInfo info(dir);
    return info.fileName().startsWith(QLatin1String("quorvex_temp_")) && info.isDir() &&
           !info.isSymLink();
}

bool UpdateEngine::initialize()
{
    if (!m_ProxyError.isEmpty()) {
        emit fatalError(m_ProxyError);
        return false;
    }
    try {
        RsaVerifier::initCrypto();
    } catch (const crypt_exception &e) {
        emit fatalError(QString::fromUtf8(e.what()));
        return false;
    }
    std::srand(unsigned(QDateTime::currentSecsSinceEpoch()));

    QString dir;
    QString qvxdir;
    int version = 0;
    if (UpdateIniData::get(&version, nullptr, &dir, &qvxdir)) {
        qDebug() << "Current version =" << version
                 << "/ new version =" << m_Config->m_ClientVersion;
        if (!isOwnTempDir(dir)) {
            // Not a directory this updater made: neither continued nor
            // deleted, whatever the record says.
            qDebug() << "Ignoring session record with foreign directory" << dir;
            dir.clear();
            qvxdir.clear();
            QFile::remove(UpdateIniData::installIniPath());
        } else if (version == m_Config->m_ClientVersion) {
            qDebug() << "Continuing previous session";
            emit message(QStringLiteral("Previous update session for v. %1 found").arg(version));
        } else {
            qDebug() << "Cleaning up previous session";
            emit message(QStringLiteral("Cleanup previous session (v. %1, %2) files...")
                             .arg(version)
                             .arg(dir));
            removeDirContents(dir);
            QDir parent(dir);
            if (parent.cdUp()) {
                emit message(parent.rmdir(QFileInfo(dir).fileName())
                                 ? QStringLiteral("Ok")
                                 : QStringLiteral("Failed to remove directory"));
            }
            dir.clear();
            qvxdir.clear();
            QFile::remove(UpdateIniData::installIniPath());
        }
    }

    if (!m_Config->initalizeStart(dir, qvxdir))
        return false;

    qDebug() << "initialize"
             << "modifying update.ini" << m_Config->m_UpdateMode;
    if (!UpdateIniData::modify(m_Config->m_ClientVersion, m_Config->m_TempDir,
                               m_Config->m_InstallDir, m_Config->m_ClientType)) {
        qDebug() << "Failed to write to update.ini";
        emit error(QStringLiteral("Failed to write update.ini. The updater does not seem to have "
                                  "the required write permissions."));
        return false;
    }
    m_State = POST_INIT;
    return true;
}

bool UpdateEngine::startUpdate()
{
    qDebug() << "Starting update";
    m_MainTask = new MainTaskSpecification(m_NetworkManager, m_Config, this, 1.0);
    connect(m_MainTask, SIGNAL(finished(TaskSpecification *)), this, SLOT(onTaskFinished()));
    connect(m_MainTask, SIGNAL(canceled(TaskSpecification *)), this, SLOT(onTaskCanceled()));
    connect(m_MainTask, SIGNAL(error(QString)), this, SIGNAL(error(QString)));
    connect(m_MainTask, SIGNAL(updateProgress(qreal)), this, SIGNAL(updateProgress(qreal)));
    connect(m_MainTask, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    m_State = RUNNING;
    m_Timer->start(pollIntervalMs);
    m_MainTask->execute();
    return true;
}

bool UpdateEngine::isSessionActive() const
{
    return m_State == POST_INIT || m_State == RUNNING;
}

void UpdateEngine::resetAfterCancel()
{
    Q_ASSERT(m_State == CANCELED);
    m_State = PRE_INIT;
    if (m_MainTask) {
        disconnect(m_MainTask, nullptr, this, nullptr);
        m_MainTask->deleteLater();
        m_MainTask = nullptr;
    }
}

void UpdateEngine::cancelUpdate()
{
    if (m_State == RUNNING && m_MainTask)
        m_MainTask->cancel();
}

void UpdateEngine::onTimer()
{
    if (m_State != RUNNING || !m_MainTask || !m_NetworkManager)
        return;
    quint64 done = 0;
    quint64 total = 0;
    quint64 sinceLastPoll = 0;
    bool downloading = false;
    m_MainTask->getDownloadStatus(done, total, sinceLastPoll, downloading);
    emit downloadProgress(done, total, sinceLastPoll, downloading);
}

void UpdateEngine::onTaskFinished()
{
    m_Timer->stop();
    cleanup();
    m_State = FINISHED;
    emit message(QStringLiteral("Update successfully finished"));
    m_MainTask->deleteLater();
    m_MainTask = nullptr;
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    m_Timer->stop();
    m_State = CANCELED;
    if (m_MainTask->m_TaskState == TaskSpecification::TASK_CANCELED)
        emit message(QStringLiteral("User aborted update"));
    m_MainTask->deleteLater();
    m_MainTask = nullptr;
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::cleanup()
{
    qDebug() << "cleanup";
    if (m_Config->m_UpdateMode == 1) {
        qDebug() << "Removing temporary files";
        emit message(QStringLiteral("Remove temporary files..."));
        QString dir;
        if (UpdateIniData::get(nullptr, nullptr, &dir, nullptr)) {
            if (isOwnTempDir(dir)) {
                removeDirContents(dir);
                QDir parent(dir);
                if (parent.cdUp())
                    parent.rmdir(QFileInfo(dir).fileName());
            } else {
                qDebug() << "Not removing foreign directory" << dir;
            }
            QFile::remove(UpdateIniData::installIniPath());
        }
        emit message(QStringLiteral("Temporary files removed."));
    } else {
        const QString path = UpdateIniData::installIniPath();
        QFile::remove(path);
        qDebug() << "Deleted local update.ini" << path;
        emit message(QStringLiteral("Removed temporary update.ini"));
    }
}

void UpdateEngine::removeDirContents(const QString &dir)
{
    // Symbolic links are neither followed nor removed: a link inside the
    // temporary directory must never lead the removal elsewhere.
    QDir directory(dir);
    const QFileInfoList files = directory.entryInfoList(QDir::Files | QDir::Hidden | QDir::System |
                                                        QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &file : files)
        QFile::remove(file.absoluteFilePath());
    const QFileInfoList dirs = directory.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::System |
                                                       QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &sub : dirs) {
        removeDirContents(sub.absoluteFilePath());
        directory.rmdir(sub.fileName());
    }
}

void UpdateEngine::removeOldFiles(const QString &dir)
{
    static const char *const names[] = {
        "update",         "libQtCore.so.4",  "libQtGui.so.4",  "libQtNetwork.so.4",
        "libQtSql.so.4",  "libQt5Core.so.5", "libQt5Gui.so.5", "libQt5Network.so.5",
        "libQt5Sql.so.5", "libqgif.so",      "libqjpeg.so",    "libqtaccessiblewidgets.so",
        "libsqlite.so"};
    const QDir directory(dir);
    for (const char *name : names) {
        const QString path =
            directory.absoluteFilePath(QStringLiteral("_old_") + QLatin1String(name));
        if (QFileInfo::exists(path)) {
            qDebug() << "Remove old file:" << path;
            QFile::remove(path);
        }
    }
}

void UpdateEngine::removeQt4Files(const QString &dir)
{
    static const char *const names[] = {"libQtCore.so.4", "libQtGui.so.4", "libQtNetwork.so.4",
                                        "libQtSql.so.4"};
    const QDir directory(dir);
    for (const char *name : names) {
        const QString path = directory.absoluteFilePath(QLatin1String(name));
        if (QFileInfo::exists(path)) {
            qDebug() << "Remove Qt4 file:" << path;
            QFile::remove(path);
        }
    }
}

void UpdateEngine::getBanner()
{
    QByteArray image;
    readWhole(tempBannerPath("quorvex_banner.jpg"), image);
    QByteArray encodedUrl;
    readWhole(tempBannerPath("quorvex_banner.txt"), encodedUrl);
    const QString clickUrl = QString::fromUtf8(QByteArray::fromPercentEncoding(encodedUrl));
    if (!image.isEmpty() && !clickUrl.isEmpty()) {
        qDebug() << "Found temp banner" << clickUrl;
        emit bannerFound(image, clickUrl);
        return;
    }
    if (p_BannerReply)
        return;
    auto *lookup = new Banner(this);
    connect(lookup, SIGNAL(bannerFound(QString, QString)), this,
            SLOT(onBannerFound(QString, QString)));
    lookup->run();
}

void UpdateEngine::onBannerFound(const QString &bannerUrl, const QString &clickUrl)
{
    qDebug() << "Found banner" << bannerUrl << clickUrl;
    const QUrl url(bannerUrl, QUrl::TolerantMode);
    if (!url.isValid()) {
        qDebug() << "Banner url is invalid:" << bannerUrl;
        return;
    }
    // The request goes out twice when the first reply is late, so two replies
    // may arrive; the first download is the one that counts.
    if (p_BannerReply) {
        qDebug() << "Banner download already in progress";
        return;
    }
    qDebug() << "Requesting banner from" << url;
    m_BannerClickUrl = clickUrl;
    p_BannerReply = m_NetworkManager->get(QNetworkRequest(url));
    connect(p_BannerReply, SIGNAL(finished()), this, SLOT(onBannerDownloadFinished()));
    connect(p_BannerReply, SIGNAL(metaDataChanged()), this, SLOT(onBannermetaDataChanged()));
    // A server that sends no Content-Length is held to the same limit.
    QNetworkReply *reply = p_BannerReply;
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (reply == p_BannerReply && received > maxBannerSize) {
            qDebug() << "Banner size too large: " << received;
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
            reply->deleteLater();
            p_BannerReply = nullptr;
        }
    });
}

void UpdateEngine::onBannermetaDataChanged()
{
    if (!p_BannerReply)
        return;
    const QVariant length = p_BannerReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > maxBannerSize) {
        qDebug() << "Banner size too large: " << length.toLongLong();
        disconnect(p_BannerReply, nullptr, this, nullptr);
        p_BannerReply->deleteLater();
        p_BannerReply = nullptr;
    }
}

void UpdateEngine::onBannerDownloadFinished()
{
    qDebug() << "Banner download finished";
    if (!p_BannerReply)
        return;
    const QByteArray data = p_BannerReply->readAll();
    p_BannerReply->deleteLater();
    p_BannerReply = nullptr;
    emit bannerFound(data, m_BannerClickUrl);
}
