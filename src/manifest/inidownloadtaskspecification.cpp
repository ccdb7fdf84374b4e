#include "inidownloadtaskspecification.h"

#include "install/fileunpacktaskspecification_lzma2.h"
#include "manifest/checksignaturetaskspecification.h"
#include "manifest/downloadtaskspecification.h"
#include "manifest/productini.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager *manager,
                                                           Configuration *config, QObject *parent,
                                                           qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_Manager(manager)
    , m_Config(config)
{
}

IniDownloadTaskSpecification::~IniDownloadTaskSpecification() = default;

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    deleteSubTasks();
    TaskSpecification::reset();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString iniName = productIniName(m_Config->m_UpdateMode);
    const QString packedName = iniName + QLatin1String(ProductIni::lzma2PackageSuffix);
    const QString sigName = iniName + QStringLiteral(".sig");
    const QString tempDir = m_Config->m_TempDir + QLatin1Char('/');
    qDebug() << "makeSubtasksAndStart" << iniName << packedName;

    // Unnormalised weights: the children add up to 2.0 when all four run.
    qreal checkWeight = 1.0;
    if (!QFileInfo::exists(tempDir + iniName)) {
        qDebug() << "Requesting" << packedName;
        addSubTask(new DownloadTaskSpecification(m_Manager, packedName, m_Config->m_ClientVersion,
                                                 tempDir + packedName, -1, this, 0.3333));
        addSubTask(new FileUnpackTaskSpecification_lzma2(nullptr, tempDir + packedName,
                                                         tempDir + iniName, this, 1.0));
        checkWeight = 0.6667;
    }
    if (!QFileInfo::exists(tempDir + sigName)) {
        qDebug() << "Requesting" << sigName;
        addSubTask(new DownloadTaskSpecification(m_Manager, sigName, m_Config->m_ClientVersion,
                                                 tempDir + sigName, -1, this, 0.3333));
        checkWeight -= 0.3333;
    }
    auto *check =
        new CheckSignatureTaskSpecification(tempDir + iniName, QString(), true, this, checkWeight);
    connect(check, SIGNAL(checkDone(bool, CheckSignatureTaskSpecification *)), this,
            SLOT(onSigCheckDone(bool, CheckSignatureTaskSpecification *)));
    addSubTask(check);

    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task)
{
    Q_UNUSED(task)
    if (pass)
        return;
    qDebug() << "Failed to verify product ini, aborting";
    emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
    // Kept, a stale or altered copy would fail every later continuation of
    // this session; without it the next start fetches both files again.
    const QString iniPath =
        m_Config->m_TempDir + QLatin1Char('/') + productIniName(m_Config->m_UpdateMode);
    for (const QString &path : {iniPath, iniPath + QLatin1String(ProductIni::lzma2PackageSuffix),
                                iniPath + QStringLiteral(".sig")})
        QFile::remove(path);
    // The check task was made to fail on a mismatch, and its failure ends
    // this group as failed; ending it here as well would report the end twice.
}
