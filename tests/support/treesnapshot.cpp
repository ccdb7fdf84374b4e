#include "treesnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace TreeSnapshot {

Tree snapshot(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        Node node;
        node.permissions = info.permissions();
        if (info.isDir()) {
            node.content = "/";
        } else {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                node.content = file.readAll();
        }
        tree.insert(QDir(root).relativeFilePath(path), node);
    }
    return tree;
}

QStringList differences(const Tree &expected, const Tree &actual)
{
    QStringList result;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const auto found = actual.find(it.key());
        if (found == actual.end())
            result << it.key() + QStringLiteral(" missing");
        else if (found->content != it->content)
            result << it.key() + QStringLiteral(" has other content");
        else if (found->permissions != it->permissions)
            result << it.key() + QStringLiteral(" has mode %1 instead of %2")
                                     .arg(int(found->permissions), 0, 16)
                                     .arg(int(it->permissions), 0, 16);
    }
    for (auto it = actual.begin(); it != actual.end(); ++it) {
        if (!expected.contains(it.key()))
            result << it.key() + QStringLiteral(" is extra");
    }
    return result;
}

} // namespace TreeSnapshot
