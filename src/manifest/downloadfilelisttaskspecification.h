#pragma once

#include "manifest/updateplan.h"
#include "tasks/composedtaskspecification.h"

class Configuration;
class QNetworkAccessManager;

// Downloads and checks every entry of the plan's download list, up to
// m_Streams files at a time, in the planner's order. The first file that
// fails ends the list as failed. The download poll reports the planned size
// of the whole list as its total.
class DownloadFileListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(DownloadFileListTaskSpecification)

public:
    // downloads is the session plan's list (filled later, read in execute);
    // none of the pointers is owned.
    DownloadFileListTaskSpecification(const QList<DownloadEntry> *downloads,
                                      QNetworkAccessManager *manager, Configuration *config,
                                      QObject *parent, qreal weight);
    ~DownloadFileListTaskSpecification() override;

public slots:
    void execute() override;
    void reset() override;
    void getDownloadStatus(quint64 &bytesDone, quint64 &bytesTotal, quint64 &bytesSinceLastPoll,
                           bool &downloading) override;

protected:
    const QList<DownloadEntry> *m_Downloads;
    QNetworkAccessManager *m_Manager;
    Configuration *m_Config;
    qint64 m_TotalBytes = 0;
};
