// qvxrelease build, checked with independent tools: sha512sum, gzip, openssl.

#include "testsandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qtprinters.h"

namespace {

struct Result
{
    int exitCode = -1;
    QByteArray output;
};

Result runProgram(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    Result result;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput() + process.readAllStandardError();
    return result;
}

Result build(const QStringList &args)
{
    return runProgram(QStringLiteral(QVX_RELEASE_TOOL),
                      QStringList{QStringLiteral("build")} + args);
}

bool put(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return TestSandbox::writeFile(path, bytes);
}

TEST(BuildCommand, OutputAgreesWithIndependentTools)
{
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    ASSERT_TRUE(
        put(tree + QStringLiteral("/bin/app"), QByteArray("binary\x01\x02", 8).repeated(999)));
    ASSERT_TRUE(put(tree + QStringLiteral("/lib/libq.so.5"), QByteArray("library").repeated(3000)));
    ASSERT_TRUE(put(tree + QStringLiteral("/notes.txt"), "notes\n"));
    ASSERT_TRUE(put(tree + QStringLiteral("/empty"), QByteArray()));
    const QString description = dir.filePath(QStringLiteral("release.txt"));
    ASSERT_TRUE(put(description, "gzip lib/*\nplain *.txt\ndelete old 2\n"));
    const QString channel = dir.filePath(QStringLiteral("channel"));
    const Result result =
        build({tree, channel, QStringLiteral("--key"), QStringLiteral(QVX_TEST_PRIVATE_KEY),
               QStringLiteral("--product"), QStringLiteral("updater"), QStringLiteral("--version"),
               QStringLiteral("12"), QStringLiteral("--input"), description});
    ASSERT_EQ(result.exitCode, 0) << result.output.toStdString();

    const QString release = channel + QStringLiteral("/12/");
    const QString ini = release + QStringLiteral("update_linux_amd64.ini");
    QSettings settings(ini, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("updater"));
    const QStringList keys = settings.allKeys();
    EXPECT_EQ(keys, (QStringList{QStringLiteral("bin/app._lzma2_"), QStringLiteral("empty._lzma2_"),
                                 QStringLiteral("lib/libq.so.5.gz"), QStringLiteral("notes.txt")}));
    for (const QString &key : keys) {
        const QStringList fields = settings.value(key).toString().split(QStringLiteral("::"));
        const QString published = release + QStringLiteral("updater/") + key;
        const Result sum = runProgram(QStringLiteral("sha512sum"), {published});
        EXPECT_EQ(sum.output.left(128), fields[0].toLatin1()) << key.toStdString();
        EXPECT_EQ(fields[1].toLongLong(), QFileInfo(published).size());
        if (fields.size() == 5) {
            const QString source = tree + QLatin1Char('/') + fields[4];
            EXPECT_EQ(runProgram(QStringLiteral("sha512sum"), {source}).output.left(128),
                      fields[2].toLatin1());
            EXPECT_EQ(fields[3].toLongLong(), QFileInfo(source).size());
        }
    }
    settings.endGroup();
    EXPECT_EQ(settings.value(QStringLiteral("delete/old")).toString(), QStringLiteral("2"));

    const Result gunzip =
        runProgram(QStringLiteral("gzip"),
                   {QStringLiteral("-dc"), release + QStringLiteral("updater/lib/libq.so.5.gz")});
    EXPECT_EQ(gunzip.output, QByteArray("library").repeated(3000));

    const QString digest = dir.filePath(QStringLiteral("ini.sha1"));
    ASSERT_EQ(runProgram(QStringLiteral("openssl"),
                         {QStringLiteral("dgst"), QStringLiteral("-sha1"),
                          QStringLiteral("-binary"), QStringLiteral("-out"), digest, ini})
                  .exitCode,
              0);
    const Result verify = runProgram(
        QStringLiteral("openssl"),
        {QStringLiteral("pkeyutl"), QStringLiteral("-verify"), QStringLiteral("-in"), digest,
         QStringLiteral("-sigfile"), ini + QStringLiteral(".sig"), QStringLiteral("-pubin"),
         QStringLiteral("-inkey"), QStringLiteral(QVX_TEST_PUBLIC_KEY), QStringLiteral("-keyform"),
         QStringLiteral("DER"), QStringLiteral("-pkeyopt"), QStringLiteral("rsa_padding_mode:pss"),
         QStringLiteral("-pkeyopt"), QStringLiteral("rsa_pss_saltlen:8"),
         QStringLiteral("-pkeyopt"), QStringLiteral("digest:sha1")});
    EXPECT_EQ(verify.exitCode, 0) << verify.output.toStdString();

    // The packed ini is the ini.
    const QString unpacked = dir.filePath(QStringLiteral("unpacked.ini"));
    EXPECT_EQ(runProgram(QStringLiteral(QVX_RELEASE_TOOL),
                         {QStringLiteral("unpack"), ini + QStringLiteral("._lzma2_"), unpacked})
                  .exitCode,
              0);
    EXPECT_EQ(TestSandbox::readFile(unpacked), TestSandbox::readFile(ini));
}

TEST(BuildCommand, RejectsWhatItCannotPublish)
{
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    const QString channel = dir.filePath(QStringLiteral("channel"));
    const QStringList common{tree,
                             channel,
                             QStringLiteral("--key"),
                             QStringLiteral(QVX_TEST_PRIVATE_KEY),
                             QStringLiteral("--product"),
                             QStringLiteral("client"),
                             QStringLiteral("--version"),
                             QStringLiteral("3")};
    ASSERT_TRUE(put(tree + QStringLiteral("/ok.txt"), "ok"));
    EXPECT_EQ(build({tree, channel}).exitCode, 2);
    EXPECT_EQ(build({tree, channel, QStringLiteral("--key"), QStringLiteral(QVX_TEST_PRIVATE_KEY),
                     QStringLiteral("--product"), QStringLiteral("server"),
                     QStringLiteral("--version"), QStringLiteral("3")})
                  .exitCode,
              2);
    EXPECT_EQ(build({tree, channel, QStringLiteral("--key"), QStringLiteral(QVX_TEST_PUBLIC_KEY),
                     QStringLiteral("--product"), QStringLiteral("client"),
                     QStringLiteral("--version"), QStringLiteral("3")})
                  .exitCode,
              1);
    for (const char *bad : {"with space.txt", "semi;colon", "x_patch_"}) {
        QTemporaryDir badTree;
        ASSERT_TRUE(put(badTree.filePath(QLatin1String(bad)), "x"));
        QStringList args = common;
        args[0] = badTree.path();
        EXPECT_EQ(build(args).exitCode, 1) << bad;
    }
    // Nothing of a rejected build looks like a release.
    EXPECT_FALSE(QFileInfo::exists(channel + QStringLiteral("/3/qvx_client_linux_amd64.ini")));
    EXPECT_EQ(build(common).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(channel + QStringLiteral("/3/qvx_client_linux_amd64.ini.sig")));
}

} // namespace
