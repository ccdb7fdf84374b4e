#include "updateselfunziptaskspecification.h"

#include "install/filetaskspecification_patch.h"
#include "install/fileunpacktaskspecification_lzma2.h"
#include "install/fileunpacktaskspecification_zip.h"
#include "manifest/checksignaturetaskspecification.h"
#include "shell/configuration.h"
#include "shell/updateinidata.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

UpdateSelfUnzipTaskSpecification::UpdateSelfUnzipTaskSpecification(QList<ReplaceEntry> *replaceList,
                                                                   Configuration *config,
                                                                   QObject *parent, qreal weight)
    : ComposedTaskSpecification(2, parent, weight)
    , m_ReplaceList(replaceList)
    , m_Config(config)
{
}

UpdateSelfUnzipTaskSpecification::~UpdateSelfUnzipTaskSpecification() = default;

void UpdateSelfUnzipTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void UpdateSelfUnzipTaskSpecification::reset()
{
    deleteSubTasks();
    m_Extracted.clear();
    m_Checking = false;
    TaskSpecification::reset();
}

void UpdateSelfUnzipTaskSpecification::makeSubtasksAndStart()
{
    const QString tempDir = m_Config->m_TempDir;
    const QString installDir = m_Config->m_InstallDir;
    m_Extracted.clear();
    m_Checking = false;

    QList<const ReplaceEntry *> entries;
    for (const ReplaceEntry &entry : qAsConst(*m_ReplaceList)) {
        // A plain file line's download already lies at its place in T.
        if (!entry.targetName.isEmpty())
            entries.append(&entry);
    }
    // Extraction takes 0.8 of the task, the digest checks the rest.
    const qreal weight = entries.isEmpty() ? 0.0 : 0.8 / entries.size();
    for (const ReplaceEntry *entry : qAsConst(entries)) {
        qDebug() << "Extracting updater file" << entry->fileName << entry->dstName()
                 << entry->hasPatch();
        const QString target = tempDir + QLatin1Char('/') + entry->dstName();
        const QString targetDir = QFileInfo(target).path();
        if (!QFileInfo::exists(targetDir))
            QDir().mkpath(targetDir);
        if (entry->hasPatch()) {
            const QString oldCopy = target + QStringLiteral("_old");
            QFile::remove(oldCopy);
            QFile::copy(installDir + QLatin1Char('/') + entry->dstName(), oldCopy);
            emit message(QStringLiteral("Patching %1").arg(entry->dstName()));
            addSubTask(new FileTaskSpecification_patch(
                nullptr, oldCopy, tempDir + QLatin1Char('/') + entry->patchFile, target, this,
                weight));
        } else if (QFileInfo(entry->fileName).suffix() == QLatin1String("_lzma2_")) {
            addSubTask(new FileUnpackTaskSpecification_lzma2(
                nullptr, tempDir + QLatin1Char('/') + entry->fileName, target, this, weight));
        } else {
            addSubTask(new FileUnpackTaskSpecification_zip(
                nullptr, tempDir + QLatin1Char('/') + entry->fileName, target, this, weight));
        }
        m_Extracted.append(qMakePair(target, entry->sha512));
    }
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

bool UpdateSelfUnzipTaskSpecification::startChecks()
{
    if (m_Extracted.isEmpty())
        return false;
    m_Checking = true;
    const qreal weight = 0.2 / m_Extracted.size();
    for (const auto &file : qAsConst(m_Extracted))
        addSubTask(
            new CheckSignatureTaskSpecification(file.first, file.second, true, this, weight));
    startSubTasks();
    return true;
}

void UpdateSelfUnzipTaskSpecification::subtasksDone()
{
    // The new updater is started from T only after this session succeeded,
    // so every extracted file is checked like an installed client file.
    if (!m_Checking && subTasksResult() == TASK_FINISHED && startChecks())
        return;
    prepareHandOver();
}

void UpdateSelfUnzipTaskSpecification::prepareHandOver()
{
    const QString tempDir = m_Config->m_TempDir;
    const QString updater = tempDir + QStringLiteral("/update");
    const bool exists = QFileInfo::exists(updater);
    qDebug() << "chmod +x" << updater << exists;
    if (exists) {
        QFile::setPermissions(
            updater, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                         QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                         QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                         QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    }
    if (!UpdateIniData::modifyTempIni(tempDir)) {
        qDebug() << "Failed to write temp update.ini";
        emit error(QStringLiteral("Failed to write temp update.ini. The updater does not seem to "
                                  "have the required write permissions."));
        // Without its update.ini the new updater cannot continue the session;
        // ending here lets the session report the failure instead of hanging.
        setFailed();
        return;
    }
    copyTranslations();
    ComposedTaskSpecification::subtasksDone();
}

void UpdateSelfUnzipTaskSpecification::copyTranslations()
{
    const QString sourceDir =
        QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
    const QString targetDir = m_Config->m_TempDir + QStringLiteral("/translations");
    const QStringList names =
        QDir(sourceDir).entryList({QStringLiteral("update_*.qm")}, QDir::Files, QDir::Unsorted);
    if (!QFileInfo::exists(targetDir))
        QDir().mkdir(targetDir);
    for (const QString &name : names) {
        const QString source = sourceDir + QLatin1Char('/') + name;
        const QString target = targetDir + QLatin1Char('/') + name;
        qDebug() << "Copying qm file" << source << target;
        if (!QFileInfo::exists(target))
            QFile::copy(source, target);
    }
}
