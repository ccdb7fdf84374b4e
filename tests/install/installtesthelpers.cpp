#include "installtesthelpers.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/packagewriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <zlib.h>

namespace InstallTest {

TaskRun::TaskRun(TaskSpecification *t)
    : task(t)
    , messages(t, SIGNAL(message(QString)))
    , errors(t, SIGNAL(error(QString)))
    , finished(t, SIGNAL(finished(TaskSpecification *)))
    , canceled(t, SIGNAL(canceled(TaskSpecification *)))
{
}

bool TaskRun::run(int timeoutMs)
{
    task->execute();
    return waitForEnd(timeoutMs);
}

bool TaskRun::waitForEnd(int timeoutMs)
{
    for (int waited = 0; finished.isEmpty() && canceled.isEmpty() && waited < timeoutMs;
         waited += 10)
        QTest::qWait(10);
    // Let queued late signals (and deleteLater of children) arrive.
    QTest::qWait(20);
    return !finished.isEmpty() || !canceled.isEmpty();
}

QStringList TaskRun::messageTexts() const
{
    QStringList texts;
    for (const QList<QVariant> &args : messages)
        texts << args.value(0).toString();
    return texts;
}

QStringList TaskRun::errorTexts() const
{
    QStringList texts;
    for (const QList<QVariant> &args : errors)
        texts << args.value(0).toString();
    return texts;
}

bool writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions mode)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return mode == QFileDevice::Permissions() || QFile::setPermissions(path, mode);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha512Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha512).toHex());
}

QByteArray package(const QByteArray &content)
{
    qvpatch::ByteSink sink;
    if (!qvpatch::writePlainPackage(reinterpret_cast<const uint8_t *>(content.constData()),
                                    std::size_t(content.size()), &sink))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(sink.data()), int(sink.length()));
}

QByteArray gzip(const QByteArray &content)
{
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&stream, uLong(content.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
    stream.avail_in = uInt(content.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

} // namespace InstallTest
