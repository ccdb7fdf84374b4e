#include "updateinidata.h"

#include "configuration.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

QString currentGroup()
{
    return QStringLiteral("current");
}

bool writeRecord(const QString &path, int version, const QString &dir, const QString &qvxdir,
                 const QString &type, const char *logLabel)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(currentGroup());
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("qvxdir"), qvxdir);
    settings.setValue(QStringLiteral("type"), type);
    settings.endGroup();
    settings.sync();
    qDebug() << logLabel << int(settings.status());
    return settings.status() == QSettings::NoError;
}

} // namespace

QString UpdateIniData::installIniPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("update.ini"));
}

bool UpdateIniData::get(int *version, QString *type, QString *dir, QString *qvxdir)
{
    const QString path = installIniPath();
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(currentGroup());
    bool versionValid = false;
    const int readVersion = settings.value(QStringLiteral("version")).toInt(&versionValid);
    const QString readDir = settings.value(QStringLiteral("dir")).toString();
    const QString readQvxdir = settings.value(QStringLiteral("qvxdir")).toString();
    const QString readType = settings.value(QStringLiteral("type")).toString();
    qDebug() << "get" << path << readVersion << readDir << readQvxdir << readType;

    const bool valid =
        versionValid && !readType.isEmpty() && !readDir.isEmpty() && QFileInfo::exists(readDir);
    if (!valid)
        return false;
    if (version)
        *version = readVersion;
    if (type)
        *type = readType;
    if (dir)
        *dir = readDir;
    if (qvxdir)
        *qvxdir = readQvxdir;
    return true;
}

bool UpdateIniData::modify(int version, const QString &dir, const QString &qvxdir,
                           const QString &type)
{
    const QString path = installIniPath();
    qDebug() << "modify" << path << version << dir << qvxdir << type;
    return writeRecord(path, version, dir, qvxdir, type, "UpdateiniData::modify write result");
}

bool UpdateIniData::modifyTempIni(const QString &dirPath)
{
    const QString target = dirPath + QStringLiteral("/update.ini");
    qDebug() << "modifyTempIni" << target;
    int version = 0;
    QString dir;
    QString qvxdir;
    if (!get(&version, nullptr, &dir, &qvxdir)) {
        qDebug() << "Failed to read existing update.ini";
        return false;
    }
    return writeRecord(target, version, dir, qvxdir, defaultClientType(1),
                       "UpdateiniData::modifyTempIni write result");
}
