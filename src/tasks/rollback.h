#pragma once

#include <QList>
#include <QString>

class QObject;

// One undo record of the installation journal: a change made to the disk and
// how to take it back. Records are plain values, appended by the file tasks
// right after their operation succeeded.
class RollbackData
{
public:
    // Kinds of record (m_Op); the values are fixed.
    enum Op
    {
        FILE_RENAME = 0, // m_OldPath was renamed to m_Path; undo renames it back
        FILE_CREATE = 1, // the file m_Path was created; undo deletes it
        DIR_CREATE = 2   // the directory m_Path was created; undo removes it if empty
    };

    // FILE_RENAME only.
    RollbackData(int op, const QString &oldPath, const QString &newPath);
    // FILE_CREATE and DIR_CREATE only.
    RollbackData(int op, const QString &path);

    // Undoes this record. A failure is sent as a warning line to
    // messageTarget (see message) and returns false; nothing is retried, and
    // nothing is ever overwritten: a rename back onto an occupied name fails.
    bool rollback(QObject *messageTarget) const;

    // Delivers text through the "message" signal (or slot) of target, which
    // for a task ends up in the window's log. A null target gets nothing.
    static void message(QObject *target, const QString &text);

    QString m_Path;    // what exists because of the operation
    QString m_OldPath; // the name before a rename; empty otherwise
    int m_Op;
};

// The journal of a group of installation steps, in the order the operations
// happened. Owned by the task that owns the group; the tasks inside hold a
// pointer to it and append to it. Main thread only.
class RollbackDataList : public QList<RollbackData>
{
public:
    // Undoes every record, newest first, and empties the journal, also when
    // some undo failed (each failure is one warning to messageTarget). True
    // when every record was undone; an empty journal returns true at once.
    bool rollback(QObject *messageTarget);
};
