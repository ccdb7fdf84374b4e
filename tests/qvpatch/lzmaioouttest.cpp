#include "logcapture.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/bytesource.h"
#include "qvpatch/lzmaioout.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace qvpatch;

namespace {

using Bytes = std::vector<uint8_t>;

// Runs xz on the bytes; empty result and a failed expectation when xz fails.
Bytes runXz(const QStringList &arguments, const Bytes &input)
{
    QProcess xz;
    xz.start(QStringLiteral("xz"), arguments);
    if (!xz.waitForStarted(10000)) {
        ADD_FAILURE() << "xz cannot be started";
        return {};
    }
    xz.write(reinterpret_cast<const char *>(input.data()), qint64(input.size()));
    xz.closeWriteChannel();
    if (!xz.waitForFinished(60000) || xz.exitCode() != 0) {
        ADD_FAILURE() << "xz failed: " << xz.readAllStandardError().constData();
        return {};
    }
    const QByteArray out = xz.readAllStandardOutput();
    return Bytes(out.begin(), out.end());
}

uint32_t dictionaryOf(uint8_t property)
{
    return (2u | (property & 1u)) << (property / 2 + 11);
}

// A block around raw LZMA2 data: property byte and declared size in front.
Bytes block(uint8_t property, uint32_t declaredSize, const Bytes &data)
{
    ByteSink sink;
    sink.writeBytes(&property, 1);
    sink.writeU32(declaredSize);
    sink.writeBytes(data.data(), data.size());
    return Bytes(sink.data(), sink.data() + sink.length());
}

std::vector<Bytes> samples()
{
    std::mt19937 random(9);
    Bytes noise(150000);
    for (uint8_t &b : noise)
        b = static_cast<uint8_t>(random());
    Bytes text;
    const std::string line = "the quick brown fox jumps over the lazy dog ";
    while (text.size() < 3000000)
        text.insert(text.end(), line.begin(), line.end() - int(random() % 7));
    return {Bytes{}, Bytes{'a', 'b', 'c'}, noise, text};
}

TEST(Lzma2BlockTest, DecodesXzRawDataByteExactly)
{
    const uint8_t preset9Property = 28; // 64 MiB
    for (const Bytes &sample : samples()) {
        const Bytes data = runXz({QStringLiteral("--format=raw"),
                                  QStringLiteral("--lzma2=preset=9"), QStringLiteral("-c")},
                                 sample);
        ASSERT_FALSE(data.empty());
        Bytes packed = block(preset9Property, uint32_t(sample.size()), data);
        packed.push_back(0x5A); // whatever follows the block is left alone
        ByteSource source(packed.data(), packed.size());
        ByteSink out;
        ASSERT_TRUE(out.writeBytes("X", 1));
        ASSERT_TRUE(readLzma2Block(&source, &out)) << sample.size();
        ASSERT_EQ(out.length(), sample.size() + 1);
        EXPECT_TRUE(std::equal(sample.begin(), sample.end(), out.data() + 1));
        ASSERT_EQ(source.remaining(), 1u);
        EXPECT_EQ(*source.next(), 0x5A);
    }
}

TEST(Lzma2BlockTest, WrittenBlocksDecodeWithXzAndReadBack)
{
    for (const Bytes &sample : samples()) {
        ByteSink sink;
        ASSERT_TRUE(writeLzma2Block(sample.data(), sample.size(), &sink));
        ByteSource header(sink.data(), sink.length());
        uint8_t property = 0;
        uint32_t size = 0;
        ASSERT_TRUE(header.readBytes(&property, 1));
        ASSERT_TRUE(header.readU32(&size));
        EXPECT_LE(property, 40);
        EXPECT_EQ(size, sample.size());

        const Bytes data(header.next(), header.next() + header.remaining());
        const QString filter =
            QStringLiteral("--lzma2=dict=%1").arg(qulonglong(dictionaryOf(property)));
        EXPECT_EQ(runXz({QStringLiteral("--format=raw"), filter, QStringLiteral("-dc")}, data),
                  sample);

        ByteSource source(sink.data(), sink.length());
        ByteSink out;
        ASSERT_TRUE(readLzma2Block(&source, &out));
        EXPECT_TRUE(source.consumed());
        EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), sample);
    }
}

TEST(Lzma2BlockTest, SeveralBlocksReadBackToBack)
{
    const Bytes a(1000, 'a');
    const Bytes b = {'b', 'c'};
    ByteSink sink;
    ASSERT_TRUE(writeLzma2Block(a.data(), a.size(), &sink));
    ASSERT_TRUE(writeLzma2Block(b.data(), b.size(), &sink));
    ByteSource source(sink.data(), sink.length());
    ByteSink first;
    ByteSink second;
    ASSERT_TRUE(readLzma2Block(&source, &first));
    ASSERT_TRUE(readLzma2Block(&source, &second));
    EXPECT_TRUE(source.consumed());
    EXPECT_EQ(first.length(), 1000u);
    EXPECT_EQ(Bytes(second.data(), second.data() + 2), b);
}

TEST(Lzma2BlockTest, RejectsDamagedBlocksWithTheirMessage)
{
    const Bytes text(5000, 'z');
    ByteSink good;
    ASSERT_TRUE(writeLzma2Block(text.data(), text.size(), &good));
    ByteSource header(good.data(), good.length());
    uint8_t property = 0;
    uint32_t size = 0;
    header.readBytes(&property, 1);
    header.readU32(&size);
    const Bytes data(header.next(), header.next() + header.remaining());
    ASSERT_EQ(data.back(), 0x00) << "LZMA2 data ends with its end marker";
    const Bytes withoutEndMarker(data.begin(), data.end() - 1);
    const Bytes halfData(data.begin(), data.begin() + long(data.size() / 2));

    struct Case
    {
        const char *name;
        Bytes bytes;
        std::string message;
    };
    const std::string decodeFailure = "Error uncompressing data ";
    const Case cases[] = {
        {"no bytes", {}, "Error read LZMA2 properties"},
        {"property only", {property}, "Error read LZMA2 unpack size"},
        {"size cut inside its varint", {property, 0x80}, "Error read LZMA2 unpack size"},
        {"no end marker", block(property, size, withoutEndMarker), decodeFailure},
        {"data cut in half", block(property, size, halfData), decodeFailure},
        {"declared one byte more", block(property, size + 1, data), decodeFailure + "0"},
        {"declared one byte less", block(property, size - 1, data), decodeFailure},
        {"property 41", block(41, size, data), decodeFailure},
        {"garbage", block(property, size, Bytes(40, 0xEE)), decodeFailure},
    };
    for (const Case &c : cases) {
        LogCapture log;
        ByteSource source(c.bytes.data(), c.bytes.size());
        ByteSink out;
        EXPECT_FALSE(readLzma2Block(&source, &out)) << c.name;
        ASSERT_EQ(log.messages.size(), 1u) << c.name;
        EXPECT_EQ(log.levels[0], LogLevel_ERROR);
        const std::string &message = log.messages[0];
        if (c.message == decodeFailure) {
            // The codec's own code follows the text.
            EXPECT_EQ(message.rfind(decodeFailure, 0), 0u) << c.name << ": " << message;
            EXPECT_GT(message.size(), decodeFailure.size()) << c.name;
            EXPECT_NE(message, decodeFailure + "0") << c.name;
        } else {
            EXPECT_EQ(message, c.message) << c.name;
        }
    }

    LogCapture log;
    ByteSink failed;
    failed.reserve(SIZE_MAX);
    ByteSource source(good.data(), good.length());
    EXPECT_FALSE(readLzma2Block(&source, &failed));
    EXPECT_EQ(log.messages, std::vector<std::string>{"unable to allocate sink space"});
}

} // namespace
