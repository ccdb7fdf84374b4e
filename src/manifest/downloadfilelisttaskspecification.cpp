#include "downloadfilelisttaskspecification.h"

#include "manifest/downloadfiletaskspecification.h"
#include "shell/configuration.h"

#include <QDir>
#include <QSet>

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
    const QList<DownloadEntry> *downloads, QNetworkAccessManager *manager, Configuration *config,
    QObject *parent, qreal weight)
    : ComposedTaskSpecification(config->m_Streams, parent, weight)
    , m_Downloads(downloads)
    , m_Manager(manager)
    , m_Config(config)
{
}

DownloadFileListTaskSpecification::~DownloadFileListTaskSpecification() = default;

void DownloadFileListTaskSpecification::execute()
{
    if (m_Downloads->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        setFinished();
        return;
    }

    const QDir tempDir(m_Config->m_TempDir);
    QSet<QString> created{QStringLiteral(".")};
    for (const DownloadEntry &entry : *m_Downloads) {
        const int slash = entry.fileName.lastIndexOf(QLatin1Char('/'));
        const QString dir = slash < 0 ? QStringLiteral(".") : entry.fileName.left(slash);
        if (created.contains(dir))
            continue;
        if (!tempDir.mkpath(dir)) {
            emit message(QStringLiteral("Could not create dir %1")
                             .arg(tempDir.canonicalPath() + QLatin1Char('/') + dir));
            setFailed();
            return;
        }
        created.insert(dir);
    }

    emit message(QStringLiteral("Downloading files"));
    const qreal weight = 1.0 / m_Downloads->size();
    for (const DownloadEntry &entry : *m_Downloads) {
        addSubTask(new DownloadFileTaskSpecification(entry, m_Manager, m_Config, this, weight));
        m_TotalBytes += qint64(entry.size);
    }
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void DownloadFileListTaskSpecification::reset()
{
    deleteSubTasks();
    m_TotalBytes = 0;
    TaskSpecification::reset();
}

void DownloadFileListTaskSpecification::getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal,
                                                          quint64 &bytesSinceLastPoll,
                                                          bool &downloading)
{
    ComposedTaskSpecification::getDownloadStatus(bytesDone, bytesTotal, bytesSinceLastPoll,
                                                 downloading);
    bytesTotal = quint64(m_TotalBytes);
}
