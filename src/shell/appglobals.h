#pragma once

#include <QString>
#include <QStringList>

class QObject;

// Process-wide constants of the updater and its one process-wide setting, the
// channel base URL. Everything here is read on the main thread; worker threads
// get copies of what they need.
namespace AppGlobals {

// Time stamp of every log line; milliseconds follow the last colon.
inline constexpr char logTimeFormat[] = "yyyy-MM-dd hh:mm:ss:zzz";

// File names that are given the executable permission when they are installed.
const QStringList &executableFileNames();
// Name endings of shared libraries, which are made executable as well.
const QStringList &sharedLibrarySuffixes();
// Marker files in the temporary directory that tell the client to check again.
const QStringList &forceUpdateMarkerNames();

// Build-time settings (see the README).
QString defaultChannelBaseUrl();
QString versionQueryUrl();
QString bannerServerHost();
QString websiteUrl();

// The release folder root every download URL is built from. Empty until the
// configuration has looked for update.ini; always ends with "/" afterwards.
QString channelBaseUrl();
void setChannelBaseUrl(const QString &url);

// The application's one main window, or null while there is none. Install
// commands that ask for a computer restart reach its slot
// onRebootWithConfirmation() through a queued connection. Not owned.
QObject *mainWindow();
void setMainWindow(QObject *window);

} // namespace AppGlobals
