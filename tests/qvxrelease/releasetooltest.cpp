#include "testsandbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList &arguments, int timeoutMs = 120000)
{
    ToolRun run;
    QProcess process;
    process.start(qEnvironmentVariable("QVX_RELEASE_EXE"), arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
        ADD_FAILURE() << "qvxrelease did not run: "
                      << arguments.join(QLatin1Char(' ')).toStdString();
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class ReleaseToolTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("QVX_RELEASE_EXE"));
        ASSERT_TRUE(m_Dir.isValid());
    }

    QString path(const QString &name) const { return m_Dir.filePath(name); }
    QString path(const char *name) const { return path(QString::fromLatin1(name)); }

    QString write(const char *name, const QByteArray &content) const
    {
        const QString p = path(name);
        EXPECT_TRUE(TestSandbox::writeFile(p, content));
        return p;
    }

    QTemporaryDir m_Dir;
};

// Two versions that share most of their bytes, as program releases do.
void makeVersions(QByteArray *older, QByteArray *newer)
{
    QRandomGenerator random(17);
    for (int i = 0; i < 200000; ++i)
        older->append(char(random.bounded(40)));
    *newer = *older;
    for (int i = 0; i < 300; ++i)
        (*newer)[random.bounded(newer->size())] = char(random.bounded(256));
    newer->insert(5000, QByteArray(777, 'N'));
    newer->remove(90000, 1234);
}

TEST_F(ReleaseToolTest, CommandLineErrorsAndHelp)
{
    struct Case
    {
        QStringList arguments;
        int exitCode;
        const char *text; // expected in the output
    };
    const QString a = QStringLiteral("a");
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{QStringLiteral("--help")}, 0, "apply-diff OLD DIFF OUT [--header]"},
        {{QStringLiteral("frobnicate")}, 2, "unknown command 'frobnicate'"},
        {{QStringLiteral("pack"), a}, 2, "Usage: qvxrelease pack IN OUT"},
        {{QStringLiteral("unpack"), a, a, a}, 2, "too many arguments"},
        {{QStringLiteral("diff"), a, a, a, QStringLiteral("--method"), QStringLiteral("3")},
         2,
         "--method must be 0, 1 or 2"},
        {{QStringLiteral("diff"), a, a, a, QStringLiteral("--method")}, 2, "needs a value"},
        {{QStringLiteral("apply-diff"), a, a, a, QStringLiteral("--method"), QStringLiteral("1")},
         2,
         "unknown option '--method'"},
        {{QStringLiteral("pack"), QStringLiteral("--help")}, 0, "Usage: qvxrelease pack IN OUT"},
        {{QStringLiteral("pack"), path("missing"), path("out")}, 1, "cannot read"},
    };
    for (const Case &c : cases) {
        const ToolRun run = runTool(c.arguments);
        const std::string command = c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << command;
        EXPECT_TRUE((run.out + run.err).contains(QLatin1String(c.text)))
            << command << "\n"
            << (run.out + run.err).toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("out")));
}

TEST_F(ReleaseToolTest, PackAndUnpackRoundTrip)
{
    QByteArray older;
    QByteArray newer;
    makeVersions(&older, &newer);
    for (const QByteArray &content : {older, QByteArray(), QByteArray("x")}) {
        const QString in = write("in", content);
        const ToolRun pack = runTool({QStringLiteral("pack"), in, path("pkg")});
        ASSERT_EQ(pack.exitCode, 0) << pack.err.toStdString();
        EXPECT_TRUE(pack.err.isEmpty()) << "no progress unless on a terminal";
        const ToolRun unpack = runTool({QStringLiteral("unpack"), path("pkg"), path("out")});
        ASSERT_EQ(unpack.exitCode, 0) << unpack.err.toStdString();
        EXPECT_EQ(TestSandbox::readFile(path("out")), content);
    }
}

TEST_F(ReleaseToolTest, RejectedPackageShowsTheEngineMessageAndKeepsTheOutput)
{
    const QString garbage = write("garbage", QByteArray("not a package at all"));
    const QString out = write("out", QByteArray("keep me"));
    const ToolRun run = runTool({QStringLiteral("unpack"), garbage, out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("qvxrelease: not lzma file")))
        << run.err.toStdString();
    EXPECT_EQ(TestSandbox::readFile(out), QByteArray("keep me"));

    const QString pkg = path("pkg");
    ASSERT_EQ(runTool({QStringLiteral("pack"), write("in", QByteArray(5000, 'p')), pkg}).exitCode,
              0);
    QByteArray damaged = TestSandbox::readFile(pkg);
    damaged[2] = char(damaged[2] ^ 0x01); // the magic
    write("damaged", damaged);
    const ToolRun bad = runTool({QStringLiteral("unpack"), path("damaged"), out});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(TestSandbox::readFile(out), QByteArray("keep me"));
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files).size(), 5) << "no leftovers beside OUT";
}

TEST_F(ReleaseToolTest, DiffAndApplyRoundTripForEveryMethod)
{
    QByteArray older;
    QByteArray newer;
    makeVersions(&older, &newer);
    const QString oldPath = write("old", older);
    const QString newPath = write("new", newer);
    for (const char *method : {"0", "1", "2"}) {
        for (bool header : {false, true}) {
            QStringList diffArgs = {
                QStringLiteral("diff"), oldPath, newPath, path("d"), QStringLiteral("--method"),
                QLatin1String(method)};
            QStringList applyArgs = {QStringLiteral("apply-diff"), oldPath, path("d"), path("out")};
            if (header) {
                diffArgs << QStringLiteral("--header");
                applyArgs << QStringLiteral("--header");
            }
            const ToolRun diff = runTool(diffArgs);
            ASSERT_EQ(diff.exitCode, 0) << diff.err.toStdString();
            EXPECT_LT(QFile(path("d")).size(), method[0] == '0' ? newer.size() + 100 : 20000)
                << method;
            const ToolRun apply = runTool(applyArgs);
            ASSERT_EQ(apply.exitCode, 0) << apply.err.toStdString();
            EXPECT_EQ(TestSandbox::readFile(path("out")), newer) << method << header;
        }
    }

    // The last diff has a header: it refuses an old file it was not made from,
    // and a reader that expects no header sees the magic as a bad method.
    const QString other = write("other", newer);
    QFile::remove(path("out"));
    const ToolRun wrongOld = runTool(
        {QStringLiteral("apply-diff"), other, path("d"), path("out"), QStringLiteral("--header")});
    EXPECT_EQ(wrongOld.exitCode, 1);
    EXPECT_FALSE(QFile::exists(path("out")));
    const ToolRun noHeader =
        runTool({QStringLiteral("apply-diff"), oldPath, path("d"), path("out")});
    EXPECT_EQ(noHeader.exitCode, 1);
    EXPECT_TRUE(noHeader.err.contains(QLatin1String("Invalid compression method")))
        << noHeader.err.toStdString();
}

// Two real releases of an x86-64 program, from npm. Skipped only when npm or
// its registry cannot be reached.
TEST_F(ReleaseToolTest, RealExecutablesRoundTrip)
{
    if (qEnvironmentVariableIsSet("QVX_SANITIZED"))
        GTEST_SKIP() << "too slow in a sanitizer build; the other round trips cover the code";
    const QString cache = qEnvironmentVariable("QVX_FIXTURE_CACHE");
    QProcess fetch;
    fetch.setProcessChannelMode(QProcess::MergedChannels);
    fetch.start(qEnvironmentVariable("QVX_FIXTURE_SCRIPT"), {cache});
    if (!fetch.waitForFinished(240000) || fetch.exitCode() != 0)
        GTEST_SKIP() << "esbuild releases unavailable (npm unreachable?): "
                     << fetch.readAll().toStdString();
    const QString older = cache + QStringLiteral("/esbuild-0.19.0");
    const QString newer = cache + QStringLiteral("/esbuild-0.19.1");

    const ToolRun diff =
        runTool({QStringLiteral("diff"), older, newer, path("d"), QStringLiteral("--header")});
    ASSERT_EQ(diff.exitCode, 0) << diff.err.toStdString();
    const ToolRun apply = runTool(
        {QStringLiteral("apply-diff"), older, path("d"), path("out"), QStringLiteral("--header")});
    ASSERT_EQ(apply.exitCode, 0) << apply.err.toStdString();
    EXPECT_EQ(TestSandbox::readFile(path("out")), TestSandbox::readFile(newer));

    const qint64 newSize = QFile(newer).size();
    const qint64 diffSize = QFile(path("d")).size();
    std::cout << "esbuild 0.19.0 -> 0.19.1: " << newSize << " bytes, diff " << diffSize
              << ", package " << QFile(path("pkg")).size() << "\n";
    EXPECT_LT(diffSize, newSize / 10) << "the diff must find the shared code";
}

} // namespace
