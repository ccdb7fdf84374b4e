#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class Configuration;
class MainTaskSpecification;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Runs one update session for the window: continues or cleans up the session
// recorded in update.ini, records the new one, runs the main task, forwards
// its progress, messages and errors, polls the download counters once a
// second, and cleans up after success. It owns the session's network manager
// (with the proxy of update.ini), through which every download goes, and
// fetches the advertisement banner.
//
// A cancelled or failed session keeps its temporary directory and record, so
// the next start with the same target version continues it.
class UpdateEngine : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateEngine)

public:
    enum State
    {
        PRE_INIT = 0,
        POST_INIT = 1,
        RUNNING = 2,
        FINISHED = 3,
        CANCELED = 4
    };

    // config is not owned. An invalid proxy setting is remembered and
    // reported by initialize(), once the window listens.
    UpdateEngine(Configuration *config, QObject *parent);
    ~UpdateEngine() override;

    // From PRE_INIT: cryptography, previous session, new update.ini record.
    // False after a fatalError or error report; the state stays PRE_INIT.
    bool initialize();
    // From POST_INIT: creates and starts the main task.
    bool startUpdate();
    bool isSessionActive() const;
    void getBanner();
    // From CANCELED: back to PRE_INIT without a main task.
    void resetAfterCancel();

    State state() const { return State(m_State); }

    // Leftovers of earlier updater versions in dir; called at every start.
    static void removeOldFiles(const QString &dir);
    static void removeQt4Files(const QString &dir);

    // Only directories this updater makes for its sessions are ever emptied
    // and removed by it: their names begin with "quorvex_temp_".
    static bool isOwnTempDir(const QString &dir);

signals:
    void fatalError(const QString &errorMessage);
    void error(const QString &errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(qulonglong downloadDone, qulonglong downloadTotal, qulonglong speed,
                          bool downloading);
    void message(const QString &message);
    void updateFinished();
    void updateCanceled();
    void bannerFound(const QByteArray &bannerImage, const QString &clickUrl);

public slots:
    void cancelUpdate();

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();
    void onBannerFound(const QString &bannerUrl, const QString &clickUrl);
    void onBannerDownloadFinished();
    void onBannermetaDataChanged();

private:
    void cleanup();
    static void removeDirContents(const QString &dir);
    void setUpProxy();

    int m_State;
    Configuration *m_Config;
    MainTaskSpecification *m_MainTask;
    QTimer *m_Timer;
    QNetworkAccessManager *m_NetworkManager;
    QString m_BannerClickUrl;
    QNetworkReply *p_BannerReply;
    // The constructor runs before anyone listens; the report waits here.
    QString m_ProxyError;
};
