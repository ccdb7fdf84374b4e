#include "rollback.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

RollbackData::RollbackData(int op, const QString &oldPath, const QString &newPath)
    : m_Path(newPath)
    , m_OldPath(oldPath)
    , m_Op(op)
{
    Q_ASSERT_X(op == FILE_RENAME, "RollbackData", "two paths are for a rename only");
}

RollbackData::RollbackData(int op, const QString &path)
    : m_Path(path)
    , m_Op(op)
{
    Q_ASSERT_X(op == FILE_CREATE || op == DIR_CREATE, "RollbackData",
               "a rename needs its old name");
}

bool RollbackData::rollback(QObject *messageTarget) const
{
    switch (m_Op) {
    case FILE_RENAME:
        // QFile::rename refuses an existing target, unlike rename(2): a file
        // that took the old name meanwhile is never overwritten.
        if (QFile::rename(m_Path, m_OldPath))
            return true;
        message(messageTarget,
                QStringLiteral("warning: rollback rename %1 to %2 failed").arg(m_OldPath, m_Path));
        return false;
    case FILE_CREATE:
        if (QFile::remove(m_Path))
            return true;
        message(messageTarget,
                QStringLiteral("warning: rollback create file %1 failed").arg(m_Path));
        return false;
    case DIR_CREATE: {
        // rmdir only removes an empty directory, so files put there by
        // someone else survive. A trailing "/" would leave no name to remove.
        const QFileInfo dir(QDir::cleanPath(m_Path));
        if (dir.dir().rmdir(dir.fileName()))
            return true;
        message(messageTarget,
                QStringLiteral("warning: rollback create dir %1 failed").arg(m_Path));
        return false;
    }
    default:
        qFatal("Should not reach here");
    }
    return false;
}

void RollbackData::message(QObject *target, const QString &text)
{
    if (!target)
        return;
    if (!QMetaObject::invokeMethod(target, "message", Qt::AutoConnection, Q_ARG(QString, text)))
        qWarning() << "Warning: message signal was not found in RollbackData::message";
}

bool RollbackDataList::rollback(QObject *messageTarget)
{
    bool allUndone = true;
    while (!isEmpty()) {
        if (!takeLast().rollback(messageTarget))
            allUndone = false;
    }
    return allUndone;
}
