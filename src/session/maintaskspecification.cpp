#include "maintaskspecification.h"

#include "install/filedeletelisttaskspecification.h"
#include "install/filereplacelisttaskspecification.h"
#include "install/prepostinstalllisttaskspecification.h"
#include "install/updateselfunziptaskspecification.h"
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
    addSubTask(new PrePostInstallListTaskSpecification(&m_Plan.preInstalls, m_Config, this, 0.1));
    if (m_Config->m_UpdateMode == 1) {
        addSubTask(new FileReplaceListTaskSpecification(&m_Plan.replaces, &m_Plan.deletes, m_Config,
                                                        this, 0.4));
        addSubTask(new FileDeleteListTaskSpecification(&m_Plan.deletes, m_Config, this, 0.05));
    } else {
        addSubTask(new UpdateSelfUnzipTaskSpecification(&m_Plan.replaces, m_Config, this, 0.4));
    }
    addSubTask(new PrePostInstallListTaskSpecification(&m_Plan.postInstalls, m_Config, this, 0.1));
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}
