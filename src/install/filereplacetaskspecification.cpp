#include "filereplacetaskspecification.h"

#include "install/filecopytaskspecification.h"
#include "install/filerenametaskspecification.h"
#include "install/filetaskspecification_patch.h"
#include "install/fileunpacktaskspecification_lzma2.h"
#include "install/fileunpacktaskspecification_zip.h"
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

    const QFileInfo installed(dstFile);
    m_ReplacesFile = installed.exists() || installed.isSymLink();
    if (m_ReplacesFile) {
        m_OldPermissions = installed.permissions();
        const QString backup = installDir + QLatin1Char('/') + m_Entry.dstName(backupPrefix());
        // A backup left by an update that was killed half way is ours; it must
        // not block this one.
        if (QFileInfo(backup).isFile() && QFile::remove(backup))
            qDebug() << "Removed stale backup" << backup;
        addSubTask(new FileRenameTaskSpecification(dstFile, backup, &m_RollbackList, this, 0.0));
    }

    if (m_Entry.targetName.isEmpty()) {
        addSubTask(new FileCopyTaskSpecification(&m_RollbackList, srcFile, dstFile, this, 1.0));
    } else {
        if (m_Entry.hasPatch()) {
            emit message(QStringLiteral("Patching %1").arg(m_Entry.dstName()));
            addSubTask(new FileTaskSpecification_patch(
                &m_RollbackList, oldCopy, tempDir + QLatin1Char('/') + m_Entry.patchFile, dstFile,
                this, 0.8));
        } else if (QFileInfo(srcFile).suffix() == QLatin1String("_lzma2_")) {
            addSubTask(new FileUnpackTaskSpecification_lzma2(&m_RollbackList, srcFile, dstFile,
                                                             this, 0.8));
        } else {
            addSubTask(
                new FileUnpackTaskSpecification_zip(&m_RollbackList, srcFile, dstFile, this, 0.8));
        }
        addSubTask(new CheckSignatureTaskSpecification(dstFile, m_Entry.sha512, true, this, 0.2));
    }
    m_TaskState = TASK_RUNNING;
    startSubTasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    if (subTasksResult() == TASK_FINISHED) {
        const QString dstFile = m_Config->m_InstallDir + QLatin1Char('/') + m_Entry.dstName();
        if (m_ReplacesFile && !QFile::setPermissions(dstFile, m_OldPermissions))
            qDebug() << "Could not keep the permissions of" << dstFile;
        // The records now belong to the replace list; this task must never
        // undo them again (a reset after success would delete the new file).
        if (m_ParentRollbackList)
            m_ParentRollbackList->append(m_RollbackList);
        m_RollbackList.clear();
        makeSingleFileExecutable(dstFile);
    } else {
        removeFailedOutput();
        m_RollbackList.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::removeFailedOutput()
{
    // An operation that failed writes no record, but a patch that failed
    // while writing leaves what it wrote. Whatever lies at the destination
    // now came from this task once the installed version is out of the way,
    // and it would block renaming that version back.
    const QString dstFile = m_Config->m_InstallDir + QLatin1Char('/') + m_Entry.dstName();
    bool movedAside = !m_ReplacesFile;
    for (const RollbackData &record : qAsConst(m_RollbackList)) {
        if (record.m_Op == RollbackData::FILE_CREATE && record.m_Path == dstFile)
            return;
        if (record.m_Op == RollbackData::FILE_RENAME && record.m_OldPath == dstFile)
            movedAside = true;
    }
    if (movedAside && QFileInfo::exists(dstFile))
        qDebug() << "Removing failed output" << dstFile << QFile::remove(dstFile);
}

bool FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path)
{
    const QFileInfo info(path);
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
