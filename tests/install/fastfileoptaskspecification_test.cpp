// The quick file steps on real directories: directory creation with its
// journal, deletion, rename, and the delete list.

#include "install/dircreatetaskspecification.h"
#include "install/filedeletelisttaskspecification.h"
#include "install/filedeletetaskspecification.h"
#include "install/filerenametaskspecification.h"
#include "installtesthelpers.h"
#include "shell/configuration.h"
#include "tasks/rollback.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

class FastFileOpTest : public ::testing::Test
{
protected:
    QString path(const QString &relative) const
    {
        return m_Dir.path() + QLatin1Char('/') + relative;
    }
    QTemporaryDir m_Dir;
};

TEST_F(FastFileOpTest, CreatesMissingLevelsOutermostFirstAndUndoesInnermostFirst)
{
    ASSERT_TRUE(QDir().mkdir(path(QStringLiteral("a"))));
    RollbackDataList journal;
    DirCreateTaskSpecification task(path(QStringLiteral("a/b/c")), &journal, nullptr, 1.0);
    TaskRun run(&task);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_TRUE(run.messageTexts().isEmpty());
    ASSERT_EQ(journal.size(), 2);
    EXPECT_EQ(journal[0].m_Op, int(RollbackData::DIR_CREATE));
    EXPECT_EQ(journal[0].m_Path, path(QStringLiteral("a/b")));
    EXPECT_EQ(journal[1].m_Path, path(QStringLiteral("a/b/c")));

    // An existing directory: success, nothing recorded.
    DirCreateTaskSpecification again(path(QStringLiteral("a/b")), &journal, nullptr, 1.0);
    TaskRun againRun(&again);
    ASSERT_TRUE(againRun.run());
    EXPECT_EQ(again.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(journal.size(), 2);

    EXPECT_TRUE(journal.rollback(nullptr));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("a/b"))));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("a"))).isDir());
}

TEST_F(FastFileOpTest, DirectoryCreationFailures)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("file")), "x"));
    struct Case
    {
        QString path;
        QString line;
    };
    const QString blocked = path(QStringLiteral("file/sub/dir"));
    const Case cases[] = {
        // An ancestor that is a file is named, not the requested path.
        {blocked, QStringLiteral("Could not create dir '%1' because it already exists and is not "
                                 "a dir")
                      .arg(path(QStringLiteral("file")))},
        {QStringLiteral("bare-name-not-there"), QStringLiteral("Could not create dir %1")},
    };
    for (const Case &c : cases) {
        RollbackDataList journal;
        DirCreateTaskSpecification task(c.path, &journal, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED) << c.path;
        EXPECT_EQ(run.messageTexts(),
                  QStringList{c.line.contains(QLatin1String("%1")) ? c.line.arg(c.path) : c.line});
        EXPECT_TRUE(journal.isEmpty());
    }
}

TEST_F(FastFileOpTest, DeleteCases)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("full/keep")), "x"));
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("top/mid/empty"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("tree/a/b/file")), "x"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("plain")), "x"));
    struct Case
    {
        bool mustSucceed;
        QString relative;
        bool recursive;
        TaskSpecification::TaskState state;
        QString line; // %1 is the path
        bool goneAfter;
    };
    const Case cases[] = {
        {false, QStringLiteral("missing"), false, TaskSpecification::TASK_FINISHED, QString(),
         true},
        {true, QStringLiteral("missing"), false, TaskSpecification::TASK_FAILED,
         QStringLiteral("Could not delete '%1'"), true},
        {true, QStringLiteral("plain"), false, TaskSpecification::TASK_FINISHED,
         QStringLiteral("Deleted file '%1'"), true},
        {false, QStringLiteral("full"), false, TaskSpecification::TASK_FINISHED, QString(), false},
        {true, QStringLiteral("full"), false, TaskSpecification::TASK_FAILED,
         QStringLiteral("Could not delete '%1'"), false},
        {true, QStringLiteral("top/mid/empty"), false, TaskSpecification::TASK_FINISHED,
         QStringLiteral("Deleted directory '%1'"), true},
        {true, QStringLiteral("tree"), true, TaskSpecification::TASK_FINISHED,
         QStringLiteral("Recursively deleted directory '%1'"), true},
    };
    for (const Case &c : cases) {
        const QString target = path(c.relative);
        FileDeleteTaskSpecification task(c.mustSucceed, target, c.recursive, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(task.m_TaskState, c.state) << c.relative;
        EXPECT_EQ(run.messageTexts(),
                  c.line.isEmpty() ? QStringList() : QStringList{c.line.arg(target)})
            << c.relative;
        EXPECT_EQ(!QFileInfo::exists(target), c.goneAfter) << c.relative;
    }
    // Removing the empty leaf also removed the parents it left empty.
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("top"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("full/keep"))));
}

TEST_F(FastFileOpTest, RenameIsJournalledAndNeverOverwrites)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("old")), "old"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("taken")), "taken"));
    RollbackDataList journal;
    FileRenameTaskSpecification onto(path(QStringLiteral("old")), path(QStringLiteral("taken")),
                                     &journal, nullptr, 1.0);
    TaskRun ontoRun(&onto);
    ASSERT_TRUE(ontoRun.run());
    EXPECT_EQ(onto.m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(ontoRun.messageTexts(),
              QStringList{QStringLiteral("Could not rename '%1' to '%2'")
                              .arg(path(QStringLiteral("old")), path(QStringLiteral("taken")))});
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(readFile(path(QStringLiteral("taken"))), QByteArray("taken"));

    FileRenameTaskSpecification rename(path(QStringLiteral("old")), path(QStringLiteral("dir/new")),
                                       &journal, nullptr, 1.0);
    TaskRun run(&rename);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(rename.m_TaskState, TaskSpecification::TASK_FINISHED);
    ASSERT_EQ(journal.size(), 1);
    EXPECT_EQ(journal[0].m_Op, int(RollbackData::FILE_RENAME));
    EXPECT_EQ(journal[0].m_Path, path(QStringLiteral("dir/new")));
    EXPECT_EQ(journal[0].m_OldPath, path(QStringLiteral("old")));
    EXPECT_TRUE(journal.rollback(nullptr));
    EXPECT_EQ(readFile(path(QStringLiteral("old"))), QByteArray("old"));
}

TEST_F(FastFileOpTest, DeleteListJoinsToTheInstallationAndNeverFails)
{
    ASSERT_TRUE(writeFile(path(QStringLiteral("obsolete.txt")), "x"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("plugins/a/b")), "x"));
    ASSERT_TRUE(writeFile(path(QStringLiteral("full/keep")), "x"));
    QTemporaryDir elsewhere;
    const QString absolute = elsewhere.path() + QStringLiteral("/abs");
    ASSERT_TRUE(writeFile(absolute, "x"));
    Configuration config;
    config.m_InstallDir = m_Dir.path();
    QList<DeleteEntry> deletes{{QStringLiteral("obsolete.txt"), false},
                               {QStringLiteral("full"), false},
                               {QStringLiteral("plugins"), true},
                               {QStringLiteral("missing"), false},
                               {absolute, false}};
    FileDeleteListTaskSpecification list(&deletes, &config, nullptr, 1.0);
    TaskRun run(&list);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(list.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(run.messageTexts().value(0), QStringLiteral("Starting deleting files"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("obsolete.txt"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("plugins"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("full/keep"))));
    EXPECT_FALSE(QFileInfo::exists(absolute));

    QList<DeleteEntry> none;
    FileDeleteListTaskSpecification empty(&none, &config, nullptr, 1.0);
    TaskRun emptyRun(&empty);
    ASSERT_TRUE(emptyRun.run());
    EXPECT_EQ(empty.m_TaskState, TaskSpecification::TASK_FINISHED);
    EXPECT_EQ(emptyRun.messageTexts(), QStringList{QStringLiteral("Starting deleting files")});
}

} // namespace
