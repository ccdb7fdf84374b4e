#include "updateplan.h"

QString ReplaceEntry::dstName(const QString &prefix) const
{
    const QString name = targetName.isEmpty() ? fileName : targetName;
    if (prefix.isEmpty())
        return name;
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    return name.left(slash + 1) + prefix + name.mid(slash + 1);
}

void UpdatePlan::clear()
{
    downloads.clear();
    replaces.clear();
    deletes.clear();
    preInstalls.clear();
    postInstalls.clear();
}
