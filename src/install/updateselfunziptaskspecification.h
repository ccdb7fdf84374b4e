#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

#include <QList>
#include <QString>

class Configuration;

// Step one of an update: builds the new updater inside the temporary
// directory T without touching the installation. Changed updater files are
// unpacked or patched into T (the planner already copied the unchanged ones
// there), each result is checked against the product ini's digest, then
// T/update is made executable, T/update.ini is written for the new updater
// and the translations are copied next to it. Nothing is journalled: nothing
// outside T is written.
class UpdateSelfUnzipTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateSelfUnzipTaskSpecification)

public:
    // replaceList and config are not owned; the list is read when the task
    // starts.
    UpdateSelfUnzipTaskSpecification(QList<ReplaceEntry> *replaceList, Configuration *config,
                                     QObject *parent, qreal weight);
    ~UpdateSelfUnzipTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;

protected:
    void makeSubtasksAndStart();
    void subtasksDone() override;

    QList<ReplaceEntry> *m_ReplaceList;
    Configuration *m_Config;

private:
    // Starts the digest checks of the extracted files as a second batch;
    // false when there is nothing to check.
    bool startChecks();
    void prepareHandOver();
    void copyTranslations();

    // Extracted files and their expected digests, checked once all are out.
    QList<QPair<QString, QString>> m_Extracted;
    bool m_Checking = false;
};
