#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"
#include "tasks/rollback.h"

#include <QFileDevice>
#include <QList>
#include <QString>

class Configuration;

// Installs one file of the plan into the installation directory I from what
// the download step left in the temporary directory T: by patching the
// installed version, unpacking a package or gzip file, or copying a plain
// file; then (except for the plain copy) checks the result's SHA-512.
//
// The installed version is never written over: it is first renamed aside in
// its own directory to "_old_" + its name. The new version is written beside
// it as "_new_" + its name, checked, given the permission bits of the file it
// replaces (or the executable flag where the name calls for it) and only then
// renamed to the installed name, so a process killed at any moment leaves
// under that name either nothing or a whole, checked file. When the installed
// name is missing but its backup is there (a killed update had moved it
// aside), the backup is taken as the version to restore.
//
// Every step is journalled in the task's own journal. On success the records
// go to the replace list's journal (which restores the earlier version if the
// list fails, and deletes the backups if it succeeds); on failure the own
// journal is undone at once, so the installed version is back under its name.
class FileReplaceTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileReplaceTaskSpecification)

public:
    // deleteList, parentRollbackList and config are not owned.
    FileReplaceTaskSpecification(const ReplaceEntry &entry, QList<DeleteEntry> *deleteList,
                                 RollbackDataList *parentRollbackList, Configuration *config,
                                 QObject *parent, qreal weight);
    ~FileReplaceTaskSpecification() override;

    // Gives path mode 0777 when its file name is one of the known executables
    // or its complete suffix one of the shared-library suffixes; the content
    // is not looked at. True when the mode was set.
    static bool makeSingleFileExecutable(const QString &path);
    // The same rule decided by installedName, for a file still kept under
    // another name.
    static bool makeSingleFileExecutable(const QString &path, const QString &installedName);

public slots:
    void execute() override;
    void reset() override;

protected:
    void makeSubtasksAndStart();
    void subtasksDone() override;

    ReplaceEntry m_Entry;
    QList<DeleteEntry> *m_DeleteList;
    RollbackDataList *m_ParentRollbackList;
    RollbackDataList m_RollbackList;
    Configuration *m_Config;

private:
    // Where the new version is written and checked before it is renamed
    // over the installed name.
    QString stagingFile() const;
    // Gives the staging file its mode and renames it over the installed
    // name; the journal then names the installed file. False after its
    // failure line.
    bool publish();

    bool m_ReplacesFile = false;
    QFileDevice::Permissions m_OldPermissions;
};
