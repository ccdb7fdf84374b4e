#pragma once

#include "manifest/updatechecker.h"

#include <QObject>
#include <QString>
#include <QStringList>

// Everything an update session needs to know before it starts: what is being
// updated, which product flavour, which target version on which release channel,
// where the temporary and installation directories are, the proxy and how many
// downloads may run at once.
//
// One instance exists, created by the entry point. The window, the engine and
// the tasks read its fields directly; it is filled from the command line and
// update.ini before the event loop runs, and the directories just before a
// session starts.
class Configuration : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Configuration)

public:
    explicit Configuration(QObject *parent = nullptr);

    // Reads the command line of the running application. False means the
    // program must end with exit code 1 (a fatalError has been emitted).
    bool parseCommandLineOptions();
    bool parseCommandLineOptions(const QStringList &arguments);

    // Looks for update.ini in the configuration directory, then next to the
    // executable, and takes the release channel (and the alpha revision) from it.
    void getUpdateChannel();
    bool parseClientArgs(const QStringList &args, int first);
    bool parseVersionNumber(const QString &text, const QString &errorFormat);
    bool getDefaultParameters();

    // Sets the session's directories; an empty tempDir creates a fresh
    // quorvex_temp_N directory, an empty installDir means the executable's own.
    bool initalizeStart(const QString &tempDir, const QString &installDir);
    bool createTempDir();
    // Reads the "update" group of the update.ini next to the executable.
    void readUpdateSettings();

    bool m_Ready = false;
    int m_UpdateMode = 0; // 1: update the client; 0: the updater updates itself
    int m_Channel = 0;    // 0 stable, 1 beta, 2 alpha
    QString m_ClientType;
    int m_ClientVersion = 0; // 0: not known yet
    QString m_VersionString;
    QString m_TempDir;
    QString m_InstallDir;
    QString m_Proxy;
    int m_Streams = 6;

public slots:
    // The version server's answer. An empty hash (the query failed) tells the
    // user in a box and quits; otherwise the configured channel's release
    // becomes the target version and ready() follows, or fatalError() when the
    // server named none or an invalid one.
    void on_updateAvailable(UpdateVersions versions);

signals:
    void ready();
    void fatalError(const QString &errorMessage);
    void message(const QString &message);
};

// "client_linux_amd64" for a client update (mode 1), "update_linux_amd64" otherwise.
QString defaultClientType(int updateMode);

// The client's configuration directory, always ending with a separator:
// $QVX_CONFIG_DIR when set, else ~/.qvxclient/.
QString configDir();
