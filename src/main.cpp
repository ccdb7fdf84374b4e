#include "session/updateengine.h"
#include "shell/configuration.h"
#include "shell/logfile.h"
#include "shell/singleinstancechecker.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

void installTranslators(QApplication &app, const QString &appDir)
{
    const QString name = QLocale::system().name();
    // Installed whether or not the file was found: without one the program
    // simply stays in its source language.
    static QTranslator updateTranslator;
    static QTranslator qtTranslator;
    updateTranslator.load(appDir + QStringLiteral("/translations/update_") + name);
    app.installTranslator(&updateTranslator);
    qtTranslator.load(appDir + QStringLiteral("/translations/qt_") + name);
    app.installTranslator(&qtTranslator);
}

} // namespace

int main(int argc, char *argv[])
{
    LogFile::instance();
    qInstallMessageHandler(logMessageHandler);

    QApplication app(argc, argv);
    const QString appDir = QCoreApplication::applicationDirPath();
    qDebug() << "Quorvex updater started";

    UpdateEngine::removeQt4Files(appDir);
    for (const QString &sub : {QString(), QStringLiteral("/old"), QStringLiteral("/imageformats"),
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
    // Until the main window exists, a plain window stands in for it: it owns
    // the single-instance listener and comes to the front when asked.
    QLabel window(QObject::tr("Quorvex updater"));
    window.setObjectName(QStringLiteral("MainWindow"));
    window.setWindowTitle(QObject::tr("Quorvex updater"));
    SingleInstanceChecker instanceChecker(&window);
    QObject::connect(&instanceChecker, &SingleInstanceChecker::otherInstanceActivate, &window,
                     [&window](const QString &message) {
                         qDebug() << "otherInstanceActivate" << message;
                         if (message == QLatin1String("#")) {
                             window.showNormal();
                             window.raise();
                             window.activateWindow();
                         }
                     });
    QObject::connect(&configuration, &Configuration::fatalError, &app,
                     [](const QString &errorMessage) {
                         qWarning() << "Fatal configuration error:" << errorMessage;
                         QCoreApplication::exit(1);
                     });

    if (!configuration.parseCommandLineOptions()) {
        qWarning() << "Failed to parse command line options, aborting";
        return 1;
    }

    window.show();
    const int result = app.exec();

    LogFile::instance()->flush();
    return result;
}
