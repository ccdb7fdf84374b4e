#include "filedeletelisttaskspecification.h"

#include "install/filedeletetaskspecification.h"
#include "shell/configuration.h"

#include <QDir>

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(QList<DeleteEntry> *deleteList,
                                                                 Configuration *config,
                                                                 QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_DeleteList(deleteList)
    , m_Config(config)
{
}

FileDeleteListTaskSpecification::~FileDeleteListTaskSpecification() = default;

void FileDeleteListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::reset()
{
    deleteSubTasks();
    TaskSpecification::reset();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const int n = m_DeleteList->size();
    for (const DeleteEntry &entry : qAsConst(*m_DeleteList)) {
        const QString path = QDir::isAbsolutePath(entry.path)
                                 ? entry.path
                                 : m_Config->m_InstallDir + QLatin1Char('/') + entry.path;
        addSubTask(new FileDeleteTaskSpecification(false, path, entry.recursive, this, 1.0 / n));
    }
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}
