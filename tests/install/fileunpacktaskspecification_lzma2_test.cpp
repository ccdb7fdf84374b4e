// The package unpack task: journal records, failure line, untouched output.

#include "install/fileunpacktaskspecification_lzma2.h"
#include "qvpatch/bytesink.h"
#include "qvpatch/packagewriter.h"
#include "tasks/rollback.h"
#include "testsandbox.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "qtprinters.h"

namespace {

class UnpackTask : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        qvpatch::ByteSink package;
        ASSERT_TRUE(
            qvpatch::writePlainPackage(reinterpret_cast<const uint8_t *>(m_Content.constData()),
                                       std::size_t(m_Content.size()), &package));
        m_Package =
            QByteArray(reinterpret_cast<const char *>(package.data()), int(package.length()));
    }

    QString path(const char *name) const { return m_Dir.filePath(QLatin1String(name)); }

    // Runs the task to its end; true when it finished.
    bool run(FileUnpackTaskSpecification_lzma2 &task, QStringList *messages)
    {
        QSignalSpy finished(&task, SIGNAL(finished(TaskSpecification *)));
        QSignalSpy canceled(&task, SIGNAL(canceled(TaskSpecification *)));
        QSignalSpy texts(&task, SIGNAL(message(QString)));
        task.execute();
        const bool ended =
            QTest::qWaitFor([&]() { return !finished.isEmpty() || !canceled.isEmpty(); }, 10000);
        EXPECT_TRUE(ended);
        for (const QList<QVariant> &args : texts)
            *messages << args.value(0).toString();
        return !finished.isEmpty();
    }

    QTemporaryDir m_Dir;
    QByteArray m_Content = QByteArray("content of the packed file\n").repeated(500);
    QByteArray m_Package;
};

TEST_F(UnpackTask, JournalsTheOutputOnce)
{
    ASSERT_TRUE(TestSandbox::writeFile(path("a._lzma2_"), m_Package));
    RollbackDataList journal;
    FileUnpackTaskSpecification_lzma2 task(&journal, path("a._lzma2_"), path("a"), nullptr, 1.0);
    QStringList messages;
    ASSERT_TRUE(run(task, &messages));
    EXPECT_EQ(TestSandbox::readFile(path("a")), m_Content);
    ASSERT_EQ(journal.size(), 1);
    EXPECT_EQ(journal[0].m_Op, int(RollbackData::FILE_CREATE));
    EXPECT_EQ(journal[0].m_Path, path("a"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(UnpackTask, WithoutJournalRecordsNothing)
{
    ASSERT_TRUE(TestSandbox::writeFile(path("a._lzma2_"), m_Package));
    FileUnpackTaskSpecification_lzma2 task(nullptr, path("a._lzma2_"), path("a"), nullptr, 1.0);
    QStringList messages;
    ASSERT_TRUE(run(task, &messages));
    EXPECT_EQ(TestSandbox::readFile(path("a")), m_Content);
}

TEST_F(UnpackTask, CorruptPackageLeavesTheDestinationAlone)
{
    QByteArray corrupt = m_Package;
    corrupt[corrupt.size() - 3] = char(corrupt[corrupt.size() - 3] ^ 0x40);
    for (const QByteArray &bad : {corrupt, m_Package.left(m_Package.size() / 2), QByteArray()}) {
        ASSERT_TRUE(TestSandbox::writeFile(path("a._lzma2_"), bad));
        ASSERT_TRUE(TestSandbox::writeFile(path("a"), "installed before"));
        RollbackDataList journal;
        FileUnpackTaskSpecification_lzma2 task(&journal, path("a._lzma2_"), path("a"), nullptr,
                                               1.0);
        QStringList messages;
        EXPECT_FALSE(run(task, &messages));
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED);
        EXPECT_EQ(
            messages,
            QStringList{
                QStringLiteral("Could not unpack '%1' to '%2'").arg(path("a._lzma2_"), path("a"))});
        EXPECT_EQ(TestSandbox::readFile(path("a")), QByteArray("installed before"));
        EXPECT_TRUE(journal.isEmpty());
    }
}

} // namespace
