#include "downloadtaskspecification.h"

#include "shell/appglobals.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr int maxRetries = 4;    // after the first attempt: five attempts in all
constexpr int maxIdlePolls = 15; // the 16th poll without data abandons the attempt
constexpr qint64 chunkSize = 4096;
// The chunks found buffered in one go are written to the file together: one
// system call per 4 KiB chunk cost a quarter of a fast transfer's time.
constexpr qint64 gatherSize = 64 * chunkSize;
} // namespace

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager *manager,
                                                     const QString &fileName, int version,
                                                     const QString &localPath, qint64 expectedSize,
                                                     QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_Manager(manager)
    , m_Reply(nullptr)
    , m_IdlePolls(0)
    , m_FileName(fileName)
    , m_Version(version)
    , m_File(localPath)
    , m_Retries(0)
    , m_LastPolled(0)
    , m_ExpectedSize(expectedSize)
    , m_InitialExpectedSize(expectedSize)
    , m_Received(0)
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    if (m_Reply) {
        m_Reply->disconnect(this);
        m_Reply->deleteLater();
    }
    // A task discarded in the middle of a transfer must not leave a partial
    // file behind that a later session could mistake for a complete one.
    if (m_File.isOpen()) {
        m_File.close();
        m_File.remove();
    }
}

QUrl DownloadTaskSpecification::downloadUrl() const
{
    return QUrl(AppGlobals::channelBaseUrl() + QString::number(m_Version) + QLatin1Char('/') +
                    m_FileName,
                QUrl::TolerantMode);
}

void DownloadTaskSpecification::execute()
{
    qDebug() << "Downloading" << m_FileName;
    emit message(QStringLiteral("Downloading %1").arg(m_FileName));
    m_TaskState = TASK_RUNNING;
    startDownload();
}

void DownloadTaskSpecification::startDownload()
{
    // Unbuffered, so that a full disk shows up as a failed write of this
    // attempt instead of being lost in a buffer flushed on close.
    if (!m_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit error(QStringLiteral("Unable to create file %1 for saving").arg(m_File.fileName()));
        setFailed();
        return;
    }
    const QUrl url = downloadUrl();
    qDebug() << "Requesting download of" << url;
    QNetworkRequest request(url);
    m_Reply = m_Manager ? m_Manager->get(request) : nullptr;
    if (!m_Reply) {
        m_File.close();
        m_File.remove();
        emit error(QStringLiteral("Download failed to initialize"));
        setFailed();
        return;
    }
    if (!m_Reply->isRunning()) {
        downloadError(m_Reply->errorString());
        return;
    }
    connect(m_Reply, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(onDownloadProgress(qint64, qint64)));
    connect(m_Reply, SIGNAL(readyRead()), this, SLOT(onReadyRead()));
    connect(m_Reply, SIGNAL(finished()), this, SLOT(onDownloadFinished()));
    connect(m_Reply, SIGNAL(metaDataChanged()), this, SLOT(onMetaDataChanged()));
}

void DownloadTaskSpecification::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    Q_UNUSED(bytesReceived)
    if (bytesTotal > 0 && m_ExpectedSize == -1)
        m_ExpectedSize = bytesTotal;
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!m_Reply)
        return;
    const QVariant status = m_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    bool ok = false;
    const int code = status.toInt(&ok);
    if (ok && code == 200)
        return;
    downloadError(QStringLiteral("%1 returned %2").arg(m_FileName).arg(ok ? code : 0));
}

void DownloadTaskSpecification::onReadyRead()
{
    readReplyData();
}

bool DownloadTaskSpecification::readReplyData()
{
    // The reply is read in chunks of at most 4096 bytes; the file receives
    // them whenever the gathering buffer is full and before returning, so a
    // write error still ends the attempt within this call, and the counters
    // and progress only ever count bytes that are on disk.
    qint64 gathered = 0;
    while (m_Reply) {
        m_IdlePolls = 0;
        const qint64 available = m_Reply->bytesAvailable();
        if (available <= 0)
            break;
        if (gathered + chunkSize > gatherSize) {
            if (!writeGathered(gathered))
                return false;
            gathered = 0;
        }
        if (m_Gathered.size() < gatherSize)
            m_Gathered.resize(int(gatherSize));
        const qint64 n = m_Reply->read(m_Gathered.data() + gathered, qMin(chunkSize, available));
        if (n == 0)
            break;
        if (n < 0) {
            downloadError(m_Reply->errorString());
            return false;
        }
        gathered += n;
    }
    return writeGathered(gathered);
}

bool DownloadTaskSpecification::writeGathered(qint64 n)
{
    if (n == 0)
        return true;
    const qint64 written = m_File.write(m_Gathered.constData(), n);
    if (written < 0) {
        downloadError(m_File.errorString());
        return false;
    }
    if (written != n) {
        downloadError(
            QStringLiteral("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                .arg(m_File.fileName())
                .arg(n)
                .arg(written));
        return false;
    }
    m_Received += n;
    if (m_ExpectedSize > 0)
        setProgress(qMin(1.0, qreal(m_Received) / qreal(m_ExpectedSize)));
    return true;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!m_Reply)
        return;
    if (m_Reply->error() != QNetworkReply::NoError) {
        if (m_Reply->error() == QNetworkReply::AuthenticationRequiredError)
            m_Reply->close();
        downloadError(m_Reply->errorString());
        return;
    }
    // Only a 200 answer is the file; metaDataChanged normally catches any
    // other status first, this keeps one that slipped past from counting as a
    // complete download.
    const QVariant status = m_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
        downloadError(QStringLiteral("%1 returned %2").arg(m_FileName).arg(status.toInt()));
        return;
    }
    if (!readReplyData())
        return;
    m_Reply->close();
    m_Reply->deleteLater();
    m_Reply = nullptr;
    m_Gathered.clear();
    m_File.close();
    downloadFinished();
}

void DownloadTaskSpecification::downloadFinished()
{
    qDebug() << "Download finished:" << m_FileName << m_File.fileName() << m_File.isOpen()
             << m_File.exists();
    emit message(QStringLiteral("Downloading %1 finished").arg(m_FileName));
    setFinished();
}

bool DownloadTaskSpecification::downloadError(const QString &text)
{
    abortTransfer();
    emit message(text);
    if (m_Retries++ < maxRetries) {
        startDownload();
        return true;
    }
    emit message(QStringLiteral("Unable to download %1").arg(m_FileName));
    m_File.remove();
    setFailed();
    return false;
}

void DownloadTaskSpecification::abortTransfer()
{
    if (m_Reply) {
        m_Reply->disconnect(this);
        m_Reply->deleteLater();
        m_Reply = nullptr;
    }
    m_IdlePolls = 0;
    if (m_File.isOpen()) {
        m_File.close();
        m_File.remove();
    }
    m_Gathered.clear();
    m_LastPolled = 0;
    m_ExpectedSize = m_InitialExpectedSize;
    m_Received = 0;
    setProgress(0);
}

void DownloadTaskSpecification::reset()
{
    abortTransfer();
    m_Retries = 0;
    TaskSpecification::reset();
}

void DownloadTaskSpecification::getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                                  quint64 &bytesSinceLastPoll, bool &downloading)
{
    bytesDone = quint64(m_Received);
    bytesTotal = m_ExpectedSize < 0 ? 0 : quint64(m_ExpectedSize);
    bytesSinceLastPoll = quint64(m_Received - m_LastPolled);
    m_LastPolled = m_Received;
    if (m_TaskState != TASK_RUNNING || !m_Reply)
        return;
    if (m_IdlePolls++ < maxIdlePolls) {
        downloading = true;
        return;
    }
    downloadError(QStringLiteral("file %1 timed out").arg(m_FileName));
}

void DownloadTaskSpecification::cancel()
{
    TaskSpecification::cancel();
    if (m_TaskState == TASK_RUNNING) {
        abortTransfer();
        setCanceled();
    }
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    Q_UNUSED(other)
    if (m_Reply) {
        emit message(QStringLiteral("Abort downloading %1").arg(m_FileName));
        abortTransfer();
    }
    setFailed();
}
