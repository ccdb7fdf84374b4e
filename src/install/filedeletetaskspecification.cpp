#include "filedeletetaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(bool mustSucceed, const QString &path,
                                                         bool recursive, QObject *parent,
                                                         qreal weight)
    : FastFileOpTaskSpecification(path, nullptr, parent, weight)
    , m_MustSucceed(mustSucceed)
    , m_Recursive(recursive)
{
}

FileDeleteTaskSpecification::~FileDeleteTaskSpecification() = default;

bool FileDeleteTaskSpecification::doOp()
{
    const QFileInfo info(m_Path);
    bool ok = false;
    // A symbolic link is removed as a link, never followed into its target.
    if (info.isDir() && !info.isSymLink()) {
        if (m_Recursive) {
            ok = QDir(m_Path).removeRecursively();
            qDebug() << "Recursively deleted directory" << m_Path << ok;
            if (ok)
                emit message(QStringLiteral("Recursively deleted directory '%1'").arg(m_Path));
        } else {
            ok = QDir().rmpath(m_Path);
            qDebug() << "Deleted directory" << m_Path << ok;
            if (ok)
                emit message(QStringLiteral("Deleted directory '%1'").arg(m_Path));
        }
    } else {
        ok = QFile::remove(m_Path);
        qDebug() << "Deleted file" << m_Path << ok;
        if (ok)
            emit message(QStringLiteral("Deleted file '%1'").arg(m_Path));
    }
    if (ok || !m_MustSucceed)
        return true;
    emit message(QStringLiteral("Could not delete '%1'").arg(m_Path));
    return false;
}
