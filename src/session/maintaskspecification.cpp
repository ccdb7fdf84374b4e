#include "maintaskspecification.h"

#include "manifest/downloadfilelisttaskspecification.h"
#include "manifest/inidownloadtaskspecification.h"
#include "manifest/makedownloadreplacelisttaskspecification.h"
#include "shell/configuration.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager *manager, Configuration *config,
                                             QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_NetworkManager(manager)
    , m_Config(config)
{
}

MainTaskSpecification::~MainTaskSpecification() = default;

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process for ") + (m_Config->m_UpdateMode == 0
                                                                       ? QStringLiteral("updater")
                                                                       : QStringLiteral("client")));
    makeSubtasksAndStart();
}

void MainTaskSpecification::reset()
{
    deleteSubTasks();
    m_Plan.clear();
    TaskSpecification::reset();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    addSubTask(new IniDownloadTaskSpecification(m_NetworkManager, m_Config, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(m_Config, &m_Plan, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(&m_Plan.downloads, m_NetworkManager, m_Config,
                                                     this, 0.4));
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}
