#include "shell/logfile.h"

#include "qtprinters.h"
#include "testsandbox.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const QDateTime startTime(QDate(2016, 5, 4), QTime(13, 7, 42, 500));

QString logDir(const QTemporaryDir &temp)
{
    return temp.path() + QStringLiteral("/quorvex_update_log");
}

TEST(LogFileTest, WithoutMarkerNothingIsCreated)
{
    QTemporaryDir temp;
    LogFile log(temp.path());
    EXPECT_FALSE(log.isEnabled());
    EXPECT_FALSE(log.open(startTime));
    log.write(QtWarningMsg, QStringLiteral("x"));
    log.write(QtCriticalMsg, QStringLiteral("y"));
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST(LogFileTest, MarkerCreatesDirectoryAndFileNamedAfterTheStart)
{
    for (const bool markerIsDirectory : {false, true}) {
        QTemporaryDir temp;
        const QString marker = temp.path() + QStringLiteral("/qvx_update_log");
        if (markerIsDirectory)
            ASSERT_TRUE(QDir().mkdir(marker));
        else
            ASSERT_TRUE(TestSandbox::writeFile(marker, {}));

        LogFile log(temp.path());
        ASSERT_TRUE(log.open(startTime));
        log.write(QtWarningMsg, QStringLiteral("x"));
        const QString expected = logDir(temp) + QStringLiteral("/update__2016-05-04__13_07_42.log");
        EXPECT_EQ(QDir::cleanPath(log.filePath()), expected);
        const QByteArray text = TestSandbox::readFile(expected);
        EXPECT_TRUE(QRegularExpression(
                        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\t\\|\t"
                                       "Warning\t\\|\tx\n$"))
                        .match(QString::fromLatin1(text))
                        .hasMatch())
            << text.constData();
    }
}

TEST(LogFileTest, LineFormat)
{
    EXPECT_EQ(LogFile::formatLine(QtWarningMsg, startTime, QStringLiteral("x")),
              QByteArray("2016-05-04 13:07:42:500\t|\tWarning\t|\tx\n"));
    const struct
    {
        QtMsgType type;
        const char *level;
    } levels[] = {{QtDebugMsg, "Debug"},
                  {QtWarningMsg, "Warning"},
                  {QtCriticalMsg, "Critical"},
                  {QtFatalMsg, "Fatal"},
                  {QtInfoMsg, "Info"}};
    for (const auto &level : levels) {
        EXPECT_EQ(LogFile::formatLine(level.type, startTime, QStringLiteral("a \"b\"")),
                  QByteArray("2016-05-04 13:07:42:500\t|\t") + level.level + "\t|\ta \"b\"\n");
    }
    EXPECT_TRUE(LogFile::formatLine(QtMsgType(42), startTime, QStringLiteral("x")).isEmpty());
}

TEST(LogFileTest, SecondStartInTheSameSecondTruncates)
{
    QTemporaryDir temp;
    ASSERT_TRUE(TestSandbox::writeFile(temp.path() + QStringLiteral("/qvx_update_log"), {}));
    {
        LogFile first(temp.path());
        ASSERT_TRUE(first.open(startTime));
        first.write(QtDebugMsg, QStringLiteral("first run"));
    }
    LogFile second(temp.path());
    ASSERT_TRUE(second.open(startTime.addMSecs(300)));
    second.write(QtDebugMsg, QStringLiteral("second run"));
    const QByteArray text = TestSandbox::readFile(second.filePath());
    EXPECT_FALSE(text.contains("first run"));
    EXPECT_TRUE(text.contains("second run"));
}

TEST(LogFileTest, ConcurrentLinesStayWhole)
{
    QTemporaryDir temp;
    ASSERT_TRUE(TestSandbox::writeFile(temp.path() + QStringLiteral("/qvx_update_log"), {}));
    LogFile log(temp.path());

    constexpr int threads = 4;
    constexpr int linesPerThread = 2000;
    // Long lines make a torn write likely if writes were not serialised.
    const QString payload(300, QLatin1Char('p'));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&log, &payload, t] {
            for (int i = 0; i < linesPerThread; ++i)
                log.write(QtDebugMsg, QStringLiteral("t%1 #%2 %3").arg(t).arg(i).arg(payload));
        });
    }
    for (auto &worker : workers)
        worker.join();

    const QList<QByteArray> lines = TestSandbox::readFile(log.filePath()).split('\n');
    ASSERT_EQ(lines.size(), threads * linesPerThread + 1); // last is after the final '\n'
    const QRegularExpression whole(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\t\\|\tDebug\t\\|\tt\\d #\\d+ p{300}$"));
    std::vector<int> next(threads, 0);
    for (int i = 0; i < lines.size() - 1; ++i) {
        const QString line = QString::fromLatin1(lines.at(i));
        ASSERT_TRUE(whole.match(line).hasMatch()) << qPrintable(line);
        // Each thread's lines arrive in its own order.
        const int t = line.section(QLatin1Char('\t'), 4).mid(1, 1).toInt();
        const int n = line.section(QLatin1Char('#'), 1).section(QLatin1Char(' '), 0, 0).toInt();
        EXPECT_EQ(n, next[t]++);
    }
}

} // namespace
