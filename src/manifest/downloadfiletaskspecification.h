#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class QNetworkAccessManager;

// Fetches one planned file from its section's folder of the release into
// T + "/" + fileName, then checks it against the plan's SHA-512 digest. A
// file whose digest does not match is deleted and the task fails: nothing
// unverified stays in T, where a later run would take it for downloaded.
class DownloadFileTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(DownloadFileTaskSpecification)

public:
    // manager and config are not owned.
    DownloadFileTaskSpecification(const DownloadEntry &entry, QNetworkAccessManager *manager,
                                  Configuration *config, QObject *parent, qreal weight);
    ~DownloadFileTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    QString localPath() const;

    DownloadEntry m_Entry;
    QNetworkAccessManager *m_Manager;
    Configuration *m_Config;
    DownloadTaskSpecification *m_Download = nullptr;
};
