#include "prepostinstalltaskspecification.h"

#include "shell/appglobals.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

PrePostInstallTaskSpecification::PrePostInstallTaskSpecification(InstallCommandEntry *entry,
                                                                 Configuration *config,
                                                                 QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight)
    , m_Entry(entry)
    , m_Config(config)
{
}

PrePostInstallTaskSpecification::~PrePostInstallTaskSpecification() = default;

void PrePostInstallTaskSpecification::setTimeouts(int startTimeoutMs, int finishTimeoutMs)
{
    m_StartTimeoutMs = startTimeoutMs;
    m_FinishTimeoutMs = finishTimeoutMs;
}

ASyncFunc *PrePostInstallTaskSpecification::createFunc()
{
    auto *func = new PrePostInstallFunc(m_Entry, m_Config, m_StartTimeoutMs, m_FinishTimeoutMs);
    if (QObject *window = AppGlobals::mainWindow()) {
        if (!connect(func, SIGNAL(reboot_with_confirmation()), window,
                     SLOT(onRebootWithConfirmation()), Qt::QueuedConnection))
            qDebug() << "The main window takes no restart requests";
    }
    return func;
}

void PrePostInstallTaskSpecification::runDone(bool ok)
{
    // A result that arrives after a reset belongs to no run: it must not end
    // the idle task and start its list's next command.
    if (m_TaskState != TASK_RUNNING)
        return;
    if (ok)
        setFinished();
    else
        setFailed();
}

PrePostInstallFunc::PrePostInstallFunc(InstallCommandEntry *entry, Configuration *config,
                                       int startTimeoutMs, int finishTimeoutMs)
    : m_Entry(entry)
    , m_Config(config)
    , m_StartTimeoutMs(startTimeoutMs)
    , m_FinishTimeoutMs(finishTimeoutMs)
{
}

PrePostInstallFunc::~PrePostInstallFunc() = default;

bool PrePostInstallFunc::run()
{
    const QString command = m_Entry->command;
    const bool required = m_Entry->required;
    const QString tempDir = m_Config->m_TempDir;
    QStringList arguments;
    for (const QString &argument : qAsConst(m_Entry->args))
        arguments.append(QStringLiteral("--") + argument);
    qDebug() << "Starting" << command << "args" << arguments;
    qDebug() << "temp dir:" << tempDir;
    emit message(QStringLiteral("Starting %1").arg(command));

    const QString program = tempDir + QDir::separator() + command;
    // Downloads are written without the executable bit; the program is one
    // of them. It gets the bit for this run only: a pre-install program may
    // also be a file of the release, installed later with the mode the
    // installation gives it.
    const QFileInfo programInfo(program);
    const QFileDevice::Permissions mode = programInfo.permissions();
    const bool madeExecutable = programInfo.isFile() && !programInfo.isExecutable();
    if (madeExecutable) {
        qDebug() << "Making executable" << program
                 << QFile::setPermissions(program,
                                          mode | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    }
    const auto restoreMode = qScopeGuard([&] {
        if (madeExecutable)
            QFile::setPermissions(program, mode);
    });

    QProcess process;
    process.setWorkingDirectory(tempDir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    qDebug() << "Starting" << command << "state" << process.state();
    if (!process.waitForStarted(m_StartTimeoutMs)) {
        qDebug() << "Failed to start process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(QStringLiteral("Failed to start %1: %2").arg(command, process.errorString()));
        return !required;
    }
    qDebug() << "Wait for started completed";
    if (!process.waitForFinished(m_FinishTimeoutMs)) {
        qDebug() << "Failed to run process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(QStringLiteral("Failed to run %1: %2").arg(command, process.errorString()));
        process.kill();
        process.waitForFinished(5000);
        return !required;
    }
    qDebug() << "Wait for finished completed";
    qDebug() << "Output of" << command << process.readAll();
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    qDebug() << "Process exit code:" << exitCode;

    if (exitCode == 0) {
        emit message(QStringLiteral("%1 completed sucessfully").arg(command));
        return true;
    }
    if (exitCode == 1) {
        emit message(QStringLiteral("Failed to complete %1, exit code: %2").arg(command).arg(1));
        return !required;
    }
    if (exitCode == rebootExitCode || exitCode == rebootExitStatus) {
        emit message(QStringLiteral("%1 completed sucessfully, reboot required").arg(command));
        qDebug() << "Restart requested by" << command;
        emit reboot_with_confirmation();
        return true;
    }
    return !required;
}
