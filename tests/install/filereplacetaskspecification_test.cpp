// Replacing installed files on real directories: one file at a time, then
// whole lists with a failure in the middle, which must leave the installation
// exactly as it was (contents, permission bits, directories).

#include "install/filereplacelisttaskspecification.h"
#include "install/filereplacetaskspecification.h"
#include "installtesthelpers.h"
#include "manifest/rsaverifier.h"
#include "shell/configuration.h"
#include "tasks/rollback.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

class FileReplaceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RsaVerifier::initCrypto(); }

    void SetUp() override
    {
        m_Config.m_TempDir = m_Temp.path();
        m_Config.m_InstallDir = m_Install.path();
    }

    QString temp(const QString &relative) const
    {
        return m_Temp.path() + QLatin1Char('/') + relative;
    }
    QString installed(const QString &relative) const
    {
        return m_Install.path() + QLatin1Char('/') + relative;
    }

    // Publishes content for installation at target in the given form and
    // returns the plan entry, as the download step would leave it in T.
    enum Form
    {
        Package,
        Gzip,
        Plain
    };
    ReplaceEntry publish(const QString &target, const QByteArray &content, Form form)
    {
        ReplaceEntry entry;
        entry.section = QStringLiteral("client");
        if (form == Plain) {
            entry.fileName = target;
            EXPECT_TRUE(writeFile(temp(target), content));
            return entry;
        }
        entry.fileName =
            target + (form == Package ? QStringLiteral("._lzma2_") : QStringLiteral(".gz"));
        EXPECT_TRUE(
            writeFile(temp(entry.fileName), form == Package ? package(content) : gzip(content)));
        entry.sha512 = sha512Hex(content);
        entry.size = quint64(content.size());
        entry.targetName = target;
        return entry;
    }

    QTemporaryDir m_Temp;
    QTemporaryDir m_Install;
    Configuration m_Config;
};

TEST_F(FileReplaceTest, EachFormReplacesKeepsTheModeAndJournalsTheBackup)
{
    struct Case
    {
        const char *target;
        Form form;
        bool existed;
    };
    const Case cases[] = {
        {"pkg/existing.dat", Package, true}, {"pkg/new.dat", Package, false},
        {"gz/existing.txt", Gzip, true},     {"gz/new.txt", Gzip, false},
        {"plain/existing", Plain, true},     {"plain/new", Plain, false},
    };
    for (const Case &c : cases) {
        const QString target = QLatin1String(c.target);
        const QByteArray content = randomBytes(30000, quint32(qHash(target)));
        if (c.existed) {
            ASSERT_TRUE(writeFile(installed(target), "previous version", mode600));
        } else {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(installed(target)).path()));
        }
        RollbackDataList journal;
        FileReplaceTaskSpecification task(publish(target, content, c.form), nullptr, &journal,
                                          &m_Config, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        ASSERT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED)
            << c.target << run.messageTexts().join(QLatin1Char('\n'));
        EXPECT_EQ(readFile(installed(target)), content) << c.target;
        const QString backup = QFileInfo(installed(target)).path() + QStringLiteral("/_old_") +
                               QFileInfo(target).fileName();
        if (c.existed) {
            EXPECT_EQ(QFileInfo(installed(target)).permissions(), mode600) << c.target;
            EXPECT_EQ(readFile(backup), QByteArray("previous version")) << c.target;
            ASSERT_EQ(journal.size(), 2) << c.target;
            EXPECT_EQ(journal[0].m_Op, int(RollbackData::FILE_RENAME));
            EXPECT_EQ(journal[1].m_Op, int(RollbackData::FILE_CREATE));
        } else {
            EXPECT_FALSE(QFileInfo::exists(backup)) << c.target;
            ASSERT_EQ(journal.size(), 1) << c.target;
            EXPECT_EQ(journal[0].m_Op, int(RollbackData::FILE_CREATE));
        }
        // Undoing what the task handed up brings the earlier state back.
        EXPECT_TRUE(journal.rollback(nullptr));
        if (c.existed) {
            EXPECT_EQ(readFile(installed(target)), QByteArray("previous version")) << c.target;
        } else {
            EXPECT_FALSE(QFileInfo::exists(installed(target))) << c.target;
        }
        EXPECT_FALSE(QFileInfo::exists(backup)) << c.target;
    }
}

TEST_F(FileReplaceTest, DigestMismatchRestoresTheInstalledFile)
{
    for (const Form form : {Package, Gzip}) {
        const QString target = form == Package ? QStringLiteral("a.bin") : QStringLiteral("b.bin");
        ASSERT_TRUE(writeFile(installed(target), "installed", mode600));
        ReplaceEntry entry = publish(target, "new content", form);
        entry.sha512 = sha512Hex("something else");
        RollbackDataList journal;
        FileReplaceTaskSpecification task(entry, nullptr, &journal, &m_Config, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED);
        EXPECT_TRUE(run.messageTexts().contains(
            QStringLiteral("Signature check failed for %1").arg(installed(target))))
            << run.messageTexts().join(QLatin1Char('\n'));
        EXPECT_TRUE(journal.isEmpty());
        const Tree after = snapshot(m_Install.path());
        ASSERT_EQ(after.size(), 1 + (form == Gzip ? 1 : 0));
        EXPECT_EQ(readFile(installed(target)), QByteArray("installed"));
        EXPECT_EQ(QFileInfo(installed(target)).permissions(), mode600);
    }
}

// What a process killed during a replacement leaves behind, and what the
// next replacement of the same file must make of it: the installed name only
// ever holds a whole file, a backup whose installed name is gone is the
// version to restore, and a staging file is never installed.
TEST_F(FileReplaceTest, ContinuesFromWhatAKilledReplacementLeft)
{
    struct Case
    {
        const char *name;
        bool installed;       // a whole file under the installed name
        bool backup;          // "_old_" + name
        bool staging;         // a half-written "_new_" + name
        bool succeeds;        // else the digest check fails
        const char *restored; // what undo must leave under the installed name
    };
    const Case cases[] = {
        {"moved aside, killed while writing", false, true, true, true, "backup"},
        {"moved aside, killed while writing, then fails", false, true, true, false, "backup"},
        {"moved aside, killed before writing", false, true, false, true, "backup"},
        {"killed before moving aside", true, false, true, true, "installed"},
        {"stale backup beside a whole file", true, true, false, false, "installed"},
    };
    int i = 0;
    for (const Case &c : cases) {
        const QString target = QStringLiteral("lib/libf%1.so.1").arg(i++);
        const QString backup =
            installed(QStringLiteral("lib/_old_") + QFileInfo(target).fileName());
        const QString staging =
            installed(QStringLiteral("lib/_new_") + QFileInfo(target).fileName());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(installed(target)).path()));
        if (c.installed) {
            ASSERT_TRUE(writeFile(installed(target), "installed", mode600));
        }
        if (c.backup) {
            ASSERT_TRUE(writeFile(backup, "backup", mode644));
        }
        if (c.staging) {
            ASSERT_TRUE(writeFile(staging, "half writ"));
        }
        const QByteArray content = randomBytes(5000, quint32(i));
        ReplaceEntry entry = publish(target, content, Package);
        if (!c.succeeds)
            entry.sha512 = sha512Hex("something else");
        RollbackDataList journal;
        FileReplaceTaskSpecification task(entry, nullptr, &journal, &m_Config, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run()) << c.name;
        EXPECT_FALSE(QFileInfo::exists(staging)) << c.name;
        const QFileDevice::Permissions restoredMode =
            QByteArray(c.restored) == "backup" ? mode644 : mode600;
        if (c.succeeds) {
            ASSERT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED)
                << c.name << run.messageTexts().join(QLatin1Char('\n'));
            EXPECT_EQ(readFile(installed(target)), content) << c.name;
            // A shared library gets the executable flag, whatever it replaced.
            EXPECT_EQ(QFileInfo(installed(target)).permissions(), mode777) << c.name;
            EXPECT_EQ(readFile(backup), QByteArray(c.restored)) << c.name;
            ASSERT_EQ(journal.size(), 2) << c.name;
            EXPECT_EQ(journal[0].m_Op, int(RollbackData::FILE_RENAME));
            EXPECT_EQ(journal[1].m_Op, int(RollbackData::FILE_CREATE));
            EXPECT_EQ(journal[1].m_Path, installed(target));
            EXPECT_TRUE(journal.rollback(nullptr)) << c.name;
        } else {
            EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED) << c.name;
            EXPECT_TRUE(journal.isEmpty()) << c.name;
        }
        // Undone, the earlier whole version is back under its name, with its
        // mode, and nothing of ours is left beside it.
        EXPECT_EQ(readFile(installed(target)), QByteArray(c.restored)) << c.name;
        EXPECT_EQ(QFileInfo(installed(target)).permissions(), restoredMode) << c.name;
        EXPECT_FALSE(QFileInfo::exists(backup)) << c.name;
        EXPECT_FALSE(QFileInfo::exists(staging)) << c.name;
    }
}

// While the new version is written and checked, the installed name holds
// nothing at all (the earlier version is aside): a kill at that moment can
// never leave a partial file under it.
TEST_F(FileReplaceTest, InstalledNameNeverShowsAnUncheckedFile)
{
    const QString target = QStringLiteral("big.dat");
    ASSERT_TRUE(writeFile(installed(target), "installed", mode600));
    ReplaceEntry entry = publish(target, randomBytes(3000000, 7), Gzip);
    entry.sha512 = sha512Hex("something else");
    RollbackDataList journal;
    FileReplaceTaskSpecification task(entry, nullptr, &journal, &m_Config, nullptr, 1.0);
    TaskRun run(&task);
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &task, [&] {
        const QByteArray now = readFile(installed(target));
        if (!now.isEmpty() && now != "installed" && !seen.contains(QString::number(now.size())))
            seen << QString::number(now.size());
    });
    poll.start(0);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED);
    EXPECT_EQ(seen, QStringList());
    EXPECT_EQ(readFile(installed(target)), QByteArray("installed"));
    EXPECT_EQ(snapshot(m_Install.path()).size(), 1);
}

TEST_F(FileReplaceTest, ExecutableFlagFollowsTheInstalledName)
{
    struct Case
    {
        const char *target;
        bool executable;
    };
    const Case cases[] = {
        {"update", true},     {"lib/libx.so.0", true},  {"bin/qvxclient_linux_amd64", true},
        {"update.sh", false}, {"lib/libx.so.2", false}, {"lib/libx.so.1.2", false}};
    for (const Case &c : cases) {
        const QString target = QLatin1String(c.target);
        ASSERT_TRUE(writeFile(installed(target), "old", mode644));
        RollbackDataList journal;
        FileReplaceTaskSpecification task(publish(target, "new", Gzip), nullptr, &journal,
                                          &m_Config, nullptr, 1.0);
        TaskRun run(&task);
        ASSERT_TRUE(run.run());
        ASSERT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED) << c.target;
        EXPECT_EQ(QFileInfo(installed(target)).permissions(), c.executable ? mode777 : mode644)
            << c.target;
    }
}

// A list of many files, a third of them replacing installed ones, in nested
// directories of which some must be created, in all three forms.
class ReplaceListTest : public FileReplaceTest
{
protected:
    QList<ReplaceEntry> makeList(int n, QMap<QString, QByteArray> *expected)
    {
        QList<ReplaceEntry> list;
        for (int i = 0; i < n; ++i) {
            const QString target = QStringLiteral("d%1/sub%2/f%3.bin").arg(i % 4).arg(i % 3).arg(i);
            const QByteArray content = randomBytes(2000 + 37 * i, quint32(i + 1));
            if (i % 4 == 0) {
                EXPECT_TRUE(writeFile(installed(target), "old " + QByteArray::number(i),
                                      i % 2 ? mode600 : mode644));
            }
            list << publish(target, content, Form(i % 3));
            expected->insert(target, content);
        }
        return list;
    }
};

TEST_F(ReplaceListTest, SuccessInstallsEverythingAndDropsTheBackups)
{
    ASSERT_TRUE(writeFile(installed(QStringLiteral("untouched.txt")), "stays"));
    QMap<QString, QByteArray> expected;
    QList<ReplaceEntry> list = makeList(30, &expected);
    FileReplaceListTaskSpecification task(&list, nullptr, &m_Config, nullptr, 1.0);
    TaskRun run(&task);
    ASSERT_TRUE(run.run(60000));
    ASSERT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED)
        << run.messageTexts().join(QLatin1Char('\n'));
    EXPECT_EQ(run.messageTexts().value(0), QStringLiteral("Starting file updates"));
    QMap<QString, QByteArray> files;
    for (auto it = expected.begin(); it != expected.end(); ++it)
        files.insert(it.key(), readFile(installed(it.key())));
    EXPECT_EQ(files, expected);
    const Tree after = snapshot(m_Install.path());
    for (auto it = after.begin(); it != after.end(); ++it)
        EXPECT_FALSE(QFileInfo(it.key()).fileName().startsWith(QLatin1String("_old_"))) << it.key();
    // The changes are kept: a reset afterwards undoes nothing.
    task.reset();
    EXPECT_EQ(readFile(installed(list.first().dstName())), expected.value(list.first().dstName()));
}

TEST_F(ReplaceListTest, FailureInTheMiddleLeavesTheInstallationAsItWas)
{
    // One entry fails in the middle while others are done, running or
    // pending.
    enum Fault
    {
        CorruptPackage,
        WrongDigest,
        Cancel
    };
    for (const Fault fault : {CorruptPackage, WrongDigest, Cancel}) {
        QTemporaryDir install;
        m_Config.m_InstallDir = install.path();
        ASSERT_TRUE(writeFile(install.path() + QStringLiteral("/d0/keep.txt"), "kept", mode600));
        QList<ReplaceEntry> list;
        for (int i = 0; i < 45; ++i) {
            const QString target = QStringLiteral("d%1/sub%2/f%3.bin").arg(i % 4).arg(i % 3).arg(i);
            const QByteArray content = randomBytes(20000 + 37 * i, quint32(i + 1));
            if (i % 4 == 0) {
                ASSERT_TRUE(writeFile(install.path() + QLatin1Char('/') + target,
                                      "old " + QByteArray::number(i), i % 2 ? mode600 : mode644));
            }
            list << publish(target, content, Form(i % 3));
        }
        const Tree before = snapshot(install.path());
        if (fault == CorruptPackage) {
            // Entry 24 is a package replacing an installed file.
            QByteArray bytes = readFile(temp(list[24].fileName));
            bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x10);
            ASSERT_TRUE(writeFile(temp(list[24].fileName), bytes));
        } else if (fault == WrongDigest) {
            list[25].sha512 = sha512Hex("not this");
        }
        FileReplaceListTaskSpecification task(&list, nullptr, &m_Config, nullptr, 1.0);
        TaskRun run(&task);
        int started = 0;
        QObject::connect(&task, &TaskSpecification::message, &task, [&](const QString &text) {
            if (fault == Cancel && text.startsWith(QLatin1String("add/replace")) && ++started == 20)
                task.cancel();
        });
        ASSERT_TRUE(run.run(60000));
        EXPECT_EQ(task.m_TaskState, fault == Cancel ? TaskSpecification::TASK_CANCELED
                                                    : TaskSpecification::TASK_FAILED);
        EXPECT_TRUE(run.messageTexts().contains(QStringLiteral("rolling back file updates")));
        // Some replacements had completed before the failure.
        EXPECT_GE(run.messageTexts().filter(QStringLiteral("add/replace")).size(), 20);
        EXPECT_EQ(differences(before, snapshot(install.path())), QStringList()) << int(fault);
    }
}

} // namespace
