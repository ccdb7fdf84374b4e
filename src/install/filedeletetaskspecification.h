#pragma once

#include "install/fastfileoptaskspecification.h"

// Deletes a file, an empty directory (and the parents it leaves empty) or,
// recursively, a whole directory. Deletions are never journalled. Without
// m_MustSucceed a failed deletion still finishes the task, silently.
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(FileDeleteTaskSpecification)

public:
    FileDeleteTaskSpecification(bool mustSucceed, const QString &path, bool recursive,
                                QObject *parent, qreal weight);
    ~FileDeleteTaskSpecification() override;

protected:
    bool doOp() override;

    bool m_MustSucceed;
    bool m_Recursive;
};
