#include "tasks/rollback.h"
#include "testsandbox.h"
#include "testtasks.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSandbox::readFile;
using TestSandbox::writeFile;

class Rollback : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_Dir.path() + QLatin1Char('/') + name; }
    QStringList messages() const
    {
        QStringList lines = m_Log.m_Lines;
        for (QString &line : lines)
            line.remove(0, int(qstrlen("message:")));
        return lines;
    }

    QTemporaryDir m_Dir;
    LeafTask m_Target{QStringLiteral("target"), LeafTask::Manual, nullptr, 1};
    SignalLog m_Log{&m_Target};
};

TEST_F(Rollback, PlaysTheJournalBackNewestFirst)
{
    // What an installation records: a new directory with a file in it, and an
    // installed file renamed aside before its new version was written.
    RollbackDataList journal;
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("sub")));
    journal.append(RollbackData(RollbackData::DIR_CREATE, path(QStringLiteral("sub/"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("sub/new.bin")), "new"));
    journal.append(RollbackData(RollbackData::FILE_CREATE, path(QStringLiteral("sub/new.bin"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("app")), "version 1"));
    ASSERT_TRUE(QFile::rename(path(QStringLiteral("app")), path(QStringLiteral("_old_app"))));
    journal.append(RollbackData(RollbackData::FILE_RENAME, path(QStringLiteral("app")),
                                path(QStringLiteral("_old_app"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("app")), "version 2"));
    journal.append(RollbackData(RollbackData::FILE_CREATE, path(QStringLiteral("app"))));

    EXPECT_TRUE(journal.rollback(&m_Target));
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(messages(), QStringList());
    EXPECT_EQ(readFile(path(QStringLiteral("app"))), QByteArray("version 1"));
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("app")});
}

TEST_F(Rollback, FailedUndoWarnsAndTheRestIsStillUndone)
{
    RollbackDataList journal;
    // Undone last: a directory that meanwhile holds someone else's file.
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("dir")));
    journal.append(RollbackData(RollbackData::DIR_CREATE, path(QStringLiteral("dir"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("dir/foreign")), "keep me"));
    // A rename whose old name is occupied again.
    ASSERT_TRUE(writeFile(path(QStringLiteral("renamed")), "moved"));
    journal.append(RollbackData(RollbackData::FILE_RENAME, path(QStringLiteral("original")),
                                path(QStringLiteral("renamed"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("original")), "newcomer"));
    // A created file that is gone already.
    journal.append(RollbackData(RollbackData::FILE_CREATE, path(QStringLiteral("vanished"))));
    // Undone first, and successfully.
    ASSERT_TRUE(writeFile(path(QStringLiteral("created")), "x"));
    journal.append(RollbackData(RollbackData::FILE_CREATE, path(QStringLiteral("created"))));

    EXPECT_FALSE(journal.rollback(&m_Target));
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(messages(),
              (QStringList{
                  QStringLiteral("warning: rollback create file %1 failed")
                      .arg(path(QStringLiteral("vanished"))),
                  QStringLiteral("warning: rollback rename %1 to %2 failed")
                      .arg(path(QStringLiteral("original")), path(QStringLiteral("renamed"))),
                  QStringLiteral("warning: rollback create dir %1 failed")
                      .arg(path(QStringLiteral("dir"))),
              }));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("created"))));
    EXPECT_EQ(readFile(path(QStringLiteral("renamed"))), QByteArray("moved"));
    EXPECT_EQ(readFile(path(QStringLiteral("original"))), QByteArray("newcomer"));
    EXPECT_EQ(readFile(path(QStringLiteral("dir/foreign"))), QByteArray("keep me"));

    // Played back once: a second call finds nothing to do.
    m_Log.m_Lines.clear();
    EXPECT_TRUE(journal.rollback(&m_Target));
    EXPECT_TRUE(m_Log.m_Lines.isEmpty());
}

TEST_F(Rollback, EmptyJournalSucceedsSilently)
{
    RollbackDataList journal;
    EXPECT_TRUE(journal.rollback(&m_Target));
    EXPECT_TRUE(m_Log.m_Lines.isEmpty());
}

QStringList g_warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
}

TEST_F(Rollback, WarningsNeedATargetWithAMessageSignal)
{
    RollbackData missing(RollbackData::FILE_CREATE, path(QStringLiteral("missing")));
    QObject plain;
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    const bool withoutTarget = missing.rollback(nullptr);
    const bool withPlainTarget = missing.rollback(&plain);
    qInstallMessageHandler(previous);
    EXPECT_FALSE(withoutTarget);
    EXPECT_FALSE(withPlainTarget);
    EXPECT_EQ(g_warnings.filter(QStringLiteral("message signal was not found")).size(), 1);
}

} // namespace
