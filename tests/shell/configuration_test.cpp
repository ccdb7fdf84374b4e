#include "shell/appglobals.h"
#include "shell/configuration.h"

#include "qtprinters.h"
#include "testsandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString installIni()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini");
}

QString configIni()
{
    return configDir() + QStringLiteral("update.ini");
}

// Each test starts with neither update.ini and leaves none behind.
class ConfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override { removeInis(); }
    void TearDown() override { removeInis(); }
    static void removeInis()
    {
        QFile::remove(installIni());
        QFile::remove(configIni());
    }
};

QStringList argv(std::initializer_list<const char *> args)
{
    QStringList list{QStringLiteral("update")};
    for (const char *arg : args)
        list << QString::fromUtf8(arg);
    return list;
}

struct CommandLineCase
{
    const char *name;
    QStringList args;
    bool accepted;
    int updateMode;
    QString clientType;
    int version;
    QString versionString;
    QString fatalError; // empty: none expected
};

class CommandLineTest : public ConfigurationTest,
                        public ::testing::WithParamInterface<CommandLineCase>
{
};

TEST_P(CommandLineTest, ParsesEveryForm)
{
    const CommandLineCase &c = GetParam();
    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);

    EXPECT_EQ(config.parseCommandLineOptions(c.args), c.accepted);
    if (c.fatalError.isEmpty()) {
        EXPECT_EQ(fatal.count(), 0);
    } else {
        ASSERT_EQ(fatal.count(), 1);
        EXPECT_EQ(fatal.at(0).at(0).toString(), c.fatalError);
    }
    if (!c.accepted)
        return;
    EXPECT_EQ(config.m_UpdateMode, c.updateMode);
    EXPECT_EQ(config.m_ClientType, c.clientType);
    EXPECT_EQ(config.m_ClientVersion, c.version);
    EXPECT_EQ(config.m_VersionString, c.versionString);
    // Ready only once the target version is known; otherwise the session waits
    // for the version server.
    EXPECT_EQ(config.m_Ready, c.version != 0);
    EXPECT_EQ(config.m_Channel, 0);
    EXPECT_EQ(AppGlobals::channelBaseUrl(), AppGlobals::defaultChannelBaseUrl());
}

const QString client = QStringLiteral("client_linux_amd64");
const QString updater = QStringLiteral("update_linux_amd64");

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"Empty", argv({}), true, 0, updater, 0, {}, {}},
        CommandLineCase{"TypeAndVersion",
                        argv({"client_linux_x86", "1234"}),
                        true,
                        0,
                        QStringLiteral("client_linux_x86"),
                        1234,
                        {},
                        {}},
        CommandLineCase{"StepTwoFull",
                        argv({"--clientupdate", "client_linux_amd64", "1234", "#"}),
                        true,
                        1,
                        client,
                        1234,
                        {},
                        {}},
        CommandLineCase{"StepTwoVersionString",
                        argv({"--clientupdate", "client_linux_amd64", "1234", "5.2 beta"}),
                        true,
                        1,
                        client,
                        1234,
                        QStringLiteral("5.2 beta"),
                        {}},
        CommandLineCase{"StepTwoAlone", argv({"--clientupdate"}), true, 1, client, 0, {}, {}},
        CommandLineCase{
            "StepTwoTypeOnly", argv({"--clientupdate", "custom_type"}), true, 1, client, 0, {}, {}},
        CommandLineCase{
            "NoUser", argv({"--nouser", "update_linux_amd64", "77"}), true, 0, updater, 77, {}, {}},
        CommandLineCase{"ClientUpdateIsCaseSensitive",
                        argv({"--ClientUpdate", "x", "5"}),
                        true,
                        0,
                        updater,
                        0,
                        {},
                        {}},
        CommandLineCase{"InvalidVersion",
                        argv({"client_linux_x86", "abc"}),
                        false,
                        0,
                        {},
                        0,
                        {},
                        QStringLiteral("Invalid version nr (abc)")},
        CommandLineCase{"InvalidVersionStepTwo",
                        argv({"--clientupdate", "client", "12x"}),
                        false,
                        1,
                        {},
                        0,
                        {},
                        QStringLiteral("Invalid version nr (12x)")},
        CommandLineCase{"ZeroVersion",
                        argv({"client_linux_x86", "0"}),
                        false,
                        0,
                        {},
                        0,
                        {},
                        QStringLiteral("Invalid version nr (0)")},
        CommandLineCase{"NegativeVersion",
                        argv({"client_linux_x86", "-5"}),
                        false,
                        0,
                        {},
                        0,
                        {},
                        QStringLiteral("Invalid version nr (-5)")},
        CommandLineCase{"OneArgument", argv({"client_linux_x86"}), true, 0, updater, 0, {}, {}},
        CommandLineCase{"FourPlainArguments", argv({"a", "1", "b"}), true, 0, updater, 0, {}, {}}),
    [](const ::testing::TestParamInfo<CommandLineCase> &row) { return row.param.name; });

TEST_F(ConfigurationTest, ParseClientArgsReportsWhatIsMissing)
{
    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    EXPECT_FALSE(config.parseClientArgs(argv({"--nouser"}), 2));
    EXPECT_FALSE(config.parseClientArgs(argv({"--nouser", "client"}), 2));
    ASSERT_EQ(fatal.count(), 2);
    EXPECT_EQ(fatal.at(0).at(0).toString(), QStringLiteral("No client type specified"));
    EXPECT_EQ(fatal.at(1).at(0).toString(), QStringLiteral("No client version specified"));
}

TEST_F(ConfigurationTest, AlphaChannelRevisionWinsOverTheCommandLine)
{
    TestSandbox::writeFile(configIni(),
                           "[Channel]\nalpha=http://alpha.example/rel\nalphaRevno=7\n");
    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    // The command-line version is not even parsed.
    ASSERT_TRUE(config.parseCommandLineOptions(argv({"client_linux_x86", "notanumber"})));
    EXPECT_EQ(fatal.count(), 0);
    EXPECT_EQ(config.m_Channel, 2);
    EXPECT_EQ(config.m_ClientVersion, 7);
    EXPECT_TRUE(config.m_Ready);
    EXPECT_EQ(AppGlobals::channelBaseUrl(), QStringLiteral("http://alpha.example/rel/"));
}

struct ChannelCase
{
    const char *name;
    const char *where; // "config", "install" or "none"
    QByteArray ini;
    int channel;
    int version;
    QString url; // empty: the default URL
};

class ChannelTest : public ConfigurationTest, public ::testing::WithParamInterface<ChannelCase>
{
};

TEST_P(ChannelTest, FindsTheChannel)
{
    const ChannelCase &c = GetParam();
    if (qstrcmp(c.where, "config") == 0)
        TestSandbox::writeFile(configIni(), c.ini);
    else if (qstrcmp(c.where, "install") == 0)
        TestSandbox::writeFile(installIni(), c.ini);

    Configuration config;
    config.m_ClientVersion = 99; // reset by every channel but alpha
    config.getUpdateChannel();
    EXPECT_EQ(config.m_Channel, c.channel);
    EXPECT_EQ(config.m_ClientVersion, c.version);
    EXPECT_EQ(AppGlobals::channelBaseUrl(),
              c.url.isEmpty() ? AppGlobals::defaultChannelBaseUrl() : c.url);
    EXPECT_TRUE(AppGlobals::channelBaseUrl().endsWith(QLatin1Char('/')));
}

INSTANTIATE_TEST_SUITE_P(
    Channels, ChannelTest,
    ::testing::Values(
        ChannelCase{"Neither", "none", {}, 0, 0, {}},
        ChannelCase{"ConfigStable", "config", "[Channel]\n", 0, 0, {}},
        ChannelCase{"ConfigBeta", "config", "[Channel]\nbeta=true\n", 1, 0, {}},
        ChannelCase{
            "InstallCapitalBeta", "install", "[Channel]\nbeta=false\nBeta=true\n", 1, 0, {}},
        ChannelCase{"InstallAlpha", "install",
                    "[Channel]\nalpha=http://127.0.0.1:9/a/\nalphaRevno=12\nbeta=true\n", 2, 12,
                    QStringLiteral("http://127.0.0.1:9/a/")},
        ChannelCase{"AlphaWithoutRevision", "config", "[Channel]\nalpha=http://h/x\n", 2, 0,
                    QStringLiteral("http://h/x/")},
        ChannelCase{"UnreadableBetaFallsBack", "config", "[Channel]\nbeta=\n", 0, 0, {}}),
    [](const ::testing::TestParamInfo<ChannelCase> &row) { return row.param.name; });

TEST_F(ConfigurationTest, ConfigIniIsLookedUpBeforeInstallIni)
{
    TestSandbox::writeFile(configIni(), "[Channel]\nbeta=true\n");
    TestSandbox::writeFile(installIni(), "[Channel]\nalpha=http://h/\nalphaRevno=3\n");
    Configuration config;
    config.getUpdateChannel();
    EXPECT_EQ(config.m_Channel, 1);
    EXPECT_EQ(config.m_ClientVersion, 0);
}

TEST_F(ConfigurationTest, ReadUpdateSettings)
{
    const struct
    {
        QByteArray ini;
        QString proxy;
        int streams;
    } cases[] = {
        {"", QString(), 6},
        {"[update]\nstreams=2\nproxy=http://proxy:3128\n", QStringLiteral("http://proxy:3128"), 2},
        {"[update]\nstreams=0\n", QString(), 6},
        {"[update]\nstreams=-3\n", QString(), 6},
        {"[update]\nstreams=lots\n", QString(), 6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ini.constData());
        TestSandbox::writeFile(installIni(), c.ini);
        Configuration config;
        config.readUpdateSettings();
        EXPECT_EQ(config.m_Proxy, c.proxy);
        EXPECT_EQ(config.m_Streams, c.streams);
    }
}

TEST_F(ConfigurationTest, CreateTempDirSkipsExistingDirectories)
{
    const QString base = QDir::tempPath() + QStringLiteral("/quorvex_temp_");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(QDir().mkpath(base + QString::number(i)));
    TestSandbox::writeFile(base + QStringLiteral("5"), "a file takes the name too");

    Configuration config;
    ASSERT_TRUE(config.initalizeStart(QString(), QString()));
    EXPECT_EQ(config.m_TempDir, base + QStringLiteral("6"));
    EXPECT_TRUE(QFileInfo(config.m_TempDir).isDir());
    EXPECT_EQ(config.m_InstallDir, QCoreApplication::applicationDirPath());

    for (int i = 0; i <= 6; ++i) {
        QDir(base + QString::number(i)).removeRecursively();
        QFile::remove(base + QString::number(i));
    }
}

TEST_F(ConfigurationTest, InitalizeStartKeepsGivenDirectories)
{
    Configuration config;
    ASSERT_TRUE(
        config.initalizeStart(QStringLiteral("/t/quorvex_temp_3"), QStringLiteral("/opt/q")));
    EXPECT_EQ(config.m_TempDir, QStringLiteral("/t/quorvex_temp_3"));
    EXPECT_EQ(config.m_InstallDir, QStringLiteral("/opt/q"));
}

TEST_F(ConfigurationTest, CreateTempDirFailures)
{
    const QString root = TestSandbox::root() + QStringLiteral("/tempdirs");
    // Every candidate name taken.
    const QString full = root + QStringLiteral("/full");
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(QDir().mkpath(full + QStringLiteral("/quorvex_temp_") + QString::number(i)));
    const struct
    {
        QString tmpdir;
        QString error;
    } cases[] = {
        {full, QStringLiteral("Unable to create temp directory.")},
        // Qt finds no temporary directory when TMPDIR names none.
        {root + QStringLiteral("/missing"), QStringLiteral("Unable to get temp directory.")},
    };
    const QByteArray saved = qgetenv("TMPDIR");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tmpdir);
        qputenv("TMPDIR", QFile::encodeName(c.tmpdir));
        Configuration config;
        QSignalSpy fatal(&config, &Configuration::fatalError);
        EXPECT_FALSE(config.initalizeStart(QString(), QString()));
        ASSERT_EQ(fatal.count(), 1);
        EXPECT_EQ(fatal.at(0).at(0).toString(), c.error);
        EXPECT_TRUE(config.m_TempDir.isEmpty());
    }
    qputenv("TMPDIR", saved);
    QDir(root).removeRecursively();
}

TEST(ConfigDirTest, FollowsTheEnvironment)
{
    const QByteArray saved = qgetenv("QVX_CONFIG_DIR");
    qputenv("QVX_CONFIG_DIR", "/some/where");
    EXPECT_EQ(configDir(), QStringLiteral("/some/where/"));
    qputenv("QVX_CONFIG_DIR", "/some/where/");
    EXPECT_EQ(configDir(), QStringLiteral("/some/where/"));
    qputenv("QVX_CONFIG_DIR", "");
    EXPECT_EQ(configDir(), QDir::homePath() + QStringLiteral("/.qvxclient/"));
    qputenv("QVX_CONFIG_DIR", saved);
}

TEST(DefaultClientTypeTest, DependsOnTheMode)
{
    EXPECT_EQ(defaultClientType(1), QStringLiteral("client_linux_amd64"));
    EXPECT_EQ(defaultClientType(0), QStringLiteral("update_linux_amd64"));
}

} // namespace
