#include "mainwindow.h"

#include "session/updateengine.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"
#include "shell/processtools.h"
#include "shell/singleinstancechecker.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QMessageBox>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <limits>

// The logo is compiled into the static application library, whose resource
// registration the linker would drop without a reference.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int startNextProgramDelayMs = 1000;
// The banner is shown at 468 x 60; an image of more pixels than this is not a
// banner, and decoding it could take any amount of memory.
constexpr qint64 maxBannerPixels = 4096 * 4096;

QString tempFilePath(const QString &name)
{
    return QDir::tempPath() + QLatin1Char('/') + name;
}

QString bannerImagePath()
{
    return tempFilePath(QStringLiteral("quorvex_banner.jpg"));
}

QString bannerUrlPath()
{
    return tempFilePath(QStringLiteral("quorvex_banner.txt"));
}

} // namespace

MainWindow::MainWindow(Configuration *config)
    : QWidget(nullptr)
    , m_Config(config)
    , m_Engine(nullptr)
{
    AppGlobals::setMainWindow(this);

    m_Engine = new UpdateEngine(m_Config, this);
    connect(m_Engine, SIGNAL(error(QString)), this, SLOT(onError(QString)));
    connect(m_Engine, SIGNAL(fatalError(QString)), this, SLOT(onFatalError(QString)));
    connect(m_Engine, SIGNAL(updateProgress(qreal)), this, SLOT(onProgressUpdate(double)));
    connect(m_Engine, SIGNAL(message(QString)), this, SLOT(onAppendText(QString)));
    connect(m_Engine, SIGNAL(updateFinished()), this, SLOT(onUpdateFinished()));
    connect(m_Engine, SIGNAL(updateCanceled()), this, SLOT(onUpdateCanceled()));
    connect(m_Engine, SIGNAL(bannerFound(QByteArray, QString)), this,
            SLOT(onBannerFound(QByteArray, QString)));

    initResources();
    setupUi(this);
    connect(detailsButton, SIGNAL(clicked()), this, SLOT(onDetailsPressed()));

    const QString website = AppGlobals::websiteUrl();
    quorvexLabel->setUrl(website);
    quorvexLabel->setToolTip(website);
    copyrightLabel->setText(
        tr("<small>Quorvex update service &middot; <a href=\"%1\">Website</a></small>")
            .arg(website.toHtmlEscaped()));
    outputTextEdit->hide();

    m_InstanceChecker = new SingleInstanceChecker(this);
    connect(m_InstanceChecker, SIGNAL(otherInstanceActivate(QString)), this,
            SLOT(onOtherInstanceActivate(QString)));
    connect(m_Config, SIGNAL(fatalError(QString)), this, SLOT(onFatalConfigError(QString)));
    connect(m_Config, SIGNAL(ready()), this, SLOT(onStartUpdate()));
    // A version that arrives from the version server after the window was
    // shown belongs in the header as well.
    connect(m_Config, &Configuration::ready, this, &MainWindow::updateHeader);

    m_Engine->getBanner();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.width() / 2 - width() / 2, available.height() / 2 - height() / 2);
    }
}

MainWindow::~MainWindow()
{
    if (AppGlobals::mainWindow() == this)
        AppGlobals::setMainWindow(nullptr);
}

void MainWindow::updateHeader()
{
    QString channel;
    switch (m_Config->m_Channel) {
    case 0:
        channel = tr("Stable");
        break;
    case 1:
        channel = tr("Beta");
        break;
    case 2:
        channel = tr("Alpha");
        break;
    default:
        break;
    }

    // The version string comes from the command line or the version server:
    // it is text, never markup.
    QString header;
    if (!m_Config->m_VersionString.isEmpty()) {
        header += QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">") +
                  tr("Update to Quorvex %1").arg(m_Config->m_VersionString.toHtmlEscaped()) +
                  QStringLiteral("</div>");
    }
    header += QStringLiteral("<div style=\"margin-top:4px\">") +
              tr("You are currently on <strong>%1 channel</strong>.").arg(channel) +
              QStringLiteral("</div>");
    header += QStringLiteral("<div style=\"margin-top:4px;font-style:italic\">") +
              (m_Config->m_UpdateMode == 1 ? tr("Step two: Updating Quorvex client")
                                           : tr("Step one: Updating updater")) +
              QStringLiteral("</div>");
    versionLabel->setText(header);
}

void MainWindow::onStartUpdate()
{
    qDebug() << "onStartUpdate" << m_UpdateFinished << m_UpdateStarted;
    if (m_UpdateFinished || m_UpdateStarted)
        return;
    if (m_Engine->isSessionActive()) {
        qDebug() << "Session already active";
        return;
    }
    if (!m_Config->m_Ready) {
        qDebug() << "Aborting start update, configuration not yet ready";
        return;
    }
    if (!m_Engine->initialize())
        return;
    qDebug() << "Update engine initialized";
    m_UpdateStarted = true;
    m_Engine->startUpdate();
}

void MainWindow::onAppendText(const QString &text)
{
    // The details also go to the log file: a session that ended while nobody
    // watched can be followed there.
    qDebug() << "Details:" << text;
    outputTextEdit->append(text);
}

void MainWindow::onProgressUpdate(double doneFrac)
{
    const double permille = doneFrac * 1000.0;
    // The bar ignores values outside its range itself; only values that do
    // not even fit an int (or are not numbers) must not reach it.
    if (!std::isfinite(permille) || permille < double(std::numeric_limits<int>::min()) ||
        permille > double(std::numeric_limits<int>::max()))
        return;
    totalProgressBar->setValue(int(permille));
}

void MainWindow::onError(const QString &errorMessage)
{
    outputTextEdit->append(errorMessage);
    QMessageBox::critical(this, tr("Error"), errorMessage, QMessageBox::Ok);
}

void MainWindow::onFatalError(const QString &errorMessage)
{
    QMessageBox::critical(this, tr("Error"), errorMessage, QMessageBox::Ok);
    QCoreApplication::exit(2);
}

void MainWindow::onFatalConfigError(const QString &errorMessage)
{
    QMessageBox::critical(this, tr("Error"), errorMessage, QMessageBox::Ok);
    QCoreApplication::exit(1);
}

void MainWindow::onOtherInstanceActivate(const QString &message)
{
    qDebug() << "otherInstanceActivate" << message;
    if (message != QLatin1String("#"))
        return;
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void MainWindow::onDetailsPressed()
{
    if (outputTextEdit->isVisible())
        outputTextEdit->verticalScrollBar()->setValue(
            outputTextEdit->verticalScrollBar()->maximum());
}

void MainWindow::onUpdateFinished()
{
    qDebug() << "onUpdateFinished";
    m_UpdateFinished = true;
    if (m_NoAutoStart)
        return;
    QTimer::singleShot(startNextProgramDelayMs, this,
                       m_Config->m_UpdateMode != 0 ? SLOT(onStartQVXClient())
                                                   : SLOT(onStartNewUpdater()));
}

void MainWindow::onStartNewUpdater()
{
    qDebug() << "onStartNewUpdater";
    const QStringList args{QStringLiteral("--clientupdate"), defaultClientType(1),
                           QString::number(m_Config->m_ClientVersion),
                           m_Config->m_VersionString.isEmpty() ? QStringLiteral("#")
                                                               : m_Config->m_VersionString};
    ProcessTools::startClientUpdater(m_Config->m_TempDir, args);
    close();
}

void MainWindow::onStartQVXClient()
{
    if (m_Config->m_UpdateMode != 1)
        return;
    ProcessTools::startQvxClient(m_Config->m_InstallDir);
    close();
}

void MainWindow::onUpdateCanceled()
{
    if (m_AbortRequested) {
        QCoreApplication::quit();
        return;
    }
    m_UpdateFinished = false;
    if (m_Engine->state() == UpdateEngine::CANCELED)
        m_Engine->resetAfterCancel();
    qDebug() << "Details: Update cancelled";
    outputTextEdit->append(tr("Update cancelled"));
    totalProgressBar->setValue(0);

    // A second cancellation while the box is still open adds its lines to
    // the log but no second box.
    static bool boxOpen = false;
    if (boxOpen)
        return;
    boxOpen = true;
    QMessageBox::critical(this, tr("Update"),
                          tr("Update cancelled. Push \"Details\" to check reasons."),
                          QMessageBox::Ok);
    boxOpen = false;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_Engine->isSessionActive()) {
        event->ignore();
        if (m_AbortRequested)
            return;
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Question"),
            tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        // The session may have ended while the question was open; then there
        // is nothing left to abort and the window stays until closed again.
        if (answer == QMessageBox::Yes && m_Engine->isSessionActive()) {
            m_AbortRequested = true;
            m_Engine->cancelUpdate();
        }
        return;
    }
    if (m_Config->m_UpdateMode == 1) {
        qDebug() << "*** Deleting temp banner";
        QFile::remove(bannerImagePath());
        QFile::remove(bannerUrlPath());
    }
    event->accept();
}

void MainWindow::onRebootWithConfirmation()
{
    qDebug() << "onRebootWithConfirmation";
    m_NoAutoStart = true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Confirm reboot"),
        tr("<p>A computer restart is required to proceed with the client update. If you do "
           "not reboot now, the Quorvex update will be cancelled.</p><p>Do you want to reboot "
           "now?</p>"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        write_force_update_file(QStringLiteral("qvx_force_update"));
        QApplication::beep();
    } else {
        write_force_update_file(QStringLiteral("qvx_force_update_check"));
    }
    QCoreApplication::quit();
}

void MainWindow::write_force_update_file(const QString &name)
{
    QFile file(tempFilePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        outputTextEdit->append(tr("Failed to store force update notice"));
        qDebug() << "Failed to store force update notice";
    }
}

void MainWindow::delete_force_update_files()
{
    qDebug() << "delete_force_update_files" << m_Config->m_UpdateMode;
    if (m_Config->m_UpdateMode != 0)
        return;
    for (const QString &name : AppGlobals::forceUpdateMarkerNames())
        QFile::remove(tempFilePath(name));
}

void MainWindow::onBannerFound(const QByteArray &bannerImage, const QString &clickUrl)
{
    qDebug() << "Banner data available";
    QBuffer buffer;
    buffer.setData(bannerImage);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    QImage image;
    if (size.isValid() && qint64(size.width()) * size.height() <= maxBannerPixels)
        image = reader.read();
    QPixmap pixmap;
    if (image.isNull() || !pixmap.convertFromImage(image)) {
        qDebug() << "Could not load pixmap for banner. Error in data";
        return;
    }
    banner->setUrl(clickUrl);
    banner->setPixmap(pixmap);
    qDebug() << "Banner pixmap loaded";
    const QUrl url(clickUrl);
    banner->setToolTip(tr("Click to open \"%1://%2\"").arg(url.scheme(), url.host()));

    // Written aside and renamed, so the next start never reads half a file.
    QSaveFile imageFile(bannerImagePath());
    if (!imageFile.open(QIODevice::WriteOnly) || !pixmap.save(&imageFile, "JPG") ||
        !imageFile.commit())
        qDebug() << "Could not save banner to" << bannerImagePath();
    QSaveFile urlFile(bannerUrlPath());
    if (urlFile.open(QIODevice::WriteOnly)) {
        urlFile.write(clickUrl.toUtf8().toPercentEncoding());
        urlFile.commit();
    }
}
