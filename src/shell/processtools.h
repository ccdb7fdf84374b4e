#pragma once

#include <QString>
#include <QStringList>

// Starts the program that follows an update: the client after a client update,
// or the freshly installed updater after the updater updated itself. Both are
// started detached; the updater does not wait for them.
class ProcessTools
{
public:
    ProcessTools() = delete;

    // Runs installDir/qvxclient_runscript.sh in installDir.
    static void startQvxClient(const QString &installDir);
    // Runs dir/update with args in dir; logs "Failed to find" when it is missing.
    static void startClientUpdater(const QString &dir, const QStringList &args);
};
