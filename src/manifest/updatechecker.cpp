#include "updatechecker.h"

#include "manifest/httpdownloader.h"
#include "shell/appglobals.h"

#include "UpdateMessage.pb.h"

#include <QDebug>
#include <QNetworkRequest>

UpdateChecker::UpdateChecker(QObject *parent)
    : UpdateChecker(QUrl(AppGlobals::versionQueryUrl()), parent)
{
}

UpdateChecker::UpdateChecker(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_Url(url)
{
}

UpdateChecker::~UpdateChecker()
{
    if (m_Downloader) {
        disconnect(m_Downloader, nullptr, this, nullptr);
        m_Downloader->quit();
        m_Downloader->wait();
    }
}

void UpdateChecker::checkForUpdate()
{
    qDebug() << "checkForUpdate" << m_Url;
    auto *downloader = new HTTPDownloader(QNetworkRequest(m_Url));
    m_Downloader = downloader;
    connect(downloader, SIGNAL(download_available(QByteArray)), this,
            SLOT(on_updateCheckAvailable(QByteArray)));
    downloader->start(QThread::InheritPriority);
}

UpdateVersions UpdateChecker::parseVersions(const QByteArray &data)
{
    UpdateVersions versions;
    com::quorvex::update::Versions message;
    // ParseFromArray also checks that every required field is present.
    if (!message.ParseFromArray(data.constData(), data.size())) {
        qDebug() << "Failed to parse version message of" << data.size() << "bytes";
        return versions;
    }
    for (const com::quorvex::update::Channel &channel : message.channels()) {
        const QString name = QString::fromStdString(channel.name());
        if (versions.contains(name))
            continue;
        versions.insert(name, qMakePair(QString::number(channel.version_number()),
                                        QString::fromStdString(channel.version_string())));
    }
    return versions;
}

void UpdateChecker::on_updateCheckAvailable(QByteArray updateData)
{
    const UpdateVersions versions = parseVersions(updateData);
    emit update_available(versions);
    deleteLater();
}
