#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"
#include "tasks/rollback.h"

#include <QList>

class Configuration;

// Installs the plan's replace list into the installation directory: first
// the missing directories, then one FileReplaceTaskSpecification per entry,
// two at a time, all journalling into one journal. If anything fails or the
// update is cancelled, the journal is played back and the installation is as
// it was before the list started: new files and directories removed, the
// replaced files back under their names. If everything succeeds the backups
// of the replaced files are deleted and the changes are kept.
class FileReplaceListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileReplaceListTaskSpecification)

public:
    // The lists and config are not owned; the lists are read when the task
    // starts.
    FileReplaceListTaskSpecification(QList<ReplaceEntry> *replaceList,
                                     QList<DeleteEntry> *deleteList, Configuration *config,
                                     QObject *parent, qreal weight);
    ~FileReplaceListTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;

protected:
    void subtasksDone() override;

    QList<ReplaceEntry> *m_ReplaceList;
    QList<DeleteEntry> *m_DeleteList;
    RollbackDataList m_RollbackList;
    Configuration *m_Config;

private:
    void deleteBackups();
};
