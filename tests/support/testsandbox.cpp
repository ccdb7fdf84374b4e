#include "testsandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdlib>
#include <string>

namespace TestSandbox {

namespace {
QString g_root;

void setEnv(const char *name, const QString &value)
{
    ::setenv(name, QFile::encodeName(value).constData(), 1);
}
} // namespace

void enter()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvxtest-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        std::abort();
    g_root = QFile::decodeName(pattern.c_str());
    for (const QString &sub : {home(), tempDir(), configDir()})
        QDir().mkpath(sub);
    setEnv("HOME", home());
    setEnv("TMPDIR", tempDir());
    setEnv("QVX_CONFIG_DIR", configDir());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        setEnv("QT_QPA_PLATFORM", QStringLiteral("offscreen"));
}

void leave()
{
    if (!g_root.isEmpty() && !qEnvironmentVariableIsSet("QVX_KEEP_TEST_SANDBOX"))
        QDir(g_root).removeRecursively();
}

QString root()
{
    return g_root;
}

QString home()
{
    return g_root + QStringLiteral("/home");
}

QString tempDir()
{
    return g_root + QStringLiteral("/tmp");
}

QString configDir()
{
    return g_root + QStringLiteral("/config/");
}

QString updateExecutable()
{
    return qEnvironmentVariable("QVX_UPDATE_EXE");
}

void removeSessionDirectories()
{
    const QFileInfoList sessions = QDir(tempDir()).entryInfoList({QStringLiteral("quorvex_temp_*")},
                                                                 QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &dir : sessions)
        QDir(dir.absoluteFilePath()).removeRecursively();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace TestSandbox
