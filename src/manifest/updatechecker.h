#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class HTTPDownloader;

// The current release of each channel, as the version server names it:
// channel name -> (version number as decimal text, version string).
// Empty when the query failed.
typedef QHash<QString, QPair<QString, QString>> UpdateVersions;
Q_DECLARE_METATYPE(UpdateVersions)

// Asks the version server once which release is current on each channel.
//
// One HTTP GET on a thread of its own; the answer is a serialized Versions
// message (UpdateMessage.proto). Exactly one update_available follows each
// checkForUpdate(), on the thread of the checker, and then the checker deletes
// itself: one checker serves one query. There is no retry and no time limit
// beyond the network stack's own.
class UpdateChecker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateChecker)

public:
    // url defaults to the version server compiled into the program.
    explicit UpdateChecker(QObject *parent = nullptr);
    UpdateChecker(const QUrl &url, QObject *parent);
    // A query still under way is ended and its thread joined, so no thread
    // outlives the checker (or the application it belongs to).
    ~UpdateChecker() override;

    void checkForUpdate();

    // Decodes a Versions message. Anything that is not a complete message
    // (an empty array, a missing required field, garbage) gives an empty hash;
    // of channels with the same name the first one counts.
    static UpdateVersions parseVersions(const QByteArray &data);

signals:
    void update_available(UpdateVersions versions);

private slots:
    void on_updateCheckAvailable(QByteArray updateData);

private:
    QUrl m_Url;
    QPointer<HTTPDownloader> m_Downloader;
};
