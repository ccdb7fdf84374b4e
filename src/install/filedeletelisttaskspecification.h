#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

#include <QList>

class Configuration;

// Deletes the plan's obsolete files and directories below the installation
// directory, one after the other. A deletion that fails is not an error: the
// list finishes unless it is cancelled.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileDeleteListTaskSpecification)

public:
    // deleteList and config are not owned; the list is read when the task
    // starts, not before.
    FileDeleteListTaskSpecification(QList<DeleteEntry> *deleteList, Configuration *config,
                                    QObject *parent, qreal weight);
    ~FileDeleteListTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;

protected:
    void makeSubtasksAndStart();

    QList<DeleteEntry> *m_DeleteList;
    Configuration *m_Config;
};
