#include "dircreatetaskspecification.h"

#include "tasks/rollback.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(const QString &path,
                                                       RollbackDataList *rollbackList,
                                                       QObject *parent, qreal weight)
    : FastFileOpTaskSpecification(path, rollbackList, parent, weight)
{
}

DirCreateTaskSpecification::~DirCreateTaskSpecification() = default;

bool DirCreateTaskSpecification::doOp()
{
    return createDir(m_Path);
}

bool DirCreateTaskSpecification::createDir(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (info.isDir())
            return true;
        emit message(
            QStringLiteral("Could not create dir '%1' because it already exists and is not a dir")
                .arg(path));
        return false;
    }
    const QString parentPath = info.path();
    if (parentPath == QLatin1String(".") || QDir(path).isRoot() || parentPath == path) {
        emit message(QStringLiteral("Could not create dir %1").arg(m_Path));
        return false;
    }
    // A parent that exists as a file is reported by name from the recursion.
    if (!QFileInfo(parentPath).isDir() && !createDir(parentPath))
        return false;
    if (!QDir(parentPath).mkdir(info.fileName())) {
        emit message(QStringLiteral("unable to create dir %1").arg(path));
        return false;
    }
    addRollback(RollbackData(RollbackData::DIR_CREATE, path));
    return true;
}
