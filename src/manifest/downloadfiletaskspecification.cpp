#include "downloadfiletaskspecification.h"

#include "manifest/checksignaturetaskspecification.h"
#include "manifest/downloadtaskspecification.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QFile>

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const DownloadEntry &entry,
                                                             QNetworkAccessManager *manager,
                                                             Configuration *config, QObject *parent,
                                                             qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_Entry(entry)
    , m_Manager(manager)
    , m_Config(config)
{
}

DownloadFileTaskSpecification::~DownloadFileTaskSpecification() = default;

QString DownloadFileTaskSpecification::localPath() const
{
    return m_Config->m_TempDir + QLatin1Char('/') + m_Entry.fileName;
}

void DownloadFileTaskSpecification::execute()
{
    m_Download = new DownloadTaskSpecification(
        m_Manager, m_Entry.section + QLatin1Char('/') + m_Entry.fileName, m_Config->m_ClientVersion,
        localPath(), qint64(m_Entry.size), this, 0.8);
    addSubTask(m_Download);
    // Failing on a mismatch lets the group's own rules end this task as
    // failed once the check has ended; onSigCheckDone removes the file first.
    auto *check = new CheckSignatureTaskSpecification(localPath(), m_Entry.sha512, true, this, 0.2);
    connect(check, SIGNAL(checkDone(bool, CheckSignatureTaskSpecification *)), this,
            SLOT(onSigCheckDone(bool, CheckSignatureTaskSpecification *)));
    addSubTask(check);
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void DownloadFileTaskSpecification::reset()
{
    deleteSubTasks();
    m_Download = nullptr;
    TaskSpecification::reset();
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task)
{
    Q_UNUSED(task)
    if (pass)
        return;
    qDebug() << "Removing file that failed its check" << localPath();
    QFile::remove(localPath());
}
