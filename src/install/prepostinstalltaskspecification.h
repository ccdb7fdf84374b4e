#pragma once

#include "manifest/updateplan.h"
#include "tasks/asynctaskspecification.h"

class Configuration;

// Runs one pre- or post-install command of the plan on the thread pool: the
// program of that name in the temporary directory, with "--" put in front of
// every argument, given 30 s to start and 30 s to finish. Exit code 0 is
// success; 1010 is success with a request to restart the computer, passed to
// the main window; anything else fails the task only when the command is
// required.
class PrePostInstallTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(PrePostInstallTaskSpecification)

public:
    static constexpr int defaultTimeoutMs = 30000;

    // entry and config are not owned; the plan must outlive the task.
    PrePostInstallTaskSpecification(InstallCommandEntry *entry, Configuration *config,
                                    QObject *parent, qreal weight);
    ~PrePostInstallTaskSpecification() override;

    // The limits for starting and for running the command (30 s each unless
    // set before execute()).
    void setTimeouts(int startTimeoutMs, int finishTimeoutMs);

protected:
    // Connects the restart request to the main window when there is one.
    ASyncFunc *createFunc() override;
    void runDone(bool ok) override;

    InstallCommandEntry *m_Entry;
    Configuration *m_Config;
    int m_StartTimeoutMs = defaultTimeoutMs;
    int m_FinishTimeoutMs = defaultTimeoutMs;
};

class PrePostInstallFunc : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(PrePostInstallFunc)

public:
    // What a program that ends with exit(1010) shows as its exit code here:
    // exit statuses are 8 bits wide on this platform.
    static constexpr int rebootExitCode = 1010;
    static constexpr int rebootExitStatus = rebootExitCode & 0xff;

    PrePostInstallFunc(InstallCommandEntry *entry, Configuration *config,
                       int startTimeoutMs = PrePostInstallTaskSpecification::defaultTimeoutMs,
                       int finishTimeoutMs = PrePostInstallTaskSpecification::defaultTimeoutMs);
    ~PrePostInstallFunc() override;

    bool run() override;

signals:
    // Emitted from the worker thread when the command asks for a restart.
    void reboot_with_confirmation();

protected:
    InstallCommandEntry *m_Entry;
    Configuration *m_Config;
    int m_StartTimeoutMs;
    int m_FinishTimeoutMs;
};
