#include "filereplacetaskspecification.h"

#include "install/filecopytaskspecification.h"
#include "install/filerenametaskspecification.h"
#include "install/filetaskspecification_patch.h"
#include "install/fileunpacktaskspecification_lzma2.h"
#include "install/fileunpacktaskspecification_zip.h"
#include "install/slowfileopspecification.h"
#include "manifest/checksignaturetaskspecification.h"
#include "shell/appglobals.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

FileReplaceTaskSpecification::FileReplaceTaskSpecification(const ReplaceEntry &entry,
                                                           QList<DeleteEntry> *deleteList,
                                                           RollbackDataList *parentRollbackList,
                                                           Configuration *config, QObject *parent,
                                                           qreal weight)
    : ComposedTaskSpecification(1, parent, weight)
    , m_Entry(entry)
    , m_DeleteList(deleteList)
    , m_ParentRollbackList(parentRollbackList)
    , m_Config(config)
{
}

FileReplaceTaskSpecification::~FileReplaceTaskSpecification() = default;

void FileReplaceTaskSpecification::execute()
{
    emit message(QStringLiteral("add/replace %1").arg(m_Entry.fileName));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::reset()
{
    deleteSubTasks();
    m_RollbackList.rollback(this);
    m_ReplacesFile = false;
    TaskSpecification::reset();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    const QString tempDir = m_Config->m_TempDir;
    const QString installDir = m_Config->m_InstallDir;
    const QString srcFile = tempDir + QLatin1Char('/') + m_Entry.fileName;
    const QString dstFile = installDir + QLatin1Char('/') + m_Entry.dstName();
    qDebug() << "FileReplaceTaskSpecification: spec:" << m_Entry.fileName << " src:" << srcFile
             << " dstFile:" << dstFile << " hasPatch:" << (m_Entry.hasPatch() ? "true" : "false")
             << " patchFile:" << m_Entry.patchFile;

    const QString oldCopy = tempDir + QLatin1Char('/') + m_Entry.dstName() + QStringLiteral("_old");
    if (m_Entry.hasPatch()) {
        // The patch reads the old version from a copy in T, taken before the
        // installed file is moved aside.
        qDebug() << "HAS PATCH" << m_Entry.patchFile;
        const bool removed = QFile::remove(oldCopy);
        qDebug() << "Remove" << oldCopy << removed;
        const QFileInfo oldCopyInfo(oldCopy);
        const QString oldCopyDir = oldCopyInfo.absolutePath();
        qDebug() << "tempOldAbsPath" << oldCopyDir << QFileInfo::exists(oldCopyDir);
        if (!QFileInfo::exists(oldCopyDir))
            qDebug() << "Created" << oldCopyDir << QDir().mkpath(oldCopyDir);
        const bool copied = QFile::copy(dstFile, oldCopy);
        qDebug() << "Copy" << dstFile << "->" << oldCopy << copied;
    }

    const QString backup =
        installDir + QLatin1Char('/') + m_Entry.dstName(ReplaceEntry::backupPrefix());
    const QFileInfo installed(dstFile);
    m_ReplacesFile = installed.exists() || installed.isSymLink();
    if (m_ReplacesFile) {
        m_OldPermissions = installed.permissions();
        // A backup left by an update that was killed half way is ours; it must
        // not block this one. The installed file is whole (it only ever
        // appears by a rename), so it is the version to keep.
        if (QFileInfo(backup).isFile() && QFile::remove(backup))
            qDebug() << "Removed stale backup" << backup;
        addSubTask(new FileRenameTaskSpecification(dstFile, backup, &m_RollbackList, this, 0.0));
    } else if (QFileInfo(backup).isFile()) {
        // An update was killed after it moved the installed file aside and
        // before it put the new one in place: the backup is the installed
        // version, and undo must bring it back.
        qDebug() << "Keeping backup of an interrupted update" << backup;
        m_ReplacesFile = true;
        m_OldPermissions = QFileInfo(backup).permissions();
        m_RollbackList.append(RollbackData(RollbackData::FILE_RENAME, dstFile, backup));
    }

    // A staging file is never installed: one left by a killed update is
    // half written or unchecked.
    const QString staging = stagingFile();
    if (QFileInfo(staging).isFile() && QFile::remove(staging))
        qDebug() << "Removed stale staging file" << staging;

    SlowFileOpSpecification *op = nullptr;
    if (m_Entry.targetName.isEmpty()) {
        op = new FileCopyTaskSpecification(&m_RollbackList, srcFile, dstFile, this, 1.0);
    } else if (m_Entry.hasPatch()) {
        emit message(QStringLiteral("Patching %1").arg(m_Entry.dstName()));
        op = new FileTaskSpecification_patch(&m_RollbackList, oldCopy,
                                             tempDir + QLatin1Char('/') + m_Entry.patchFile,
                                             dstFile, this, 0.8);
    } else if (QFileInfo(srcFile).suffix() == QLatin1String("_lzma2_")) {
        op = new FileUnpackTaskSpecification_lzma2(&m_RollbackList, srcFile, dstFile, this, 0.8);
    } else {
        op = new FileUnpackTaskSpecification_zip(&m_RollbackList, srcFile, dstFile, this, 0.8);
    }
    op->setOutputFile(staging);
    addSubTask(op);
    if (!m_Entry.targetName.isEmpty()) {
        auto *check = new CheckSignatureTaskSpecification(staging, m_Entry.sha512, true, this, 0.2);
        check->setReportedPath(dstFile);
        addSubTask(check);
    }
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

QString FileReplaceTaskSpecification::stagingFile() const
{
    return m_Config->m_InstallDir + QLatin1Char('/') +
           m_Entry.dstName(ReplaceEntry::stagingPrefix());
}

void FileReplaceTaskSpecification::subtasksDone()
{
    if (subTasksResult() == TASK_FINISHED && publish()) {
        // The records now belong to the replace list; this task must never
        // undo them again (a reset after success would delete the new file).
        if (m_ParentRollbackList)
            m_ParentRollbackList->append(m_RollbackList);
        m_RollbackList.clear();
        ComposedTaskSpecification::subtasksDone();
        return;
    }
    m_RollbackList.rollback(this);
    // A failed operation writes no record but may leave what it wrote.
    const QString staging = stagingFile();
    if (QFileInfo(staging).isFile())
        qDebug() << "Removing failed output" << staging << QFile::remove(staging);
    if (subTasksResult() == TASK_FINISHED)
        setFailed();
    else
        ComposedTaskSpecification::subtasksDone();
}

bool FileReplaceTaskSpecification::publish()
{
    const QString dstFile = m_Config->m_InstallDir + QLatin1Char('/') + m_Entry.dstName();
    const QString staging = stagingFile();
    // The mode is set before the rename, so the installed name never shows
    // the new content with the wrong mode.
    if (m_ReplacesFile && !QFile::setPermissions(staging, m_OldPermissions))
        qDebug() << "Could not keep the permissions of" << dstFile;
    makeSingleFileExecutable(staging, dstFile);
    // QFile::rename refuses an existing target: the installed version was
    // moved aside, so anything there now is not ours to overwrite.
    if (!QFile::rename(staging, dstFile)) {
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(staging, dstFile));
        return false;
    }
    for (RollbackData &record : m_RollbackList) {
        if (record.m_Op == RollbackData::FILE_CREATE && record.m_Path == staging)
            record.m_Path = dstFile;
    }
    return true;
}

bool FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path)
{
    return makeSingleFileExecutable(path, path);
}

bool FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path,
                                                            const QString &installedName)
{
    const QFileInfo info(installedName);
    const QString name = info.fileName();
    const QString suffix = info.completeSuffix();
    qDebug() << "Executable check" << path << name << suffix;
    if (!AppGlobals::executableFileNames().contains(name) &&
        !AppGlobals::sharedLibrarySuffixes().contains(suffix))
        return false;
    const bool ok = QFile::setPermissions(
        path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                  QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                  QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                  QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    qDebug() << "Set executable flag on" << path;
    return ok;
}
