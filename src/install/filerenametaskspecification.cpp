#include "filerenametaskspecification.h"

#include "tasks/rollback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString &oldPath,
                                                         const QString &newPath,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, qreal weight)
    : FastFileOpTaskSpecification(newPath, rollbackList, parent, weight)
    , m_OldPath(oldPath)
{
}

FileRenameTaskSpecification::~FileRenameTaskSpecification() = default;

bool FileRenameTaskSpecification::doOp()
{
    const QFileInfo target(m_Path);
    if (!target.dir().exists())
        QDir().mkdir(target.path());
    if (!QFile::rename(m_OldPath, m_Path)) {
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(m_OldPath, m_Path));
        return false;
    }
    addRollback(RollbackData(RollbackData::FILE_RENAME, m_OldPath, m_Path));
    return true;
}
