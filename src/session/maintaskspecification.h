#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

class Configuration;
class QNetworkAccessManager;

// The root task of an update session. Owns the session's plan and runs the
// steps strictly one after another: fetch and verify the product ini, plan,
// download, run the pre-install commands, install (replace and delete files
// in the installation, or build the new updater in the temporary directory
// when the updater updates itself), run the post-install commands. The first
// step that fails or is cancelled ends the session.
//
// All steps are created together before the first runs; the later ones get
// pointers into m_Plan and read it only when they start, after the planner
// has filled it.
class MainTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(MainTaskSpecification)

public:
    // manager and config are not owned.
    MainTaskSpecification(QNetworkAccessManager *manager, Configuration *config, QObject *parent,
                          qreal weight);
    ~MainTaskSpecification() override;

    const UpdatePlan &plan() const { return m_Plan; }

public slots:
    void execute() override;
    void reset() override;

protected:
    void makeSubtasksAndStart();

    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Config;
    UpdatePlan m_Plan;
};
