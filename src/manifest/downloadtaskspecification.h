#pragma once

#include "tasks/taskspecification.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file of a release from the update channel into a local file.
//
// The body streams to disk as it arrives, in chunks of at most 4096 bytes.
// Every failed attempt (network error, status other than 200, disk error, no
// data for 16 status polls) removes the partial file and starts a new attempt
// at once; after the fifth failed attempt the task fails and no file is left.
// A finished download has not been verified: that is the caller's next task.
//
// The inactivity time-out is driven by getDownloadStatus, so exactly one
// poller (the update engine's one-second timer) may call it on a task tree.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    // manager is the session's manager (not owned); fileName is the path
    // relative to the release folder; localPath the absolute destination;
    // expectedSize the planned size, or -1 when unknown (the server's
    // Content-Length is then used for progress).
    DownloadTaskSpecification(QNetworkAccessManager *manager, const QString &fileName, int version,
                              const QString &localPath, qint64 expectedSize, QObject *parent,
                              qreal weight);
    ~DownloadTaskSpecification() override;

    void execute() override;
    void reset() override;
    void getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal, quint64 &bytesSinceLastPoll,
                           bool &downloading) override;
    void cancel() override;

    // Called once the whole body is on disk and the file is closed.
    virtual void downloadFinished();

    // The URL of the file: channel base URL + version + "/" + file name.
    QUrl downloadUrl() const;

protected:
    // A sibling failed: a running download ends as failed, its file removed.
    void handleOtherTaskCancelled(TaskSpecification *other) override;

    void startDownload();
    // The single error path of an attempt; true when a new attempt was started.
    bool downloadError(const QString &text);
    // Drops the reply and the partial file and resets the attempt's counters.
    void abortTransfer();
    // Copies what the reply has buffered to the file; false after an error.
    bool readReplyData();

    QNetworkAccessManager *m_Manager;
    QNetworkReply *m_Reply;
    int m_IdlePolls;
    QString m_FileName;
    int m_Version;
    QFile m_File;
    int m_Retries;
    qint64 m_LastPolled;
    qint64 m_ExpectedSize;
    qint64 m_InitialExpectedSize;
    qint64 m_Received;

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();

private:
    // Writes the first n bytes of m_Gathered; false after the error path ran.
    bool writeGathered(qint64 n);

    // Chunks read from the reply, waiting to be written together.
    QByteArray m_Gathered;

    Q_DISABLE_COPY(DownloadTaskSpecification)
};
