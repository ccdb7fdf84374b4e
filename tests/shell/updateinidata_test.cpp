#include "shell/updateinidata.h"

#include "qtprinters.h"
#include "testsandbox.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class UpdateIniDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_SessionDir.isValid());
        QFile::remove(UpdateIniData::installIniPath());
    }
    void TearDown() override { QFile::remove(UpdateIniData::installIniPath()); }

    void writeInstallIni(const QByteArray &text)
    {
        ASSERT_TRUE(TestSandbox::writeFile(UpdateIniData::installIniPath(), text));
    }

    QTemporaryDir m_SessionDir;
};

TEST_F(UpdateIniDataTest, RoundTrip)
{
    const QString dir = m_SessionDir.path();
    ASSERT_TRUE(UpdateIniData::modify(4711, dir, QStringLiteral("/opt/quorvex client"),
                                      QStringLiteral("update_linux_amd64")));
    int version = 0;
    QString type, readDir, qvxdir;
    ASSERT_TRUE(UpdateIniData::get(&version, &type, &readDir, &qvxdir));
    EXPECT_EQ(version, 4711);
    EXPECT_EQ(type, QStringLiteral("update_linux_amd64"));
    EXPECT_EQ(readDir, dir);
    EXPECT_EQ(qvxdir, QStringLiteral("/opt/quorvex client"));
    // With every output null it still tells whether the record is valid.
    EXPECT_TRUE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(UpdateIniDataTest, ModifyKeepsTheOtherGroups)
{
    writeInstallIni("[Channel]\nbeta=true\n\n[update]\nstreams=3\n");
    ASSERT_TRUE(UpdateIniData::modify(5, m_SessionDir.path(), QStringLiteral("/i"),
                                      QStringLiteral("client_linux_amd64")));
    QSettings settings(UpdateIniData::installIniPath(), QSettings::IniFormat);
    EXPECT_TRUE(settings.value(QStringLiteral("Channel/beta")).toBool());
    EXPECT_EQ(settings.value(QStringLiteral("update/streams")).toInt(), 3);
}

TEST_F(UpdateIniDataTest, InvalidRecordsChangeNoOutput)
{
    const QString dir = m_SessionDir.path();
    const QByteArray valid = "version=12\ndir=" + dir.toUtf8() + "\nqvxdir=/i\ntype=t\n";
    const struct
    {
        const char *name;
        QByteArray ini;
    } cases[] = {
        {"no file", QByteArray()},
        {"no record", "[update]\nstreams=2\n"},
        {"version abc", "[current]\nversion=abc\ndir=" + dir.toUtf8() + "\nqvxdir=/i\ntype=t\n"},
        {"no version", "[current]\ndir=" + dir.toUtf8() + "\nqvxdir=/i\ntype=t\n"},
        {"empty type", "[current]\nversion=12\ndir=" + dir.toUtf8() + "\nqvxdir=/i\ntype=\n"},
        {"empty dir", "[current]\nversion=12\ndir=\nqvxdir=/i\ntype=t\n"},
        {"dir gone", "[current]\nversion=12\ndir=" + dir.toUtf8() + "/gone\nqvxdir=/i\ntype=t\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(UpdateIniData::installIniPath());
        if (!c.ini.isNull())
            writeInstallIni(c.ini);
        int version = -1;
        QString type = QStringLiteral("keep"), readDir = QStringLiteral("keep"),
                qvxdir = QStringLiteral("keep");
        EXPECT_FALSE(UpdateIniData::get(&version, &type, &readDir, &qvxdir));
        EXPECT_EQ(version, -1);
        EXPECT_EQ(type, QStringLiteral("keep"));
        EXPECT_EQ(readDir, QStringLiteral("keep"));
        EXPECT_EQ(qvxdir, QStringLiteral("keep"));
    }
    // The same record with its dir present is valid: the table above differs
    // from it in one thing each.
    writeInstallIni("[current]\n" + valid);
    EXPECT_TRUE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(UpdateIniDataTest, ModifyTempIniForcesTheClientType)
{
    ASSERT_TRUE(UpdateIniData::modify(88, m_SessionDir.path(), QStringLiteral("/opt/q"),
                                      QStringLiteral("update_linux_amd64")));
    QTemporaryDir newUpdaterDir;
    ASSERT_TRUE(UpdateIniData::modifyTempIni(newUpdaterDir.path()));

    QSettings copy(newUpdaterDir.path() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    copy.beginGroup(QStringLiteral("current"));
    EXPECT_EQ(copy.value(QStringLiteral("version")).toInt(), 88);
    EXPECT_EQ(copy.value(QStringLiteral("dir")).toString(), m_SessionDir.path());
    EXPECT_EQ(copy.value(QStringLiteral("qvxdir")).toString(), QStringLiteral("/opt/q"));
    EXPECT_EQ(copy.value(QStringLiteral("type")).toString(), QStringLiteral("client_linux_amd64"));
}

TEST_F(UpdateIniDataTest, ModifyTempIniNeedsAValidRecord)
{
    QTemporaryDir newUpdaterDir;
    EXPECT_FALSE(UpdateIniData::modifyTempIni(newUpdaterDir.path()));
    EXPECT_FALSE(QFile::exists(newUpdaterDir.path() + QStringLiteral("/update.ini")));
}

TEST_F(UpdateIniDataTest, WriteFailureIsReported)
{
    // A directory where the file should be cannot be written, not even by root.
    ASSERT_TRUE(QDir().mkpath(m_SessionDir.path() + QStringLiteral("/blocked/update.ini")));
    EXPECT_TRUE(
        UpdateIniData::modify(1, m_SessionDir.path(), QStringLiteral("/i"), QStringLiteral("t")));
    EXPECT_FALSE(UpdateIniData::modifyTempIni(m_SessionDir.path() + QStringLiteral("/blocked")));
}

} // namespace
