// The four slow file operations on real files: results, failure lines,
// journal records, and what is left at the destination after a failure.
// gzip data comes from the gzip program where it is installed.

#include "install/filecopytaskspecification.h"
#include "install/filetaskspecification_patch.h"
#include "install/fileunpacktaskspecification_lzma2.h"
#include "install/fileunpacktaskspecification_zip.h"
#include "installtesthelpers.h"
#include "tasks/rollback.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

QStringList g_DebugLines;
QMutex g_DebugMutex;

// Lines come from the worker thread and the main thread alike.
void captureDebug(QtMsgType, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&g_DebugMutex);
    g_DebugLines << text;
}

class SlowFileOpTest : public ::testing::Test
{
protected:
    QString path(const QString &relative) const
    {
        return m_Dir.path() + QLatin1Char('/') + relative;
    }

    // Runs the task with a journal; true when it finished.
    bool runTask(SlowFileOpSpecification *task, QStringList *lines)
    {
        TaskRun run(task);
        EXPECT_TRUE(run.run());
        *lines = run.messageTexts();
        return task->m_TaskState == TaskSpecification::TASK_FINISHED;
    }

    // The independent producer where there is one, zlib otherwise.
    QByteArray gzipOf(const QByteArray &content)
    {
        const QString gzipProgram = QStandardPaths::findExecutable(QStringLiteral("gzip"));
        if (gzipProgram.isEmpty())
            return gzip(content);
        QProcess process;
        process.start(gzipProgram, {QStringLiteral("-c"), QStringLiteral("-9")});
        process.write(content);
        process.closeWriteChannel();
        process.waitForFinished(20000);
        return process.readAllStandardOutput();
    }

    QTemporaryDir m_Dir;
    RollbackDataList m_Journal;
};

TEST_F(SlowFileOpTest, CopyNeverOverwritesAndJournalsOnlySuccess)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("src")), "new"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("taken")), "old"));
    QStringList lines;
    FileCopyTaskSpecification onto(&m_Journal, path(QStringLiteral("src")),
                                   path(QStringLiteral("taken")), nullptr, 1.0);
    EXPECT_FALSE(runTask(&onto, &lines));
    EXPECT_EQ(lines,
              QStringList{QStringLiteral("Could not copy '%1' to '%2'")
                              .arg(path(QStringLiteral("src")), path(QStringLiteral("taken")))});
    EXPECT_TRUE(m_Journal.isEmpty());
    EXPECT_EQ(readFile(path(QStringLiteral("taken"))), QByteArray("old"));

    FileCopyTaskSpecification copy(&m_Journal, path(QStringLiteral("src")),
                                   path(QStringLiteral("dst")), nullptr, 1.0);
    EXPECT_TRUE(runTask(&copy, &lines));
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_EQ(readFile(path(QStringLiteral("dst"))), QByteArray("new"));
    ASSERT_EQ(m_Journal.size(), 1);
    EXPECT_EQ(m_Journal[0].m_Op, int(RollbackData::FILE_CREATE));
    EXPECT_EQ(m_Journal[0].m_Path, path(QStringLiteral("dst")));
}

TEST_F(SlowFileOpTest, PackageUnpackJournalsOnceAndLeavesTheDestinationOnFailure)
{
    const QByteArray content = randomBytes(70000, 3);
    const QByteArray packed = package(content);
    ASSERT_FALSE(packed.isEmpty());
    QByteArray corrupt = packed;
    corrupt[corrupt.size() - 3] = char(corrupt[corrupt.size() - 3] ^ 0x40);
    ASSERT_TRUE(writeFile(path(QStringLiteral("good._lzma2_")), packed));
    ASSERT_TRUE(writeFile(path(QStringLiteral("bad._lzma2_")), corrupt));
    ASSERT_TRUE(writeFile(path(QStringLiteral("kept")), "kept"));

    QStringList lines;
    FileUnpackTaskSpecification_lzma2 bad(&m_Journal, path(QStringLiteral("bad._lzma2_")),
                                          path(QStringLiteral("kept")), nullptr, 1.0);
    EXPECT_FALSE(runTask(&bad, &lines));
    EXPECT_EQ(lines, QStringList{QStringLiteral("Could not unpack '%1' to '%2'")
                                     .arg(path(QStringLiteral("bad._lzma2_")),
                                          path(QStringLiteral("kept")))});
    EXPECT_EQ(readFile(path(QStringLiteral("kept"))), QByteArray("kept"));
    EXPECT_TRUE(m_Journal.isEmpty());

    FileUnpackTaskSpecification_lzma2 good(&m_Journal, path(QStringLiteral("good._lzma2_")),
                                           path(QStringLiteral("out")), nullptr, 1.0);
    EXPECT_TRUE(runTask(&good, &lines));
    EXPECT_EQ(readFile(path(QStringLiteral("out"))), content);
    ASSERT_EQ(m_Journal.size(), 1);
    EXPECT_EQ(m_Journal[0].m_Path, path(QStringLiteral("out")));

    // Without a journal nothing is recorded.
    FileUnpackTaskSpecification_lzma2 unjournalled(nullptr, path(QStringLiteral("good._lzma2_")),
                                                   path(QStringLiteral("out2")), nullptr, 1.0);
    EXPECT_TRUE(runTask(&unjournalled, &lines));
    EXPECT_EQ(m_Journal.size(), 1);
}

TEST_F(SlowFileOpTest, GunzipCases)
{
    const QByteArray content = randomBytes(50000, 4) + QByteArray(100000, 'a');
    const QByteArray gz = gzipOf(content);
    ASSERT_GT(gz.size(), 100);
    const QByteArray notGzip = "plain text, not gzip at all\n";
    struct Case
    {
        const char *name;
        QByteArray source; // empty name: no source file
        bool ok;
        QByteArray expected; // content of the destination when ok
    };
    const Case cases[] = {
        {"whole", gz, true, content},
        {"empty-stream", gzipOf(QByteArray()), true, QByteArray()},
        {"not-gzip", notGzip, true, notGzip},
        {"truncated", gz.left(gz.size() / 2), false, QByteArray()},
        {"missing", QByteArray(), false, QByteArray()},
    };
    for (const Case &c : cases) {
        const QString source = path(QStringLiteral("%1.gz").arg(QLatin1String(c.name)));
        const QString destination = path(QStringLiteral("%1.out").arg(QLatin1String(c.name)));
        if (qstrcmp(c.name, "missing") != 0) {
            ASSERT_TRUE(writeFile(source, c.source));
        }
        QStringList lines;
        m_Journal.clear();
        FileUnpackTaskSpecification_zip task(&m_Journal, source, destination, nullptr, 1.0);
        EXPECT_EQ(runTask(&task, &lines), c.ok) << c.name;
        if (c.ok) {
            EXPECT_TRUE(lines.isEmpty()) << c.name;
            EXPECT_EQ(readFile(destination), c.expected) << c.name;
            EXPECT_EQ(m_Journal.size(), 1) << c.name;
        } else {
            EXPECT_EQ(lines,
                      QStringList{
                          QStringLiteral("Could not unzip '%1' to '%2'").arg(source, destination)})
                << c.name;
            EXPECT_FALSE(QFileInfo::exists(destination)) << c.name;
            EXPECT_TRUE(m_Journal.isEmpty()) << c.name;
        }
    }
}

TEST_F(SlowFileOpTest, PatchFailuresShowOneLineAndLogTheEngineStatus)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("old")), "old content"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("new")), "untouched"));
    // Magic 7696195 and version 20110216 as varints, then no body.
    const QByteArray header = QByteArray::fromHex("c3ded50388b7cb09");
    struct Case
    {
        const char *name;
        QByteArray patch;
        int status;
        QString reason; // the extra debug line, if any
    };
    const Case cases[] = {
        {"wrong-magic", QByteArray("not a patch"), 5, QStringLiteral("Not an ensemble patch")},
        {"wrong-version", header.left(4) + QByteArray::fromHex("01"), 6,
         QStringLiteral("Wrong version patch")},
        // This build stops after the header: status 2 has no reason line.
        {"header-only", header, 2, QString()},
    };
    for (const Case &c : cases) {
        const QString patch = path(QLatin1String(c.name));
        ASSERT_TRUE(writeFile(patch, c.patch));
        g_DebugLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
        QStringList lines;
        FileTaskSpecification_patch task(&m_Journal, path(QStringLiteral("old")), patch,
                                         path(QStringLiteral("new")), nullptr, 1.0);
        const bool ok = runTask(&task, &lines);
        qInstallMessageHandler(previous);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_EQ(lines,
                  QStringList{QStringLiteral("Could not patch '%1' to '%2'")
                                  .arg(path(QStringLiteral("old")), path(QStringLiteral("new")))})
            << c.name;
        const int at = g_DebugLines.indexOf(
            QRegularExpression(QStringLiteral("ApplyEnsemblePatch status = %1 .*").arg(c.status)));
        ASSERT_GE(at, 0) << c.name << g_DebugLines.join(QLatin1Char('\n'));
        if (!c.reason.isEmpty()) {
            EXPECT_EQ(g_DebugLines.value(at + 1), c.reason) << c.name;
        } else {
            EXPECT_EQ(g_DebugLines.value(at + 1), QStringLiteral("Patch result false")) << c.name;
        }
        EXPECT_EQ(readFile(path(QStringLiteral("new"))), QByteArray("untouched")) << c.name;
        EXPECT_TRUE(m_Journal.isEmpty());
    }
}

} // namespace
