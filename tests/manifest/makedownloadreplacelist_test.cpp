// The planner over real files: a product ini in T, an installation in I.

#include "manifest/makedownloadreplacelisttaskspecification.h"
#include "manifest/productini.h"
#include "manifest/rsaverifier.h"
#include "shell/configuration.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qtprinters.h"

namespace {

QString sha512(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha512).toHex());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray newContent("the new program, version 2\n");
const QByteArray oldContent("the old program, version 1\n");
const QByteArray otherContent("a program nobody released\n");
const QByteArray packageBytes("pretend package bytes");
const QByteArray patchBytes("pretend patch bytes");
const QByteArray patch2Bytes("another pretend patch");

// A planner run over one temporary installation.
class Planner : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RsaVerifier::initCrypto(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_Temp.isValid() && m_Install.isValid());
        setMode(1);
        m_Config.m_InstallDir = m_Install.path();
        m_Config.m_TempDir = m_Temp.path();
    }

    void setMode(int mode) { m_Config.m_UpdateMode = mode; }
    QString tempPath(const QString &name) const
    {
        return m_Config.m_TempDir + QLatin1Char('/') + name;
    }
    QString installPath(const QString &name) const
    {
        return m_Install.path() + QLatin1Char('/') + name;
    }

    void writeIni(const QByteArray &text)
    {
        ASSERT_TRUE(writeFile(tempPath(productIniName(m_Config.m_UpdateMode)), text));
    }

    bool plan()
    {
        MakeDownloadReplaceListFunc func(&m_Config, &m_Plan);
        QObject::connect(&func, &ASyncFunc::message,
                         [this](const QString &text) { m_Messages.append(text); });
        QObject::connect(&func, &ASyncFunc::progress,
                         [this](qreal value) { m_Progress.append(value); });
        return func.run();
    }

    // A 5-field package line for bin/app.
    static QByteArray packageLine()
    {
        return "bin/app._lzma2_=" + sha512(packageBytes).toLatin1() +
               "::" + QByteArray::number(packageBytes.size()) +
               "::" + sha512(newContent).toLatin1() + "::" + QByteArray::number(newContent.size()) +
               "::bin/app\n";
    }
    static QByteArray patchLine(const char *name, const QByteArray &patch, const QByteArray &source)
    {
        return QByteArray(name) + "=" + sha512(patch).toLatin1() +
               "::" + QByteArray::number(patch.size()) + "::" + sha512(source).toLatin1() +
               "::7::bin/app\n";
    }

    Configuration m_Config;
    UpdatePlan m_Plan;
    QStringList m_Messages;
    QList<qreal> m_Progress;
    QTemporaryDir m_Temp;
    QTemporaryDir m_Install;
};

// One row of the decision table for the file line of bin/app.
struct DecisionCase
{
    const char *name;
    int mode;
    const QByteArray *installed; // null: absent
    bool withPatch;              // a patch line from oldContent
    bool plainLine;              // a 2-field line for bin/app instead of the package line
    const QByteArray *inTemp;    // what T already holds under the download's name
    const char *download;        // expected download name, or "" for none
    bool replaced;
    bool patched;
    bool copiedToTemp;
};

class PlannerDecision : public Planner, public ::testing::WithParamInterface<DecisionCase>
{
};

TEST_P(PlannerDecision, FollowsTheTable)
{
    const DecisionCase &c = GetParam();
    setMode(c.mode);
    QByteArray ini = "[client]\n";
    if (c.plainLine)
        ini += "bin/app=" + sha512(newContent).toLatin1() +
               "::" + QByteArray::number(newContent.size()) + "\n";
    else
        ini += packageLine();
    if (c.withPatch)
        ini += patchLine("bin/app.v1_patch_", patchBytes, oldContent);
    writeIni(ini);
    if (c.installed) {
        ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/app")), *c.installed));
    }
    const QString downloadName = QLatin1String(c.download);
    const QString inTempName =
        c.plainLine ? QStringLiteral("bin/app") : QStringLiteral("bin/app._lzma2_");
    if (c.inTemp) {
        ASSERT_TRUE(writeFile(tempPath(inTempName), *c.inTemp));
    }

    ASSERT_TRUE(plan()) << m_Messages.join(QLatin1Char('\n'));

    if (downloadName.isEmpty()) {
        EXPECT_TRUE(m_Plan.downloads.isEmpty());
    } else {
        ASSERT_EQ(m_Plan.downloads.size(), 1);
        const DownloadEntry &d = m_Plan.downloads.first();
        EXPECT_EQ(d.section, QStringLiteral("client"));
        EXPECT_EQ(d.fileName, downloadName);
        const QByteArray &expected = c.patched     ? patchBytes
                                     : c.plainLine ? newContent
                                                   : packageBytes;
        EXPECT_EQ(d.sha512, sha512(expected));
        EXPECT_EQ(d.size, quint64(expected.size()));
    }
    ASSERT_EQ(m_Plan.replaces.size(), c.replaced ? 1 : 0);
    if (c.replaced) {
        const ReplaceEntry &r = m_Plan.replaces.first();
        EXPECT_EQ(r.fileName,
                  c.plainLine ? QStringLiteral("bin/app") : QStringLiteral("bin/app._lzma2_"));
        EXPECT_EQ(r.dstName(), QStringLiteral("bin/app"));
        EXPECT_EQ(r.hasPatch(), c.patched);
        if (c.patched) {
            EXPECT_EQ(r.patchFile, QStringLiteral("bin/app.v1_patch_"));
        }
    }
    EXPECT_EQ(readFile(tempPath(QStringLiteral("bin/app"))) == newContent, c.copiedToTemp);
}

const DecisionCase decisionCases[] = {
    {"Absent", 1, nullptr, true, false, nullptr, "bin/app._lzma2_", true, false, false},
    {"CurrentClient", 1, &newContent, true, false, nullptr, "", false, false, false},
    {"CurrentUpdaterIsCopied", 0, &newContent, false, false, nullptr, "", false, false, true},
    {"PatchMatches", 1, &oldContent, true, false, nullptr, "bin/app.v1_patch_", true, true, false},
    {"PatchMatchesUpdater", 0, &oldContent, true, false, nullptr, "bin/app.v1_patch_", true, true,
     false},
    {"Mismatch", 1, &otherContent, true, false, nullptr, "bin/app._lzma2_", true, false, false},
    {"PlainLineNeverPatched", 1, &oldContent, true, true, nullptr, "bin/app", true, false, false},
    {"PlainLineCurrent", 1, &newContent, false, true, nullptr, "", false, false, false},
    {"AlreadyInTemp", 1, nullptr, false, false, &packageBytes, "", true, false, false},
    {"WrongFileInTemp", 1, nullptr, false, false, &otherContent, "bin/app._lzma2_", true, false,
     false},
};

INSTANTIATE_TEST_SUITE_P(Table, PlannerDecision, ::testing::ValuesIn(decisionCases),
                         [](const ::testing::TestParamInfo<DecisionCase> &row) {
                             return std::string(row.param.name);
                         });

TEST_F(Planner, LaterPatchLineIsTriedFirst)
{
    // Both patches apply to the old file: the one read last wins.
    writeIni("[client]\n" + packageLine() + patchLine("bin/app.a_patch_", patchBytes, oldContent) +
             patchLine("bin/app.b_patch_", patch2Bytes, oldContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/app")), oldContent));
    ASSERT_TRUE(plan());
    ASSERT_EQ(m_Plan.downloads.size(), 1);
    EXPECT_EQ(m_Plan.downloads[0].fileName, QStringLiteral("bin/app.b_patch_"));
    EXPECT_EQ(m_Plan.downloads[0].sha512, sha512(patch2Bytes));
    EXPECT_EQ(m_Plan.replaces[0].patchFile, QStringLiteral("bin/app.b_patch_"));
}

TEST_F(Planner, FirstMatchingPatchWins)
{
    writeIni("[client]\n" + packageLine() + patchLine("bin/app.a_patch_", patchBytes, oldContent) +
             patchLine("bin/app.b_patch_", patch2Bytes, otherContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/app")), oldContent));
    ASSERT_TRUE(plan());
    ASSERT_EQ(m_Plan.downloads.size(), 1);
    EXPECT_EQ(m_Plan.downloads[0].fileName, QStringLiteral("bin/app.a_patch_"));
}

TEST_F(Planner, InvalidFileLineIsSkipped)
{
    writeIni("[client]\nbroken.txt=aa::1::2\n"
             "good.txt=" +
             sha512(newContent).toLatin1() + "::27\n");
    ASSERT_TRUE(plan());
    EXPECT_TRUE(m_Messages.contains(
        QStringLiteral("Warning: product ini contains invalid line in section client")));
    ASSERT_EQ(m_Plan.downloads.size(), 1);
    EXPECT_EQ(m_Plan.downloads[0].fileName, QStringLiteral("good.txt"));
    EXPECT_EQ(m_Plan.downloads[0].size, 27u);
}

TEST_F(Planner, InvalidPatchLineFailsThePlan)
{
    writeIni("[client]\n" + packageLine() + "bin/app.x_patch_=aa::1::bb::bin/app\n");
    EXPECT_FALSE(plan());
    EXPECT_TRUE(m_Messages.contains(
        QStringLiteral("Warning: product ini contains invalid line in section client")));
}

TEST_F(Planner, OnlyTopLevelKeysMeansNoFiles)
{
    writeIni("top=1::2\n[General]\nalso=1::2\n");
    EXPECT_FALSE(plan());
    EXPECT_EQ(m_Messages.last(), QStringLiteral("No files in product ini"));
}

TEST_F(Planner, MissingIniMeansNoFiles)
{
    EXPECT_FALSE(plan());
    EXPECT_EQ(m_Messages.last(), QStringLiteral("No files in product ini"));
}

// Names from the manifest that would leave T or I.
struct EscapeCase
{
    const char *name;
    const char *line;
    bool planFails;
};

class PlannerEscape : public Planner, public ::testing::WithParamInterface<EscapeCase>
{
};

TEST_P(PlannerEscape, IsAnInvalidLine)
{
    const QByteArray digest = sha512(newContent).toLatin1();
    QByteArray line = GetParam().line;
    line.replace("DIGEST", digest);
    // A valid line after it shows whether planning went on.
    setMode(0); // the updater mode also copies into T
    writeIni("[client]\n" + line + "\nzz_good.txt=" + digest + "::27\n");
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("x")), newContent));
    const bool ok = plan();
    EXPECT_EQ(ok, !GetParam().planFails);
    EXPECT_TRUE(m_Messages.contains(
        QStringLiteral("Warning: product ini contains invalid line in section client")))
        << m_Messages.join(QLatin1Char('\n'));
    if (ok) {
        ASSERT_EQ(m_Plan.downloads.size(), 1);
        EXPECT_EQ(m_Plan.downloads[0].fileName, QStringLiteral("zz_good.txt"));
        EXPECT_EQ(m_Plan.replaces.size(), 1);
    }
    EXPECT_FALSE(QFileInfo::exists(m_Temp.path() + QStringLiteral("/../x")));
}

const EscapeCase escapeCases[] = {
    {"DotDotKey", "..\\..\\evil=DIGEST::27", false},
    {"InnerDotDotKey", "a\\..\\..\\evil=DIGEST::27", false},
    {"DotDotTarget", "x._lzma2_=DIGEST::27::DIGEST::27::../x", false},
    {"AbsoluteTarget", "x._lzma2_=DIGEST::27::DIGEST::27::/tmp/x", false},
    {"DotDotPatchName", "..\\p_patch_=DIGEST::27::DIGEST::1::x", true},
};

INSTANTIATE_TEST_SUITE_P(M8, PlannerEscape, ::testing::ValuesIn(escapeCases),
                         [](const ::testing::TestParamInfo<EscapeCase> &row) {
                             return std::string(row.param.name);
                         });

TEST_F(Planner, InstallCommandOutsideTempIsSkipped)
{
    writeIni("[postinstall]\n..\\run.sh=linux64\ngood.sh=linux64\n");
    ASSERT_TRUE(plan());
    ASSERT_EQ(m_Plan.postInstalls.size(), 1);
    EXPECT_EQ(m_Plan.postInstalls[0].command, QStringLiteral("good.sh"));
    EXPECT_TRUE(m_Messages.contains(
        QStringLiteral("Warning: product ini contains invalid line in section postinstall")));
}

TEST_F(Planner, DeleteKinds)
{
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("olddir/inner/f")), "x"));
    for (const char *name : {"plain", "kind10", "kind11", "kind12", "kind13", "text", "kind9"})
        ASSERT_TRUE(writeFile(installPath(QLatin1String(name)), "x"));
    writeIni("[delete]\nolddir=2\nplain=0\nkind10=10\nkind11=11\nkind12=12\nkind13=13\n"
             "text=abc\nkind9=9\nmissing=2\n");
    ASSERT_TRUE(plan());
    QStringList planned;
    for (const DeleteEntry &entry : qAsConst(m_Plan.deletes))
        planned << entry.path + (entry.recursive ? QStringLiteral(" recursive") : QString());
    EXPECT_EQ(planned, (QStringList{QStringLiteral("kind12"), QStringLiteral("kind9"),
                                    QStringLiteral("olddir recursive"), QStringLiteral("plain"),
                                    QStringLiteral("text")}));
}

TEST_F(Planner, BackupOfACurrentFileIsDeleted)
{
    // An interrupted update replaced bin/app and died before removing its
    // backup and a staging file of an earlier attempt; doc.txt was never
    // touched and has neither.
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/app")), newContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/_old_app")), oldContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("bin/_new_app")), "half"));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("doc.txt")), newContent));
    const QByteArray lines = "[client]\n" + packageLine() +
                             "doc.txt=" + sha512(newContent).toLatin1() +
                             "::" + QByteArray::number(newContent.size()) + "\n";
    writeIni(lines);
    ASSERT_TRUE(plan());
    EXPECT_TRUE(m_Plan.replaces.isEmpty());
    ASSERT_EQ(m_Plan.deletes.size(), 2);
    EXPECT_EQ(m_Plan.deletes.at(0).path, QStringLiteral("bin/_old_app"));
    EXPECT_EQ(m_Plan.deletes.at(1).path, QStringLiteral("bin/_new_app"));
    EXPECT_FALSE(m_Plan.deletes.at(0).recursive);
    EXPECT_FALSE(m_Plan.deletes.at(1).recursive);

    // The updater's own session never deletes anything in the installation.
    setMode(0);
    m_Plan.clear();
    writeIni(lines);
    ASSERT_TRUE(plan());
    EXPECT_TRUE(m_Plan.deletes.isEmpty());
}

TEST_F(Planner, InstallCommands)
{
    writeIni("[postinstall]\n"
             "setup.sh=linux64::win32,--x::__QVX_DIR__/conf.txt,optional\n"
             "twice.sh=linux64::LINUX64\n"
             "win.exe=win32\n"
             "empty.sh=\n"
             "required.sh=linux64,a::b,anything\n"
             "[preinstall]\n"
             "pre.sh=linux64,__QVX_DIR__\n");
    ASSERT_TRUE(plan());
    ASSERT_EQ(m_Plan.postInstalls.size(), 4);
    EXPECT_EQ(m_Plan.postInstalls[0].command, QStringLiteral("required.sh"));
    EXPECT_TRUE(m_Plan.postInstalls[0].required);
    EXPECT_EQ(m_Plan.postInstalls[0].args, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(m_Plan.postInstalls[1].command, QStringLiteral("setup.sh"));
    EXPECT_FALSE(m_Plan.postInstalls[1].required);
    EXPECT_EQ(m_Plan.postInstalls[1].args,
              (QStringList{QStringLiteral("--x"), m_Install.path() + QStringLiteral("/conf.txt")}));
    EXPECT_EQ(m_Plan.postInstalls[2].command, QStringLiteral("twice.sh"));
    EXPECT_EQ(m_Plan.postInstalls[3].command, QStringLiteral("twice.sh"));
    EXPECT_TRUE(m_Plan.postInstalls[3].args.isEmpty());
    ASSERT_EQ(m_Plan.preInstalls.size(), 1);
    EXPECT_EQ(m_Plan.preInstalls[0].args, QStringList{m_Install.path()});
}

TEST_F(Planner, CurrentInstallProgramsAreCopiedIntoTemp)
{
    // Commands start their program from T, where only changed files arrive.
    const auto line = [](const char *name, const QByteArray &content) {
        return QByteArray(name) + "=" + sha512(content).toLatin1() +
               "::" + QByteArray::number(content.size()) + "\n";
    };
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("tools/post.sh")), newContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("pre.sh")), newContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("changed.sh")), oldContent));
    ASSERT_TRUE(writeFile(installPath(QStringLiteral("unlisted.sh")), newContent));
    writeIni("[client]\n" + line("tools/post.sh", newContent) + line("pre.sh", newContent) +
             line("changed.sh", newContent) +
             "[postinstall]\ntools/post.sh=linux64\nchanged.sh=linux64\nunlisted.sh=linux64\n"
             "[preinstall]\npre.sh=linux64\n");
    ASSERT_TRUE(plan());
    EXPECT_EQ(readFile(tempPath(QStringLiteral("tools/post.sh"))), newContent);
    EXPECT_EQ(readFile(tempPath(QStringLiteral("pre.sh"))), newContent);
    // Downloaded, not copied: the installed one is the old program.
    ASSERT_EQ(m_Plan.downloads.size(), 1);
    EXPECT_EQ(m_Plan.downloads.at(0).fileName, QStringLiteral("changed.sh"));
    EXPECT_FALSE(QFileInfo::exists(tempPath(QStringLiteral("changed.sh"))));
    // Not a file of the release: nothing vouches for the installed copy.
    EXPECT_FALSE(QFileInfo::exists(tempPath(QStringLiteral("unlisted.sh"))));
}

TEST_F(Planner, ProgressCountsFileAndDeleteLines)
{
    // Five keys in all; the patch and command lines do not advance progress.
    writeIni("[client]\na.txt=00::1\nb.txt=00::1\nb.txt.x_patch_=00::1::00::0::b.txt\n"
             "[delete]\nnothing=0\n[postinstall]\nrun.sh=linux64\n");
    ASSERT_TRUE(plan());
    EXPECT_EQ(m_Progress, (QList<qreal>{0.2, 0.4, 0.6}));
}

TEST_F(Planner, TaskReplacesTargetOnlyOnSuccess)
{
    UpdatePlan target;
    target.deletes.append(DeleteEntry{QStringLiteral("kept"), false});
    {
        writeIni("[client]\nbroken_patch_=1\n");
        MakeDownloadReplaceListTaskSpecification task(&m_Config, &target, nullptr, 0.05);
        QSignalSpy canceled(&task, SIGNAL(canceled(TaskSpecification *)));
        task.execute();
        ASSERT_TRUE(canceled.wait(10000));
        ASSERT_EQ(target.deletes.size(), 1);
    }
    QTemporaryDir freshTemp; // a new path, so no cached copy of the old ini is read
    m_Config.m_TempDir = freshTemp.path();
    writeIni("[client]\na.txt=00::1\n");
    MakeDownloadReplaceListTaskSpecification task(&m_Config, &target, nullptr, 0.05);
    QSignalSpy finished(&task, SIGNAL(finished(TaskSpecification *)));
    task.execute();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(target.deletes.isEmpty());
    ASSERT_EQ(target.downloads.size(), 1);
    EXPECT_EQ(target.downloads[0].fileName, QStringLiteral("a.txt"));
}

} // namespace
