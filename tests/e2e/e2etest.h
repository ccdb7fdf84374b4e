#pragma once

// The world of an end-to-end test: a demo client installation of release
// 1001, the channel with releases 1001 and 1002 served by nginx on the
// updater's built-in address, and the real update executable run as a user
// runs it, offscreen, with HOME, TMPDIR and QVX_CONFIG_DIR of its own.
//
// Every process the test starts from the sandbox (the updater of step one, the
// updater of step two started detached from the temporary directory, install
// commands, the client) is found by its path below the sandbox and killed by
// its id when the test ends.

#include "nginxserver.h"
#include "treesnapshot.h"

#include <QByteArray>
#include <QFileDevice>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace E2E {

constexpr quint16 builtInPort = 18765;
constexpr int oldVersion = 1001;
constexpr int newVersion = 1002;

using TreeSnapshot::differences;
using TreeSnapshot::Node;
using TreeSnapshot::snapshot;
using TreeSnapshot::Tree;

// One request of the nginx access log.
struct Request
{
    QString path;
    int status = 0;
    qint64 bytes = 0;
};

class E2ETest : public ::testing::Test
{
protected:
    // Builds the releases once for the whole run (scripts/make-demo-releases).
    static void SetUpTestSuite();
    static QString releases(); // OUT of make-demo-releases
    static QString releaseTree(const QString &product, int version);

    void SetUp() override;
    void TearDown() override;

    QString path(const QString &relative) const; // below the sandbox
    QString install() const { return path(QStringLiteral("install")); }
    QString tempDir() const { return path(QStringLiteral("tmp")); }
    QString configDir() const { return path(QStringLiteral("config")); }
    QString channelRoot() const { return m_ChannelRoot; }

    // A copy of the served files this test may change (before startServer).
    void usePrivateChannel();
    bool startServer(int limitRate = 0);
    void stopServer() { m_Server.stop(); }
    QList<Request> requests() const;

    QProcessEnvironment environment() const;
    // Runs an executable of the sandbox to its end (the step-one updater
    // ends soon after it started step two). False on a time-out.
    bool run(const QString &exe, const QStringList &args, int timeoutMs = 60000,
             int *exitCode = nullptr);
    // Starts an executable of the sandbox without waiting.
    bool launch(const QString &exe, const QStringList &args);

    // The ids of every process running from the sandbox.
    QList<qint64> sandboxProcesses() const;
    QList<qint64> stepTwoProcesses() const;
    void killSandboxProcesses();
    // Waits until no process of the sandbox runs any more.
    bool waitForQuiet(int timeoutMs = 60000);

    QStringList sessionDirs() const; // quorvex_temp_* in TMPDIR
    QStringList stepTwoArguments() const;
    QByteArray logText() const; // every log file of the updater
    bool waitForLog(const QByteArray &text, int timeoutMs = 30000) const;
    int clientStarts() const;

    // Files of the user beside the installation, which no run may touch.
    Tree userFiles() const;

    // Puts the world back as SetUp left it, for the next case of a table:
    // stops the server and every process, reinstalls the old release, empties
    // TMPDIR (but for the log marker) and removes what the demo's programs
    // and the updater wrote to the configuration directory.
    void startAgainFromOldRelease();

    // The checks of a successful two-step update to the release tree given
    // (the demo's new client release when empty).
    void expectUpdated(const QString &tree = QString());

    QTemporaryDir m_Root;
    NginxServer m_Server;
    QString m_ChannelRoot;
    QMap<QString, QString> m_ExtraEnvironment;
    Tree m_UserFilesBefore;
};

} // namespace E2E
