#include "processtools.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

void ProcessTools::startQvxClient(const QString &installDir)
{
    qDebug() << "startQvxClient";
    const QString path = installDir + QStringLiteral("/qvxclient_runscript.sh");
    qDebug() << "starting " << path;
    QProcess::startDetached(path, {}, installDir);
}

void ProcessTools::startClientUpdater(const QString &dir, const QStringList &args)
{
    qDebug() << "startClientUpdater" << dir << args;
    const QString path = dir + QStringLiteral("/update");
    qDebug() << "startNewUpdater_linux" << path;
    if (QFileInfo::exists(path)) {
        qDebug() << "starting" << path;
        QProcess::startDetached(path, args, dir);
    } else {
        qDebug() << "Failed to find" << path;
    }
}
