#include "logcapture.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/bytesinkset.h"
#include "qvpatch/checksum.h"
#include "qvpatch/lzmaioout.h"
#include "qvpatch/package.h"
#include "qvpatch/packagewriter.h"

#include "testsandbox.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace qvpatch;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMagic = 132781929;

Bytes sinkBytes(const ByteSink &sink)
{
    return Bytes(sink.data(), sink.data() + sink.length());
}

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes lzma2Block(const Bytes &content)
{
    ByteSink sink;
    writeLzma2Block(content.data(), content.size(), &sink);
    return sinkBytes(sink);
}

Bytes package(uint32_t magic, uint32_t checksum, uint32_t directive, const Bytes &body)
{
    ByteSink sink;
    sink.writeU32(magic);
    sink.writeU32(checksum);
    sink.writeU32(directive);
    sink.writeBytes(body.data(), body.size());
    return sinkBytes(sink);
}

uint32_t checksumOf(const Bytes &bytes)
{
    return engineChecksum(bytes.data(), bytes.size());
}

// A serialized stream set of the given streams.
Bytes streamSet(const std::vector<Bytes> &streams)
{
    ByteSink sink;
    sink.writeU32(20090218);
    sink.writeU32(uint32_t(streams.size()));
    for (const Bytes &s : streams)
        sink.writeU32(uint32_t(s.size()));
    for (const Bytes &s : streams)
        sink.writeBytes(s.data(), s.size());
    return sinkBytes(sink);
}

Bytes emptyStreamSet()
{
    ByteSinkSet set;
    ByteSink sink;
    set.serializeTo(&sink);
    return sinkBytes(sink);
}

Bytes damagedBlock(const Bytes &content)
{
    Bytes block = lzma2Block(content);
    block.resize(block.size() - 2);
    return block;
}

class PackageTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_Dir.isValid()); }

    QString path(const char *name) const { return m_Dir.filePath(QString::fromLatin1(name)); }

    QString writePackage(const Bytes &bytes) const
    {
        const QString p = path("file._lzma2_");
        TestSandbox::writeFile(
            p, QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())));
        return p;
    }

    static bool decode(const QString &packagePath, const QString &destination)
    {
        return decodePackageFile(QFile::encodeName(packagePath).constData(),
                                 QFile::encodeName(destination).constData());
    }

    QTemporaryDir m_Dir;
};

struct FailureCase
{
    const char *expected; // the decoder's own message, logged last
    bool detailFirst;     // a lower layer logs its own message before it
    std::function<Bytes()> package;
};

// In the order the decoder checks them. Each package also carries the faults
// that later checks would find, so the first failing check must be the one
// that reports.
std::vector<FailureCase> failureCases()
{
    const Bytes content = bytesOf("content of the file");
    const uint32_t wrong = checksumOf(content) ^ 0x10;
    return {
        {"could not read lzma header", false,
         [] {
             return Bytes{0xE9, 0xAE, 0xA8, 0x3F, 0x05};
         }},
        {"not lzma file", false,
         [=] { return package(kMagic + 1, wrong, 7, damagedBlock(content)); }},
        {"Unknown preprocessing dirrective", false,
         [=] { return package(kMagic, wrong, 0, damagedBlock(content)); }},
        {"Unknown preprocessing dirrective", false,
         [=] { return package(kMagic, wrong, 3, lzma2Block(content)); }},
        {"could not decompress file", true,
         [=] { return package(kMagic, wrong, 1, damagedBlock(content)); }},
        {"could not decompress file", true,
         [=] { return package(kMagic, wrong, 2, damagedBlock(content)); }},
        {"could not init dif_and_dis set", false,
         [=] { return package(kMagic, wrong, 2, lzma2Block(bytesOf("not a stream set"))); }},
        {"dis_and_diff too small", false,
         [=] { return package(kMagic, wrong, 2, lzma2Block(streamSet({emptyStreamSet()}))); }},
        {"could not init program_source set", false,
         [=] {
             return package(kMagic, wrong, 2,
                            lzma2Block(streamSet({bytesOf("no set"), emptyStreamSet(), {}})));
         }},
        {"could not read encoded program", false,
         [=] {
             return package(kMagic, wrong, 2,
                            lzma2Block(streamSet({emptyStreamSet(), bytesOf("diff")})));
         }},
        {"crc mismatch", false, [=] { return package(kMagic, wrong, 1, lzma2Block(content)); }},
    };
}

TEST_F(PackageTest, EachFailureReportsItsMessageAndLeavesTheDestinationAlone)
{
    const QString destination = path("destination");
    const QByteArray previous("the installed version");
    for (const FailureCase &c : failureCases()) {
        ASSERT_TRUE(TestSandbox::writeFile(destination, previous));
        const QString packagePath = writePackage(c.package());
        LogCapture log;
        EXPECT_FALSE(decode(packagePath, destination)) << c.expected;
        ASSERT_EQ(log.messages.size(), c.detailFirst ? 2u : 1u) << c.expected;
        EXPECT_EQ(log.messages.back(), c.expected);
        if (c.detailFirst) {
            EXPECT_EQ(log.messages[0].rfind("Error uncompressing data ", 0), 0u) << log.messages[0];
        }
        for (int level : log.levels)
            EXPECT_EQ(level, LogLevel_ERROR);
        EXPECT_EQ(TestSandbox::readFile(destination), previous) << c.expected;
    }
}

TEST_F(PackageTest, MissingOrEmptyPackageCannotBeOpened)
{
    ASSERT_TRUE(TestSandbox::writeFile(path("empty"), QByteArray()));
    for (const char *name : {"missing", "empty"}) {
        LogCapture log;
        EXPECT_FALSE(decode(path(name), path("out")));
        EXPECT_EQ(log.messages, std::vector<std::string>{"could not open lzma file"});
        EXPECT_FALSE(QFile::exists(path("out")));
    }
}

TEST_F(PackageTest, UnwritableDestinationIsReported)
{
    const Bytes content = bytesOf("abc");
    const QString packagePath =
        writePackage(package(kMagic, checksumOf(content), 1, lzma2Block(content)));
    LogCapture log;
    EXPECT_FALSE(decode(packagePath, path("no/such/dir/out")));
    EXPECT_EQ(log.messages, std::vector<std::string>{"could not write output file"});
}

TEST_F(PackageTest, EmptyContentCreatesAnEmptyFile)
{
    const Bytes bytes = package(kMagic, 0xFFFFFFFFu, 1, lzma2Block({}));
    const QString destination = path("empty-out");
    LogCapture log;
    ASSERT_TRUE(decode(writePackage(bytes), destination));
    EXPECT_TRUE(log.messages.empty());
    ASSERT_TRUE(QFile::exists(destination));
    EXPECT_EQ(QFile(destination).size(), 0);
}

TEST_F(PackageTest, WrittenPackagesDecodeAndTrailingBytesDoNotMatter)
{
    std::mt19937 random(3);
    Bytes content(600000);
    for (uint8_t &b : content)
        b = static_cast<uint8_t>(random() % 13);
    ByteSink written;
    ASSERT_TRUE(writePlainPackage(content.data(), content.size(), &written));
    Bytes bytes = sinkBytes(written);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0xE9, 0xAE, 0xA8, 0x3F}));
    bytes.insert(bytes.end(), {1, 2, 3});
    const QString destination = path("content");
    ASSERT_TRUE(TestSandbox::writeFile(destination, QByteArray("old and longer than nothing")));
    ASSERT_TRUE(decode(writePackage(bytes), destination));
    const QByteArray decoded = TestSandbox::readFile(destination);
    EXPECT_EQ(Bytes(decoded.begin(), decoded.end()), content);
}

} // namespace
