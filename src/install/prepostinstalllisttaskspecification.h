#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

#include <QList>

class Configuration;

// Runs the plan's pre- or post-install commands one after the other; the
// first command that fails ends the list as failed and the rest do not run.
class PrePostInstallListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(PrePostInstallListTaskSpecification)

public:
    // commands and config are not owned; the list is read when the task
    // starts and must outlive the task.
    PrePostInstallListTaskSpecification(QList<InstallCommandEntry> *commands, Configuration *config,
                                        QObject *parent, qreal weight);
    ~PrePostInstallListTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;

protected:
    QList<InstallCommandEntry> *m_Commands;
    Configuration *m_Config;
};
