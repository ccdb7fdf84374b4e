// Step one of an update: the new updater is built in T only, checked, made
// executable and given its update.ini and translations.

#include "install/updateselfunziptaskspecification.h"
#include "installtesthelpers.h"
#include "manifest/rsaverifier.h"
#include "shell/configuration.h"
#include "shell/updateinidata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qtprinters.h"

using namespace InstallTest;

namespace {

class SelfUnzipTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RsaVerifier::initCrypto(); }

    void SetUp() override
    {
        m_Config.m_UpdateMode = 0;
        m_Config.m_TempDir = m_Temp.path();
        m_Config.m_InstallDir = m_Install.path();
        ASSERT_TRUE(
            UpdateIniData::modify(7, m_Temp.path(), m_Install.path(), defaultClientType(0)));
        m_Translations = QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
        ASSERT_TRUE(writeFile(m_Translations + QStringLiteral("/update_de.qm"), "de"));
        ASSERT_TRUE(writeFile(m_Translations + QStringLiteral("/update_fr.qm"), "fr"));
        ASSERT_TRUE(writeFile(m_Translations + QStringLiteral("/qt_de.qm"), "qt"));
        // The installed updater, which must stay as it is.
        ASSERT_TRUE(
            writeFile(m_Install.path() + QStringLiteral("/update"), "old updater", mode755));
        ASSERT_TRUE(writeFile(m_Install.path() + QStringLiteral("/lib/libqvx.so.1"), "old lib"));
    }

    void TearDown() override
    {
        QDir(m_Translations).removeRecursively();
        QFile::remove(UpdateIniData::installIniPath());
    }

    QString temp(const QString &relative) const
    {
        return m_Temp.path() + QLatin1Char('/') + relative;
    }

    QList<ReplaceEntry> plan()
    {
        ReplaceEntry updater;
        updater.fileName = QStringLiteral("update._lzma2_");
        updater.targetName = QStringLiteral("update");
        updater.sha512 = sha512Hex(m_NewUpdater);
        EXPECT_TRUE(writeFile(temp(updater.fileName), package(m_NewUpdater)));
        ReplaceEntry lib;
        lib.fileName = QStringLiteral("lib/libqvx.so.1.gz");
        lib.targetName = QStringLiteral("lib/libqvx.so.1");
        lib.sha512 = sha512Hex(m_NewLib);
        EXPECT_TRUE(writeFile(temp(lib.fileName), gzip(m_NewLib)));
        // A plain line's download already lies in place.
        ReplaceEntry plain;
        plain.fileName = QStringLiteral("docs/readme.txt");
        EXPECT_TRUE(writeFile(temp(plain.fileName), "readme"));
        return {updater, lib, plain};
    }

    QTemporaryDir m_Temp;
    QTemporaryDir m_Install;
    Configuration m_Config;
    QString m_Translations;
    const QByteArray m_NewUpdater = randomBytes(40000, 11);
    const QByteArray m_NewLib = randomBytes(30000, 12);
};

TEST_F(SelfUnzipTest, BuildsTheNewUpdaterInTempOnly)
{
    const Tree installBefore = snapshot(m_Install.path());
    ASSERT_TRUE(writeFile(temp(QStringLiteral("translations/update_de.qm")), "already here"));
    QList<ReplaceEntry> list = plan();
    UpdateSelfUnzipTaskSpecification task(&list, &m_Config, nullptr, 0.4);
    TaskRun run(&task);
    ASSERT_TRUE(run.run());
    ASSERT_EQ(task.m_TaskState, TaskSpecification::TASK_FINISHED)
        << run.messageTexts().join(QLatin1Char('\n'));
    EXPECT_EQ(differences(installBefore, snapshot(m_Install.path())), QStringList());
    EXPECT_EQ(readFile(temp(QStringLiteral("update"))), m_NewUpdater);
    EXPECT_EQ(QFileInfo(temp(QStringLiteral("update"))).permissions(), mode777);
    EXPECT_EQ(readFile(temp(QStringLiteral("lib/libqvx.so.1"))), m_NewLib);
    EXPECT_EQ(readFile(temp(QStringLiteral("docs/readme.txt"))), QByteArray("readme"));

    QSettings ini(temp(QStringLiteral("update.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("current/type")).toString(), defaultClientType(1));
    EXPECT_EQ(ini.value(QStringLiteral("current/version")).toInt(), 7);
    EXPECT_EQ(ini.value(QStringLiteral("current/qvxdir")).toString(), m_Install.path());

    EXPECT_EQ(readFile(temp(QStringLiteral("translations/update_de.qm"))),
              QByteArray("already here"));
    EXPECT_EQ(readFile(temp(QStringLiteral("translations/update_fr.qm"))), QByteArray("fr"));
    EXPECT_FALSE(QFileInfo::exists(temp(QStringLiteral("translations/qt_de.qm"))));
}

TEST_F(SelfUnzipTest, FailuresEndTheTask)
{
    enum Fault
    {
        WrongDigest,    // an extracted file differs from the product ini
        CorruptPackage, // extraction fails
        PatchFails,     // patches cannot be applied by this build
        NoUpdateIni     // the temporary update.ini cannot be written
    };
    for (const Fault fault : {WrongDigest, CorruptPackage, PatchFails, NoUpdateIni}) {
        QDir(m_Temp.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_Temp.path()));
        ASSERT_TRUE(
            UpdateIniData::modify(7, m_Temp.path(), m_Install.path(), defaultClientType(0)));
        QList<ReplaceEntry> list = plan();
        QString line;
        if (fault == WrongDigest) {
            list[1].sha512 = sha512Hex("other");
            line = QStringLiteral("Signature check failed for %1")
                       .arg(temp(QStringLiteral("lib/libqvx.so.1")));
        } else if (fault == CorruptPackage) {
            ASSERT_TRUE(writeFile(temp(list[0].fileName), "not a package"));
            line = QStringLiteral("Could not unpack '%1' to '%2'")
                       .arg(temp(list[0].fileName), temp(QStringLiteral("update")));
        } else if (fault == PatchFails) {
            list[1].patchFile = QStringLiteral("lib/libqvx.so.1_patch_");
            ASSERT_TRUE(writeFile(temp(list[1].patchFile), "patch"));
            line = QStringLiteral("Could not patch '%1' to '%2'")
                       .arg(temp(QStringLiteral("lib/libqvx.so.1_old")),
                            temp(QStringLiteral("lib/libqvx.so.1")));
        } else {
            QFile::remove(UpdateIniData::installIniPath());
        }
        UpdateSelfUnzipTaskSpecification task(&list, &m_Config, nullptr, 0.4);
        TaskRun run(&task);
        ASSERT_TRUE(run.run()) << int(fault);
        EXPECT_EQ(task.m_TaskState, TaskSpecification::TASK_FAILED) << int(fault);
        if (fault == NoUpdateIni) {
            EXPECT_EQ(run.errorTexts(),
                      QStringList{QStringLiteral("Failed to write temp update.ini. The updater "
                                                 "does not seem to have the required write "
                                                 "permissions.")});
            EXPECT_FALSE(QFileInfo::exists(temp(QStringLiteral("update.ini"))));
        } else {
            EXPECT_TRUE(run.messageTexts().contains(line))
                << int(fault) << run.messageTexts().join(QLatin1Char('\n'));
            // The hand-over is still prepared, as after success.
            EXPECT_TRUE(QFileInfo::exists(temp(QStringLiteral("update.ini")))) << int(fault);
        }
        EXPECT_EQ(readFile(m_Install.path() + QStringLiteral("/update")),
                  QByteArray("old updater"));
    }
}

} // namespace
