#include "configuration.h"

#include "appglobals.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

namespace {

constexpr int defaultStreams = 6;
constexpr int tempDirCandidates = 1000;

const char *yesNo(bool value)
{
    return value ? "true" : "false";
}

QString withTrailingSlash(const QString &url)
{
    return url.endsWith(QLatin1Char('/')) ? url : url + QLatin1Char('/');
}

} // namespace

Configuration::Configuration(QObject *parent)
    : QObject(parent)
{
}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList &args)
{
    qDebug() << "parseCommandLineOptions" << args;
    const int n = args.size();
    m_UpdateMode = (n >= 2 && args.at(1) == QLatin1String("--clientupdate")) ? 1 : 0;

    getUpdateChannel();

    if (n >= 2 && (args.at(1) == QLatin1String("--nouser") ||
                   args.at(1) == QLatin1String("--clientupdate"))) {
        qDebug() << "CLIENTUPDATE" << yesNo(m_UpdateMode == 1);
        if (n >= 4 && !parseClientArgs(args, 2))
            return false;
        if (n >= 5 && args.at(4) != QLatin1String("#"))
            m_VersionString = args.at(4);
        getDefaultParameters();
    } else if (n == 3) {
        if (!parseClientArgs(args, 1))
            return false;
    } else {
        qDebug() << "Empty cmdline params";
        getDefaultParameters();
    }

    // While the version still has to come from the version server, a session
    // must not start: it would run for version 0. The answer sets m_Ready.
    m_Ready = m_ClientVersion != 0;
    return true;
}

void Configuration::getUpdateChannel()
{
    qDebug() << "Searching update.ini";
    QString path = configDir() + QStringLiteral("update.ini");
    bool found = QFileInfo::exists(path);
    qDebug() << "Update ini check #1 in CONFIG" << path << yesNo(found);
    if (found) {
        qDebug() << "Found CONFIG/update.ini";
    } else {
        path = QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini");
        found = QFileInfo::exists(path);
        qDebug() << "Update ini check #2 in INSTALL" << path << yesNo(found);
        if (!found) {
            m_Channel = 0;
            m_ClientVersion = 0;
            AppGlobals::setChannelBaseUrl(AppGlobals::defaultChannelBaseUrl());
            qDebug() << "No update.ini found, using stable channel, URL ="
                     << AppGlobals::channelBaseUrl();
            return;
        }
        qDebug() << "Found INSTALL/update.ini";
    }

    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    const QString alpha = settings.value(QStringLiteral("alpha")).toString();
    bool beta = settings.value(QStringLiteral("beta"), false).toBool();
    if (!beta)
        beta = settings.value(QStringLiteral("Beta"), false).toBool();

    if (!alpha.isEmpty()) {
        m_Channel = 2;
        m_ClientVersion = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
        AppGlobals::setChannelBaseUrl(withTrailingSlash(alpha));
        qDebug() << "Alpha channel detected, URL =" << AppGlobals::channelBaseUrl();
    } else {
        m_Channel = beta ? 1 : 0;
        m_ClientVersion = 0;
        AppGlobals::setChannelBaseUrl(AppGlobals::defaultChannelBaseUrl());
        qDebug() << (beta ? "Beta" : "Stable")
                 << "channel detected, URL =" << AppGlobals::channelBaseUrl();
    }
}

bool Configuration::parseClientArgs(const QStringList &args, int first)
{
    if (first >= args.size()) {
        emit fatalError(tr("No client type specified"));
        return false;
    }
    m_ClientType = args.at(first);
    if (first + 1 >= args.size()) {
        emit fatalError(tr("No client version specified"));
        return false;
    }
    return parseVersionNumber(args.at(first + 1), tr("Invalid version nr (%1)"));
}

bool Configuration::parseVersionNumber(const QString &text, const QString &errorFormat)
{
    // The alpha channel's revision from update.ini wins over any other source.
    if (m_ClientVersion != 0)
        return true;

    bool ok = false;
    const int version = text.toInt(&ok, 10);
    // Version 0 stands for "not known yet" and no release is numbered below 1,
    // so both are rejected like any other text that is not a version.
    if (!ok || version <= 0) {
        emit fatalError(errorFormat.arg(text));
        return false;
    }
    m_ClientVersion = version;
    return true;
}

bool Configuration::getDefaultParameters()
{
    qDebug() << "getDefaultParameters" << m_ClientType;
    if (m_ClientType.isEmpty())
        m_ClientType = defaultClientType(m_UpdateMode);
    qDebug() << "clientType" << m_ClientType;
    if (m_ClientVersion == 0) {
        auto *checker = new UpdateChecker(this);
        connect(checker, SIGNAL(update_available(UpdateVersions)), this,
                SLOT(on_updateAvailable(UpdateVersions)));
        checker->checkForUpdate();
    }
    return true;
}

void Configuration::on_updateAvailable(UpdateVersions versions)
{
    qDebug() << "on_updateAvailable" << versions;
    if (versions.isEmpty()) {
        QWidget *window = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("MainWindow")) {
                window = widget;
                break;
            }
        }
        QMessageBox::critical(window, tr("Error"),
                              tr("Failed to query latest client\nversion from update server."),
                              QMessageBox::Abort);
        QCoreApplication::quit();
        return;
    }

    static const char *const channelNames[] = {"stable", "beta", "alpha"};
    const QString name =
        (m_Channel >= 0 && m_Channel < 3) ? QLatin1String(channelNames[m_Channel]) : QString();
    const QPair<QString, QString> release = versions.value(name);
    qDebug() << "Received version from remote server:" << release;
    if (release.first.isEmpty()) {
        emit fatalError(tr("Update server returned no version"));
        return;
    }
    if (!parseVersionNumber(release.first, tr("Update server returned invalid version nr (%1)")))
        return;
    m_VersionString = release.second;
    m_Ready = true;
    emit ready();
}

bool Configuration::initalizeStart(const QString &tempDir, const QString &installDir)
{
    qDebug() << "initalizeStart" << tempDir << installDir;
    if (!tempDir.isEmpty())
        m_TempDir = tempDir;
    else if (!createTempDir())
        return false;
    m_InstallDir = installDir.isEmpty() ? QCoreApplication::applicationDirPath() : installDir;
    return true;
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        qDebug() << "*Error* Unable to get temp directory";
        emit fatalError(tr("Unable to get temp directory."));
        return false;
    }
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    QDir().mkpath(base);
    base += QStringLiteral("quorvex_temp_");

    for (int i = 0; i < tempDirCandidates; ++i) {
        const QString candidate = base + QString::number(i);
        if (QFileInfo::exists(candidate))
            continue;
        // mkdir, unlike mkpath, fails when another process took the same name
        // between the check and now, so two updaters never share a directory.
        if (QDir().mkdir(candidate)) {
            m_TempDir = candidate;
            return true;
        }
    }
    qDebug() << "*Error* Unable to create temp directory";
    emit fatalError(tr("Unable to create temp directory."));
    return false;
}

void Configuration::readUpdateSettings()
{
    QSettings settings(QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini"),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    m_Proxy = settings.value(QStringLiteral("proxy")).toString();
    m_Streams = settings.value(QStringLiteral("streams"), defaultStreams).toInt();
    if (m_Streams < 1)
        m_Streams = defaultStreams;
}

QString defaultClientType(int updateMode)
{
    return (updateMode == 1 ? QStringLiteral("client") : QStringLiteral("update")) +
           QStringLiteral("_linux_amd64");
}

QString configDir()
{
    QString dir = qEnvironmentVariable("QVX_CONFIG_DIR");
    if (dir.isEmpty())
        return QDir::homePath() + QStringLiteral("/.qvxclient/");
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}
