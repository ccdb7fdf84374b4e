#include "logfile.h"

#include "appglobals.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdlib>

namespace {

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug";
    case QtWarningMsg:
        return "Warning";
    case QtCriticalMsg:
        return "Critical";
    case QtFatalMsg:
        return "Fatal";
    case QtInfoMsg:
        return "Info";
    }
    return nullptr;
}

QString logDirectory(const QString &tempPath)
{
    return QDir::toNativeSeparators(tempPath + QDir::separator() +
                                    QStringLiteral("quorvex_update_log") + QDir::separator());
}

} // namespace

LogFile::LogFile(const QString &tempPath)
    : m_TempPath(tempPath)
    , m_Enabled(QFileInfo::exists(tempPath + QStringLiteral("/qvx_update_log")))
{
}

LogFile::~LogFile()
{
    flush();
    delete m_File;
}

LogFile *LogFile::instance()
{
    // Never destroyed: messages may still arrive from static destructors.
    static LogFile *log = new LogFile(QDir::tempPath());
    return log;
}

QString LogFile::fileNameFor(const QDateTime &startTime)
{
    QString stamp = startTime.toString(Qt::ISODate);
    stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
    stamp.replace(QLatin1Char('T'), QStringLiteral("__"));
    return QStringLiteral("update__") + stamp + QStringLiteral(".log");
}

QByteArray LogFile::formatLine(QtMsgType type, const QDateTime &time, const QString &text)
{
    const char *level = levelName(type);
    if (!level)
        return {};
    return time.toString(QLatin1String(AppGlobals::logTimeFormat)).toLocal8Bit() + "\t|\t" + level +
           "\t|\t" + text.toLocal8Bit() + '\n';
}

bool LogFile::open(const QDateTime &startTime)
{
    QMutexLocker locker(&m_Mutex);
    openLocked(startTime);
    return m_File != nullptr;
}

void LogFile::openLocked(const QDateTime &startTime)
{
    if (!m_Enabled || m_File)
        return;
    const QString dir = logDirectory(m_TempPath);
    if (!QFileInfo::exists(dir))
        QDir().mkdir(dir);
    auto *file = new QFile(dir + fileNameFor(startTime));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        delete file;
        return;
    }
    m_File = file;
}

void LogFile::write(QtMsgType type, const QString &text)
{
    if (!m_Enabled)
        return;
    const QByteArray line = formatLine(type, QDateTime::currentDateTime(), text);
    QMutexLocker locker(&m_Mutex);
    openLocked(QDateTime::currentDateTime());
    if (!m_File)
        return;
    if (!line.isEmpty())
        m_File->write(line);
    m_File->flush();
}

void LogFile::flush()
{
    QMutexLocker locker(&m_Mutex);
    if (m_File)
        m_File->flush();
}

QString LogFile::filePath() const
{
    return m_File ? m_File->fileName() : QString();
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    LogFile *log = LogFile::instance();
    if (!log->isEnabled())
        return;
    log->write(type, text);
    if (type == QtFatalMsg)
        std::abort();
}
