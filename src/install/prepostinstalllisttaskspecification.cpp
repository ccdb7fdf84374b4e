#include "prepostinstalllisttaskspecification.h"

#include "install/prepostinstalltaskspecification.h"

PrePostInstallListTaskSpecification::PrePostInstallListTaskSpecification(
    QList<InstallCommandEntry> *commands, Configuration *config, QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_Commands(commands)
    , m_Config(config)
{
}

PrePostInstallListTaskSpecification::~PrePostInstallListTaskSpecification() = default;

void PrePostInstallListTaskSpecification::execute()
{
    if (!m_Commands->isEmpty())
        emit message(QStringLiteral("Starting install condition"));
    for (InstallCommandEntry &entry : *m_Commands)
        addSubTask(new PrePostInstallTaskSpecification(&entry, m_Config, this, 0.1));
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void PrePostInstallListTaskSpecification::reset()
{
    deleteSubTasks();
    TaskSpecification::reset();
}
