#include "manifest/protobufhelper.h"
#include "manifest/updatechecker.h"
#include "session/updateengine.h"
#include "shell/configuration.h"
#include "shell/logfile.h"
#include "shell/singleinstancechecker.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

constexpr int startTimerMs = 2000;

void installTranslators(QApplication &app, const QString &appDir)
{
    const QString name = QLocale::system().name();
    // Installed whether or not the file was found: without one the program
    // simply stays in its source language.
    static QTranslator updateTranslator;
    static QTranslator qtTranslator;
    if (!updateTranslator.load(appDir + QStringLiteral("/translations/update_") + name))
        qDebug() << "No translation for" << name;
    app.installTranslator(&updateTranslator);
    qtTranslator.load(appDir + QStringLiteral("/translations/qt_") + name);
    app.installTranslator(&qtTranslator);
}

} // namespace

int main(int argc, char *argv[])
{
    ProtobufHelper::verifyVersion();
    qRegisterMetaType<UpdateVersions>("UpdateVersions");

    LogFile::instance();
    qInstallMessageHandler(logMessageHandler);

    int result = 0;
    {
        QApplication app(argc, argv);
        const QString appDir = QCoreApplication::applicationDirPath();
        qDebug() << "Quorvex updater started";

        UpdateEngine::removeQt4Files(appDir);
        for (const QString &sub :
             {QString(), QStringLiteral("/old"), QStringLiteral("/imageformats"),
              QStringLiteral("/accessible"), QStringLiteral("/sqldrivers")})
            UpdateEngine::removeOldFiles(appDir + sub);
        QDir(appDir).rmdir(QStringLiteral("old")); // only when empty
        qDebug() << "Removing old files done";

        if (SingleInstanceChecker::sendToRunningInstance(QStringLiteral("#"))) {
            qDebug() << "Detected other instance running, aborting";
            return 0;
        }

        installTranslators(app, appDir);

        Configuration configuration;
        MainWindow window(&configuration);

        if (!configuration.parseCommandLineOptions()) {
            qWarning() << "Failed to parse command line options, aborting";
            return 1;
        }

        QTimer::singleShot(startTimerMs, &window, SLOT(onStartUpdate()));
        window.updateHeader();
        window.show();
        window.delete_force_update_files();
        result = app.exec();
    }

    LogFile::instance()->flush();
    ProtobufHelper::shutdown();
    return result;
}
