// Aggregate throughput of six parallel download tasks from nginx on loopback
// against curl fetching the same files in parallel, and digest throughput of
// the SHA-512 check against sha512sum over the same files. Each figure is the
// median of five runs; the ratios are what matters (aims: >= 0.8, >= 0.9).
// The two sides take turns going first, and written or deleted data is synced
// before each phase, so that neither side pays for the other's write-back.
#include "manifest/checksigfunc.h"
#include "manifest/downloadtaskspecification.h"
#include "nginxserver.h"
#include "shell/appglobals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int downloadCount = 6;
constexpr int hashCount = 10; // 10 x 100 MB = 1 GB
constexpr qint64 fileSize = 100 * 1024 * 1024;
constexpr int runs = 5;
constexpr int version = 1;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool makeFile(const QString &path, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
    for (qint64 done = 0; done < fileSize; done += block.size()) {
        block[0] = char(done >> 20);
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

double downloadWithTasks(QNetworkAccessManager &manager, const QString &outDir)
{
    QObject owner;
    int ended = 0;
    bool allFinished = true;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < downloadCount; ++i) {
        auto *task = new DownloadTaskSpecification(
            &manager, QStringLiteral("file%1.bin").arg(i), version,
            QStringLiteral("%1/task%2.bin").arg(outDir).arg(i), fileSize, &owner, 1.0);
        QObject::connect(task, &TaskSpecification::finished, [&ended]() { ++ended; });
        QObject::connect(task, &TaskSpecification::canceled, [&]() {
            ++ended;
            allFinished = false;
        });
        task->execute();
    }
    while (ended < downloadCount)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!allFinished)
        std::fprintf(stderr, "downloadbench: a download task failed\n");
    return allFinished ? seconds : -1;
}

double runTimed(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "downloadbench: %s failed\n", qUtf8Printable(program));
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

double hashWithCheck(const QStringList &files, const QStringList &digests)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < files.size(); ++i) {
        CheckSigFunc func(files[i], digests[i]);
        if (!func.run()) {
            std::fprintf(stderr, "downloadbench: digest mismatch for %s\n",
                         qUtf8Printable(files[i]));
            return -1;
        }
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    });
    QTemporaryDir work(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/bench-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/downloadbench-XXXXXX"));
    if (!work.isValid())
        return 1;
    const QString release = work.filePath(QStringLiteral("root/%1").arg(version));
    const QString out = work.filePath(QStringLiteral("out"));
    QDir().mkpath(release);
    QDir().mkpath(out);
    std::printf("preparing %d files of %lld MB in %s\n", hashCount, fileSize >> 20,
                qUtf8Printable(work.path()));
    QStringList files;
    for (int i = 0; i < hashCount; ++i) {
        files << QStringLiteral("%1/file%2.bin").arg(release).arg(i);
        if (!makeFile(files.last(), quint32(i + 1)))
            return 1;
    }

    NginxServer server;
    if (!server.start(work.filePath(QStringLiteral("root")))) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(server.errorText()));
        return 1;
    }
    AppGlobals::setChannelBaseUrl(server.url(QStringLiteral("/")));
    QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("--fail"),
                         QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                         QString::number(downloadCount)};
    for (int i = 0; i < downloadCount; ++i)
        curlArgs << QStringLiteral("-o") << QStringLiteral("%1/curl%2.bin").arg(out).arg(i)
                 << server.url(QStringLiteral("/%1/file%2.bin").arg(version).arg(i));

    QNetworkAccessManager manager;
    std::vector<double> taskTimes, curlTimes;
    ::sync();
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((run + turn) % 2 == 0)
                taskTimes.push_back(downloadWithTasks(manager, out));
            else
                curlTimes.push_back(runTimed(QStringLiteral("curl"), curlArgs));
            ::sync();
        }
        if (taskTimes.back() < 0 || curlTimes.back() < 0)
            return 1;
    }
    for (int i = 0; i < downloadCount; ++i) {
        if (QFileInfo(QStringLiteral("%1/task%2.bin").arg(out).arg(i)).size() != fileSize)
            return 1;
    }
    const double totalMB = double(downloadCount * fileSize) / (1024 * 1024);
    const double taskRate = totalMB / median(taskTimes);
    const double curlRate = totalMB / median(curlTimes);
    std::printf("download %d x %lld MB: tasks %.0f MB/s, curl %.0f MB/s, ratio %.2f (aim >= 0.8)\n",
                downloadCount, fileSize >> 20, taskRate, curlRate, taskRate / curlRate);
    server.stop();
    QDir(out).removeRecursively();
    ::sync();

    // Digests: sha512sum's output is the peer's timing and the expected values.
    QProcess sum;
    sum.start(QStringLiteral("sha512sum"), files);
    sum.waitForFinished(-1);
    QStringList digests;
    for (const QByteArray &line : sum.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            digests << QString::fromLatin1(line.left(128));
    }
    if (digests.size() != files.size())
        return 1;
    std::vector<double> checkTimes, sumTimes;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((run + turn) % 2 == 0)
                checkTimes.push_back(hashWithCheck(files, digests));
            else
                sumTimes.push_back(runTimed(QStringLiteral("sha512sum"), files));
        }
        if (checkTimes.back() < 0 || sumTimes.back() < 0)
            return 1;
    }
    const double hashMB = double(hashCount * fileSize) / (1024 * 1024);
    const double checkRate = hashMB / median(checkTimes);
    const double sumRate = hashMB / median(sumTimes);
    std::printf("sha512 %d x %lld MB: CheckSigFunc %.0f MB/s, sha512sum %.0f MB/s, ratio %.2f "
                "(aim >= 0.9)\n",
                hashCount, fileSize >> 20, checkRate, sumRate, checkRate / sumRate);
    return 0;
}
