#pragma once

// Lets GoogleTest print Qt values readably in failure messages.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}

inline void PrintTo(const QByteArray &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}

inline void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

// For SCOPED_TRACE and << after an assertion.
inline std::ostream &operator<<(std::ostream &os, const QString &value)
{
    return os << value.toStdString();
}
QT_END_NAMESPACE
