#include "productini.h"

#include "shell/configuration.h"

QString productIniName(int updateMode)
{
    const QString prefix = updateMode == 1 ? QStringLiteral("qvx_") : QString();
    return prefix + defaultClientType(updateMode) + QStringLiteral(".ini");
}

namespace ProductIni {

QStringList splitFields(const QString &value)
{
    return value.split(QStringLiteral("::"));
}

quint64 sizeField(const QString &field)
{
    bool ok = false;
    const quint64 size = field.toULongLong(&ok);
    return ok ? size : 0;
}

bool isContainedPath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList components = path.split(QLatin1Char('/'));
    return !components.contains(QStringLiteral(".."));
}

} // namespace ProductIni
