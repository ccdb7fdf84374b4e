#include "filereplacelisttaskspecification.h"

#include "install/dircreatetaskspecification.h"
#include "install/filereplacetaskspecification.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSet>

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(QList<ReplaceEntry> *replaceList,
                                                                   QList<DeleteEntry> *deleteList,
                                                                   Configuration *config,
                                                                   QObject *parent, qreal weight)
    : ComposedTaskSpecification(2, parent, weight)
    , m_ReplaceList(replaceList)
    , m_DeleteList(deleteList)
    , m_Config(config)
{
}

FileReplaceListTaskSpecification::~FileReplaceListTaskSpecification() = default;

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));

    const QString installDir = m_Config->m_InstallDir;
    QSet<QString> seen;
    QStringList missing;
    for (const ReplaceEntry &entry : qAsConst(*m_ReplaceList)) {
        const QString dir = QFileInfo(installDir + QLatin1Char('/') + entry.dstName()).path();
        if (seen.contains(dir))
            continue;
        seen.insert(dir);
        if (!QFileInfo::exists(dir))
            missing.append(dir);
    }
    // A parent sorts before its subdirectories, so each level exists before
    // the next is made.
    std::sort(missing.begin(), missing.end());
    const int d = missing.size();
    for (const QString &dir : qAsConst(missing))
        addSubTask(new DirCreateTaskSpecification(dir, &m_RollbackList, this, 0.1 / d));

    const int n = m_ReplaceList->size();
    const qreal weight = (d > 0 ? 0.9 : 1.0) / n;
    for (const ReplaceEntry &entry : qAsConst(*m_ReplaceList))
        addSubTask(new FileReplaceTaskSpecification(entry, m_DeleteList, &m_RollbackList, m_Config,
                                                    this, weight));
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void FileReplaceListTaskSpecification::reset()
{
    deleteSubTasks();
    m_RollbackList.rollback(this);
    TaskSpecification::reset();
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (subTasksResult() != TASK_FINISHED) {
        emit message(QStringLiteral("rolling back file updates"));
        m_RollbackList.rollback(this);
    } else {
        deleteBackups();
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::deleteBackups()
{
    // The update is in place: the earlier versions are no longer needed, and
    // the journal must not take the new files away again on a later reset.
    for (const RollbackData &record : qAsConst(m_RollbackList)) {
        if (record.m_Op == RollbackData::FILE_RENAME && !QFile::remove(record.m_Path))
            qDebug() << "Could not delete backup" << record.m_Path;
    }
    m_RollbackList.clear();
}
