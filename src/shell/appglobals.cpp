#include "appglobals.h"

#include "buildsettings.h"

namespace AppGlobals {

namespace {
QString g_channelBaseUrl;
QObject *g_mainWindow = nullptr;
} // namespace

const QStringList &executableFileNames()
{
    static const QStringList names{
        QStringLiteral("qvxclient_linux_x86"),    QStringLiteral("qvxclient_linux_amd64"),
        QStringLiteral("qvxclient_runscript.sh"), QStringLiteral("update"),
        QStringLiteral("error_report"),           QStringLiteral("package_inst"),
        QStringLiteral("QtWebEngineProcess")};
    return names;
}

const QStringList &sharedLibrarySuffixes()
{
    static const QStringList suffixes{QStringLiteral("so"), QStringLiteral("so.0"),
                                      QStringLiteral("so.1"), QStringLiteral("so.4"),
                                      QStringLiteral("so.5")};
    return suffixes;
}

const QStringList &forceUpdateMarkerNames()
{
    static const QStringList names{QStringLiteral("qvx_force_update"),
                                   QStringLiteral("qvx_force_update_check")};
    return names;
}

QString defaultChannelBaseUrl()
{
    return QString::fromUtf8(BuildSettings::channelBaseUrl);
}

QString versionQueryUrl()
{
    return QString::fromUtf8(BuildSettings::versionQueryUrl);
}

QString bannerServerHost()
{
    return QString::fromUtf8(BuildSettings::bannerHost);
}

QString websiteUrl()
{
    return QString::fromUtf8(BuildSettings::websiteUrl);
}

QString channelBaseUrl()
{
    return g_channelBaseUrl;
}

void setChannelBaseUrl(const QString &url)
{
    g_channelBaseUrl = url;
}

QObject *mainWindow()
{
    return g_mainWindow;
}

void setMainWindow(QObject *window)
{
    g_mainWindow = window;
}

} // namespace AppGlobals
