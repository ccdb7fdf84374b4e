#pragma once

// Snapshots of directory trees (paths, contents and permission bits), taken
// before and after an update to show that it changed exactly what it should,
// or nothing at all.

#include <QByteArray>
#include <QFileDevice>
#include <QMap>
#include <QString>
#include <QStringList>

namespace TreeSnapshot {

// One entry of a snapshot: a directory ("/" as content) or a file.
struct Node
{
    QByteArray content;
    QFileDevice::Permissions permissions;
    bool operator==(const Node &other) const
    {
        return content == other.content && permissions == other.permissions;
    }
};
using Tree = QMap<QString, Node>;

// Every file and directory below root, by relative path (hidden ones too).
Tree snapshot(const QString &root);
// Where two snapshots differ, a line per path, for failure messages:
// "P missing", "P is extra", "P has other content", "P has mode M instead of E".
QStringList differences(const Tree &expected, const Tree &actual);

} // namespace TreeSnapshot
