#pragma once

#include "ui_mainwindow.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

class Configuration;
class QCloseEvent;
class SingleInstanceChecker;
class UpdateEngine;

// The updater's only window and the owner of the update engine.
//
// It shows the target version, channel and step, the logo, the banner, the
// progress of the session and its details log; starts the session once the
// configuration is ready; asks before an abort and before a computer restart;
// writes the marker files that tell the client what happened; keeps the
// downloaded banner for the next start; and after a successful session starts
// the next program (the new updater after step one, the client after step two)
// and closes.
//
// While it exists it is the application's main window (AppGlobals), through
// which install commands reach onRebootWithConfirmation().
class MainWindow : public QWidget, public Ui::MainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    // config is not owned and must outlive the window.
    explicit MainWindow(Configuration *config);
    ~MainWindow() override;

    // The header: target version, channel and update step.
    void updateHeader();
    // Removes the marker files at a fresh start (step one); step two keeps
    // the ones its step one may have left.
    void delete_force_update_files();
    // Creates the empty marker file name in the system temporary directory.
    void write_force_update_file(const QString &name);

    UpdateEngine *engine() const { return m_Engine; }

public slots:
    // Asks whether to restart the computer now, leaves the answer in a marker
    // file for the client and quits without starting any program.
    void onRebootWithConfirmation();

private slots:
    void onFatalConfigError(const QString &errorMessage);
    void onFatalError(const QString &errorMessage);
    void onError(const QString &errorMessage);
    void onStartUpdate();
    void onStartNewUpdater();
    void onStartQVXClient();
    void onAppendText(const QString &text);
    void onProgressUpdate(double doneFrac);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onOtherInstanceActivate(const QString &message);
    void onBannerFound(const QByteArray &bannerImage, const QString &clickUrl);
    void onDetailsPressed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Configuration *m_Config;
    UpdateEngine *m_Engine;
    bool m_UpdateFinished = false;
    bool m_AbortRequested = false;
    bool m_UpdateStarted = false;
    bool m_NoAutoStart = false;
    SingleInstanceChecker *m_InstanceChecker = nullptr;
};
