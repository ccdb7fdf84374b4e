#pragma once

#include "tasks/composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class QNetworkAccessManager;

// The first step of a session: brings the product ini of the target version
// into T and proves that the release signer wrote it. Downloads the packed
// ini and unpacks it, downloads the detached signature, then checks the
// signature; files already in T (a continued session) are not fetched again,
// but the check always runs. The planner reads the ini only after this task
// has finished.
class IniDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(IniDownloadTaskSpecification)

public:
    // manager and config are not owned.
    IniDownloadTaskSpecification(QNetworkAccessManager *manager, Configuration *config,
                                 QObject *parent, qreal weight);
    ~IniDownloadTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    void makeSubtasksAndStart();

    QNetworkAccessManager *m_Manager;
    Configuration *m_Config;
};
