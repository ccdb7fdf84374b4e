#pragma once

#include <QMutex>
#include <QString>
#include <QtGlobal>

class QDateTime;
class QFile;

// The updater's log: every Qt debug, info, warning, critical and fatal message
// of the program becomes one time-stamped line in a file in the temporary
// directory. Logging is on only while the marker T/qvx_update_log exists when
// the log is created; otherwise everything is discarded, and nothing reaches
// the console either.
//
// Lines come from the main thread and from the thread pool alike; each one is
// written and flushed whole under one lock.
class LogFile
{
    Q_DISABLE_COPY(LogFile)

public:
    // tempPath is the directory holding the marker and the log directory.
    explicit LogFile(const QString &tempPath);
    ~LogFile();

    // The process-wide log, created on first use for QDir::tempPath().
    static LogFile *instance();

    bool isEnabled() const { return m_Enabled; }
    // Creates the log directory and the log file named after startTime.
    // Does nothing when logging is off or the file is already open.
    bool open(const QDateTime &startTime);
    // Appends one line; opens the file first when needed. A fatal message is
    // written and flushed before the process aborts, by the handler.
    void write(QtMsgType type, const QString &text);
    void flush();
    QString filePath() const;

    static QString fileNameFor(const QDateTime &startTime);
    static QByteArray formatLine(QtMsgType type, const QDateTime &time, const QString &text);

private:
    void openLocked(const QDateTime &startTime);

    const QString m_TempPath;
    const bool m_Enabled;
    QFile *m_File = nullptr;
    QMutex m_Mutex;
};

// The message handler installed with qInstallMessageHandler.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
