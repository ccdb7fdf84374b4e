#include "qvpatch/bytesink.h"
#include "qvpatch/bytesinkset.h"
#include "qvpatch/bytesource.h"
#include "qvpatch/bytesourceset.h"
#include "qvpatch/checksum.h"
#include "qvpatch/mappedfile.h"

#include "testsandbox.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace qvpatch;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes sinkBytes(const ByteSink &sink)
{
    return Bytes(sink.data(), sink.data() + sink.length());
}

struct UnsignedVarint
{
    uint32_t value;
    Bytes bytes;
};

class UnsignedVarintTest : public testing::TestWithParam<UnsignedVarint>
{
};

TEST_P(UnsignedVarintTest, WritesMinimalFormAndReadsItBack)
{
    const UnsignedVarint &c = GetParam();
    ByteSink sink;
    ASSERT_TRUE(sink.writeU32(c.value));
    EXPECT_EQ(sinkBytes(sink), c.bytes);
    ByteSource source(c.bytes.data(), c.bytes.size());
    uint32_t read = 0;
    ASSERT_TRUE(source.readU32(&read));
    EXPECT_EQ(read, c.value);
    EXPECT_TRUE(source.consumed());
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnsignedVarintTest,
    testing::Values(UnsignedVarint{0, {0x00}}, UnsignedVarint{127, {0x7F}},
                    UnsignedVarint{128, {0x80, 0x01}}, UnsignedVarint{300, {0xAC, 0x02}},
                    UnsignedVarint{20090218, {0xEA, 0x9A, 0xCA, 0x09}},
                    UnsignedVarint{132781929, {0xE9, 0xAE, 0xA8, 0x3F}},
                    UnsignedVarint{0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

struct SignedVarint
{
    int32_t value;
    Bytes bytes;
};

class SignedVarintTest : public testing::TestWithParam<SignedVarint>
{
};

TEST_P(SignedVarintTest, ZigzagMapsSmallMagnitudesToShortForms)
{
    const SignedVarint &c = GetParam();
    ByteSink sink;
    ASSERT_TRUE(sink.writeS32(c.value));
    EXPECT_EQ(sinkBytes(sink), c.bytes);
    ByteSource source(c.bytes.data(), c.bytes.size());
    int32_t read = 0;
    ASSERT_TRUE(source.readS32(&read));
    EXPECT_EQ(read, c.value);
}

INSTANTIATE_TEST_SUITE_P(Values, SignedVarintTest,
                         testing::Values(SignedVarint{0, {0x00}}, SignedVarint{-1, {0x01}},
                                         SignedVarint{1, {0x02}}, SignedVarint{-64, {0x7F}},
                                         SignedVarint{64, {0x80, 0x01}},
                                         SignedVarint{INT32_MAX, {0xFE, 0xFF, 0xFF, 0xFF, 0x0F}},
                                         SignedVarint{INT32_MIN, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

TEST(ByteSourceTest, FifthVarintByteKeepsOnlyItsLowFourBits)
{
    const Bytes bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    ByteSource source(bytes.data(), bytes.size());
    uint32_t value = 0;
    ASSERT_TRUE(source.readU32(&value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(source.consumed());
}

TEST(ByteSourceTest, FailedReadsLeaveThePositionUnchanged)
{
    const Bytes continued = {0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
    const Bytes truncated = {0x80, 0x80};
    for (const Bytes &bytes : {continued, truncated}) {
        ByteSource source(bytes.data(), bytes.size());
        uint32_t u = 0;
        int32_t s = 0;
        EXPECT_FALSE(source.readU32(&u));
        EXPECT_FALSE(source.readS32(&s));
        EXPECT_EQ(source.remaining(), bytes.size());
    }
    const Bytes three = {1, 2, 3};
    ByteSource source(three.data(), three.size());
    uint8_t buffer[4] = {};
    EXPECT_FALSE(source.readBytes(buffer, 4));
    EXPECT_FALSE(source.skip(4));
    EXPECT_EQ(source.remaining(), 3u);
    EXPECT_TRUE(source.readBytes(buffer, 2));
    EXPECT_EQ(buffer[1], 2);
    EXPECT_TRUE(source.skip(1));
    EXPECT_TRUE(source.consumed());
}

TEST(ByteSinkTest, GrowsAsSpecifiedAndKeepsContents)
{
    ByteSink sink;
    EXPECT_TRUE(sink.writeBytes(nullptr, 0));
    EXPECT_EQ(sink.capacity(), 0u) << "an empty write allocates nothing";
    const uint8_t byte = 7;
    ASSERT_TRUE(sink.writeBytes(&byte, 1));
    EXPECT_EQ(sink.capacity(), 256u);
    Bytes block(300, 0xAB);
    ASSERT_TRUE(sink.writeBytes(block.data(), block.size()));
    EXPECT_EQ(sink.capacity(), 512u);
    EXPECT_EQ(sink.length(), 301u);
    EXPECT_EQ(sink.data()[0], 7);
    EXPECT_EQ(sink.data()[300], 0xAB);

    ByteSink reserved;
    ASSERT_TRUE(reserved.reserve(10));
    EXPECT_EQ(reserved.capacity(), 256u);
    ASSERT_TRUE(reserved.reserve(1000));
    EXPECT_EQ(reserved.capacity(), 1000u) << "a reservation allocates exactly what it asks";
    ASSERT_TRUE(reserved.reserve(20));
    EXPECT_EQ(reserved.capacity(), 1000u);
}

// Large buffers come from their own mappings; contents must survive every
// move between small and large blocks, growing through writes or reservations.
TEST(ByteSinkTest, KeepsContentsAcrossLargeBlocks)
{
    Bytes pattern(3 * 1024 * 1024 + 11);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<uint8_t>(i * 7 + i / 4099);
    ByteSink sink;
    for (std::size_t done = 0; done < pattern.size(); done += 65537) {
        const std::size_t n = std::min<std::size_t>(65537, pattern.size() - done);
        ASSERT_TRUE(sink.writeBytes(pattern.data() + done, n));
    }
    EXPECT_EQ(sinkBytes(sink), pattern);

    ByteSink reserved;
    ASSERT_TRUE(reserved.writeBytes(pattern.data(), 1000));
    ASSERT_TRUE(reserved.reserve(5 * 1024 * 1024));
    EXPECT_EQ(reserved.capacity(), 5u * 1024 * 1024);
    ASSERT_TRUE(reserved.writeBytes(pattern.data() + 1000, pattern.size() - 1000));
    ASSERT_TRUE(reserved.reserve(9 * 1024 * 1024));
    EXPECT_EQ(sinkBytes(reserved), pattern);
    reserved.release();
    EXPECT_EQ(reserved.data(), nullptr);
    ASSERT_TRUE(reserved.writeBytes(pattern.data(), 10));
    EXPECT_EQ(reserved.data()[9], pattern[9]);
}

TEST(ByteSinkTest, FailedStateIsPermanentAndFreesTheBuffer)
{
    ByteSink sink;
    const uint8_t byte = 1;
    ASSERT_TRUE(sink.writeBytes(&byte, 1));
    EXPECT_FALSE(sink.reserve(SIZE_MAX));
    EXPECT_TRUE(sink.failed());
    EXPECT_EQ(sink.length(), 0u);
    EXPECT_EQ(sink.data(), nullptr);
    EXPECT_FALSE(sink.writeBytes(&byte, 1));
    EXPECT_FALSE(sink.writeBytes(&byte, 0));
    EXPECT_FALSE(sink.reserve(1));
    ByteSink other;
    ASSERT_TRUE(other.writeBytes(&byte, 1));
    EXPECT_FALSE(sink.appendSink(other));
    EXPECT_EQ(other.length(), 0u) << "the donor is released either way";

    ByteSink overflowing;
    ASSERT_TRUE(overflowing.writeBytes(&byte, 1));
    EXPECT_FALSE(overflowing.writeBytes(&byte, SIZE_MAX));
}

TEST(ByteSinkTest, AppendMovesAndReleasesTheDonor)
{
    ByteSink a;
    ByteSink b;
    ASSERT_TRUE(a.writeU32(300));
    ASSERT_TRUE(b.writeS32(-1));
    ASSERT_TRUE(a.appendSink(b));
    EXPECT_EQ(sinkBytes(a), (Bytes{0xAC, 0x02, 0x01}));
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.capacity(), 0u);
    EXPECT_EQ(b.data(), nullptr);
}

TEST(ByteSinkDeathTest, SizeBeyondThirtyTwoBitsEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ByteSink sink;
    EXPECT_EXIT(sink.writeSize(std::size_t(1) << 32), testing::ExitedWithCode(1), "");
}

TEST(StreamSetTest, EmptySinkSetSerializesToTheFixedHeader)
{
    ByteSinkSet set;
    ByteSink out;
    ASSERT_TRUE(set.serializeTo(&out));
    Bytes expected = {0xEA, 0x9A, 0xCA, 0x09, 0x0A};
    expected.resize(15, 0x00);
    EXPECT_EQ(sinkBytes(out), expected);
}

TEST(StreamSetTest, SerializedStreamsReadBack)
{
    ByteSinkSet set;
    ASSERT_TRUE(set.stream(0).writeBytes("ab", 2));
    ASSERT_TRUE(set.stream(9).writeBytes("xyz", 3));
    ByteSink out;
    ASSERT_TRUE(out.writeBytes("P", 1)); // serialization appends
    ASSERT_TRUE(set.serializeTo(&out));
    EXPECT_EQ(set.stream(0).length(), 0u);

    ByteSourceSet read;
    ASSERT_TRUE(read.initFromBytes(out.data() + 1, out.length() - 1));
    ASSERT_EQ(read.count(), 10u);
    EXPECT_EQ(read.stream(0).remaining(), 2u);
    EXPECT_EQ(read.stream(0).next()[1], 'b');
    EXPECT_EQ(read.stream(9).remaining(), 3u);
    EXPECT_EQ(read.stream(9).next()[0], 'x');
    EXPECT_FALSE(read.allConsumed());
    read.stream(0).skip(2);
    read.stream(9).skip(3);
    EXPECT_TRUE(read.allConsumed());
}

TEST(StreamSetTest, InitFromBytesChecksTheHeaderExactly)
{
    struct Case
    {
        const char *name;
        Bytes bytes;
        bool valid;
    };
    const Case cases[] = {
        {"count 0, nothing after", {0xEA, 0x9A, 0xCA, 0x09, 0x00}, true},
        {"count 0, a byte after", {0xEA, 0x9A, 0xCA, 0x09, 0x00, 0x00}, false},
        {"two streams", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x02, 'a', 'b', 'c'}, true},
        {"sum one short", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x02, 'a', 'b'}, false},
        {"sum one beyond", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x02, 'a', 'b', 'c', 'd'}, false},
        {"count 11", {0xEA, 0x9A, 0xCA, 0x09, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"other version", {0xEB, 0x9A, 0xCA, 0x09, 0x00}, false},
        {"lengths missing", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01}, false},
        {"empty", {}, false},
    };
    for (const Case &c : cases) {
        ByteSourceSet set;
        EXPECT_EQ(set.initFromBytes(c.bytes.data(), c.bytes.size()), c.valid) << c.name;
    }
    ByteSourceSet empty;
    const Bytes zero = {0xEA, 0x9A, 0xCA, 0x09, 0x00};
    ASSERT_TRUE(empty.initFromBytes(zero.data(), zero.size()));
    EXPECT_EQ(empty.count(), 0u);
    EXPECT_TRUE(empty.allConsumed());
}

TEST(StreamSetTest, NestedSetsRoundTripInOrder)
{
    ByteSinkSet outer;
    ASSERT_TRUE(outer.stream(1).writeBytes("!", 1)); // already held by the outer stream
    ByteSinkSet first;
    ASSERT_TRUE(first.stream(0).writeBytes("A0", 2));
    ASSERT_TRUE(first.stream(2).writeBytes("A2", 2)); // stream 1 empty but counted
    ByteSinkSet empty;
    ByteSinkSet second;
    ASSERT_TRUE(second.stream(1).writeBytes("B1x", 3));
    ASSERT_TRUE(outer.writeNestedSet(&first));
    ASSERT_TRUE(outer.writeNestedSet(&empty));
    ASSERT_TRUE(outer.writeNestedSet(&second));
    EXPECT_EQ(first.stream(0).length(), 0u) << "inner streams are released";

    EXPECT_EQ(sinkBytes(outer.stream(0)),
              (Bytes{0x03, 0x02, 0x00, 0x02, 'A', '0', 0x00, 0x02, 0x00, 0x03}));
    ByteSink serialized;
    ASSERT_TRUE(outer.serializeTo(&serialized));
    ByteSourceSet read;
    ASSERT_TRUE(read.initFromBytes(serialized.data(), serialized.length()));
    ASSERT_TRUE(read.stream(1).skip(1));

    ByteSourceSet a;
    ByteSourceSet b;
    ByteSourceSet c;
    ASSERT_TRUE(read.readNestedSet(&a));
    ASSERT_TRUE(read.readNestedSet(&b));
    ASSERT_TRUE(read.readNestedSet(&c));
    EXPECT_EQ(a.count(), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(a.stream(0).next()), 2), "A0");
    EXPECT_EQ(a.stream(1).remaining(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(a.stream(2).next()), 2), "A2");
    EXPECT_TRUE(b.allConsumed());
    EXPECT_EQ(c.stream(0).remaining(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(c.stream(1).next()), 3), "B1x");
    EXPECT_TRUE(read.allConsumed());
    ByteSourceSet d;
    EXPECT_FALSE(read.readNestedSet(&d)) << "nothing left to read";
}

TEST(StreamSetTest, AllEmptyNestedSetWritesOneZeroByte)
{
    ByteSinkSet outer;
    ByteSinkSet inner;
    ASSERT_TRUE(outer.writeNestedSet(&inner));
    EXPECT_EQ(sinkBytes(outer.stream(0)), Bytes{0x00});
    for (std::size_t i = 1; i < 10; ++i)
        EXPECT_EQ(outer.stream(i).length(), 0u);
}

TEST(StreamSetTest, NestedSetBeyondTheOuterSetFails)
{
    struct Case
    {
        const char *name;
        Bytes bytes; // a serialized outer set
    };
    const Case cases[] = {
        // outer count 2, stream 0 says three inner streams
        {"more inner than outer streams",
         {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00}},
        {"eleven inner streams", {0xEA, 0x9A, 0xCA, 0x09, 0x01, 0x01, 0x0B}},
        // one inner stream of 5 bytes, only 2 present
        {"inner stream longer than outer",
         {0xEA, 0x9A, 0xCA, 0x09, 0x01, 0x04, 0x01, 0x05, 'a', 'b'}},
        {"no outer streams", {0xEA, 0x9A, 0xCA, 0x09, 0x00}},
    };
    for (const Case &c : cases) {
        ByteSourceSet outer;
        ASSERT_TRUE(outer.initFromBytes(c.bytes.data(), c.bytes.size())) << c.name;
        ByteSourceSet inner;
        EXPECT_FALSE(outer.readNestedSet(&inner)) << c.name;
    }
}

TEST(ChecksumTest, IsTheInvertedCrc32)
{
    EXPECT_EQ(engineChecksum(reinterpret_cast<const uint8_t *>("abc"), 3), 0xCADBBE3Du);
    EXPECT_EQ(engineChecksum(nullptr, 0), 0xFFFFFFFFu);
    std::mt19937 random(4);
    Bytes bytes(100000);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(random());
    for (std::size_t n : {std::size_t(1), std::size_t(7), std::size_t(4096), bytes.size()}) {
        const uLong crc = crc32(crc32(0, Z_NULL, 0), bytes.data(), static_cast<uInt>(n));
        EXPECT_EQ(engineChecksum(bytes.data(), n), ~static_cast<uint32_t>(crc)) << n;
    }
}

TEST(FileTest, MapsWholeFilesAndRefusesEmptyOrMissingOnes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray content(70000, 'q');
    const QString full = dir.filePath(QStringLiteral("full"));
    const QString empty = dir.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(TestSandbox::writeFile(full, content));
    ASSERT_TRUE(TestSandbox::writeFile(empty, QByteArray()));

    MappedFile mapped(full.toUtf8().constData());
    ASSERT_TRUE(mapped.valid());
    ASSERT_EQ(mapped.size(), std::size_t(content.size()));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(mapped.data()), content.size()), content);
    mapped.release();
    EXPECT_FALSE(mapped.valid());

    EXPECT_FALSE(MappedFile(empty.toUtf8().constData()).valid());
    EXPECT_FALSE(MappedFile(dir.filePath(QStringLiteral("missing")).toUtf8().constData()).valid());
    EXPECT_FALSE(MappedFile(dir.path().toUtf8().constData()).valid());
}

TEST(FileTest, WriteWholeFileCreatesOrTruncates)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(TestSandbox::writeFile(path, QByteArray(100, 'x')));
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(writeWholeFile(path.toUtf8().constData(), bytes, 3), 3u);
    EXPECT_EQ(TestSandbox::readFile(path), QByteArray("\x01\x02\x03", 3));
    EXPECT_EQ(
        writeWholeFile(dir.filePath(QStringLiteral("no/such/dir")).toUtf8().constData(), bytes, 3),
        0u);
}

} // namespace
