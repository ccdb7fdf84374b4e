#include "logcapture.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/bytesource.h"
#include "qvpatch/checksum.h"
#include "qvpatch/diff.h"
#include "qvpatch/diffwriter.h"
#include "qvpatch/lzmaioout.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace qvpatch;

namespace {

using Bytes = std::vector<uint8_t>;
using Triple = std::array<int32_t, 3>;

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes sinkBytes(const ByteSink &sink)
{
    return Bytes(sink.data(), sink.data() + sink.length());
}

Bytes controlBlock(const std::vector<Triple> &triples)
{
    ByteSink sink;
    for (const Triple &t : triples) {
        sink.writeS32(t[0]);
        sink.writeS32(t[1]);
        sink.writeS32(t[2]);
    }
    return sinkBytes(sink);
}

// A method-0 diff written by hand, so that every field can be wrong on purpose.
struct StoredDiff
{
    uint32_t newSize = 0;
    std::vector<Triple> triples;
    Bytes diff;
    Bytes extra;
    uint8_t method = 0;

    Bytes payload() const
    {
        const Bytes control = controlBlock(triples);
        ByteSink sink;
        sink.writeU32(uint32_t(control.size()));
        sink.writeU32(uint32_t(diff.size()));
        sink.writeU32(uint32_t(extra.size()));
        sink.writeBytes(control.data(), control.size());
        sink.writeBytes(diff.data(), diff.size());
        sink.writeBytes(extra.data(), extra.size());
        return sinkBytes(sink);
    }

    Bytes bytes() const
    {
        ByteSink sink;
        sink.writeBytes(&method, 1);
        sink.writeU32(newSize);
        const Bytes p = payload();
        sink.writeBytes(p.data(), p.size());
        return sinkBytes(sink);
    }
};

Bytes withHeader(const Bytes &body, uint32_t checksum)
{
    Bytes out = bytesOf("QVDIFF10");
    ByteSink sink;
    sink.writeU32(checksum);
    out.insert(out.end(), sink.data(), sink.data() + sink.length());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

uint32_t checksumOf(const Bytes &bytes)
{
    return engineChecksum(bytes.data(), bytes.size());
}

struct ApplyCase
{
    const char *name;
    Bytes old;
    Bytes patch;
    bool header;
    bool succeeds;
    Bytes result;                      // when it succeeds
    std::vector<std::string> messages; // logged, in order
};

std::vector<ApplyCase> applyCases()
{
    const Bytes hello = bytesOf("hello");
    const Bytes abcdef = bytesOf("abcdef");
    std::vector<ApplyCase> cases;

    cases.push_back({"empty new bytes", hello, StoredDiff{}.bytes(), false, true, {}, {}});
    StoredDiff identity{5, {{5, 0, 0}}, Bytes(5, 0), {}};
    cases.push_back({"identity", hello, identity.bytes(), false, true, hello, {}});
    // Adding diff bytes wraps modulo 256.
    StoredDiff added{2, {{2, 0, 0}}, {1, 0xFF}, {}};
    cases.push_back(
        {"diff bytes add", bytesOf("ab"), added.bytes(), false, true, bytesOf("ba"), {}});
    // Skip forward, copy "cd", jump back to 0 and copy "ab", then extra "!".
    StoredDiff backwards{5, {{0, 0, 2}, {2, 0, -4}, {2, 1, 0}}, Bytes(4, 0), bytesOf("!")};
    cases.push_back({"negative z", abcdef, backwards.bytes(), false, true, bytesOf("cdab!"), {}});
    StoredDiff surplus{2, {{0, 2, 0}, {99, 99, 99}}, {}, bytesOf("xy")};
    cases.push_back(
        {"surplus triples ignored", abcdef, surplus.bytes(), false, true, bytesOf("xy"), {}});
    StoredDiff tooLong{2, {{1, 2, 0}}, {0}, bytesOf("xy")};
    cases.push_back(
        {"y one byte too large", abcdef, tooLong.bytes(), false, false, {}, {"Corrupt patch"}});
    StoredDiff method3 = identity;
    method3.method = 3;
    cases.push_back(
        {"method 3", hello, method3.bytes(), false, false, {}, {"Invalid compression method"}});
    StoredDiff shortControl{6, {{5, 0, 0}}, Bytes(5, 0), {}};
    cases.push_back({"control ends early",
                     hello,
                     shortControl.bytes(),
                     false,
                     false,
                     {},
                     {"Corrupt patch reading control"}});
    cases.push_back({"no method byte", hello, {}, false, false, {}, {}});
    cases.push_back({"no new size", hello, {0x00}, false, false, {}, {}});
    cases.push_back({"no lengths", hello, {0x00, 0x05, 0x03}, false, false, {}, {}});

    // Bounds the format leaves open: every one fails the call.
    StoredDiff backBelowZero{1, {{0, 0, -1}, {0, 1, 0}}, {}, bytesOf("x")};
    cases.push_back(
        {"x = 0 at a negative old position", hello, backBelowZero.bytes(), false, false, {}, {}});
    StoredDiff straddlesZero{2, {{0, 0, -2}, {4, 0, 0}}, Bytes(4, 0), {}};
    straddlesZero.newSize = 4;
    cases.push_back(
        {"old range starting below 0", abcdef, straddlesZero.bytes(), false, false, {}, {}});
    StoredDiff pastOld{6, {{6, 0, 0}}, Bytes(6, 0), {}};
    cases.push_back({"old range past the old data", hello, pastOld.bytes(), false, false, {}, {}});
    StoredDiff wraps{1, {{0, 0, INT32_MAX}, {1, 0, 0}}, Bytes(1, 0), {}};
    cases.push_back(
        {"old range end wrapping past 2^31", hello, wraps.bytes(), false, false, {}, {}});
    StoredDiff negativeX{1, {{-1, 1, 0}}, {}, bytesOf("x")};
    cases.push_back({"negative x", hello, negativeX.bytes(), false, false, {}, {"Corrupt patch"}});
    StoredDiff negativeY{1, {{0, -1, 0}}, {}, bytesOf("x")};
    cases.push_back({"negative y", hello, negativeY.bytes(), false, false, {}, {"Corrupt patch"}});
    StoredDiff xBeyondDiff{5, {{5, 0, 0}}, Bytes(4, 0), bytesOf("x")};
    cases.push_back({"x beyond the diff block",
                     hello,
                     xBeyondDiff.bytes(),
                     false,
                     false,
                     {},
                     {"Corrupt patch"}});
    StoredDiff xBeyondNew{3, {{5, 0, 0}}, Bytes(5, 0), {}};
    cases.push_back(
        {"x beyond the new size", hello, xBeyondNew.bytes(), false, false, {}, {"Corrupt patch"}});
    StoredDiff yBeyondExtra{3, {{0, 3, 0}}, {}, bytesOf("xy")};
    cases.push_back({"y beyond the extra block",
                     hello,
                     yBeyondExtra.bytes(),
                     false,
                     false,
                     {},
                     {"Corrupt patch"}});
    Bytes lyingLengths = identity.bytes();
    lyingLengths.pop_back();
    cases.push_back(
        {"lengths beyond the bytes present", hello, lyingLengths, false, false, {}, {}});

    // Header form.
    cases.push_back({"header, right checksum",
                     hello,
                     withHeader(identity.bytes(), checksumOf(hello)),
                     true,
                     true,
                     hello,
                     {}});
    cases.push_back({"header, wrong checksum",
                     hello,
                     withHeader(identity.bytes(), checksumOf(hello) ^ 1),
                     true,
                     false,
                     {},
                     {"crc mismatch"}});
    Bytes badMagic = withHeader(identity.bytes(), checksumOf(hello));
    badMagic[7] = '1';
    cases.push_back(
        {"header, wrong magic", hello, badMagic, true, false, {}, {"Corrupt patch header"}});
    cases.push_back({"header, short magic", hello, bytesOf("QVDIF"), true, false, {}, {}});
    cases.push_back({"header, no checksum",
                     hello,
                     bytesOf("QVDIFF10"),
                     true,
                     false,
                     {},
                     {"Could not read crc"}});
    cases.push_back({"header expected, none given",
                     hello,
                     identity.bytes(),
                     true,
                     false,
                     {},
                     {"Corrupt patch header"}});
    return cases;
}

TEST(ApplyDiffTest, HandWrittenDiffs)
{
    for (const ApplyCase &c : applyCases()) {
        LogCapture log;
        const ByteSource old(c.old.data(), c.old.size());
        ByteSource patch(c.patch.data(), c.patch.size());
        ByteSink out;
        EXPECT_EQ(applyDiff(old, &patch, &out, c.header), c.succeeds) << c.name;
        EXPECT_EQ(old.remaining(), c.old.size()) << c.name << ": the old source does not move";
        if (c.succeeds) {
            EXPECT_EQ(sinkBytes(out), c.result) << c.name;
        }
        EXPECT_EQ(log.messages, c.messages) << c.name;
    }
}

TEST(ApplyDiffTest, CompressedMethodsReadTheirBlocks)
{
    const Bytes old = bytesOf("abcdef");
    StoredDiff stored{5, {{0, 0, 2}, {2, 0, -4}, {2, 1, 0}}, {1, 1, 0, 0}, bytesOf("!")};
    const Bytes expected = bytesOf("deab!");

    ByteSink method1;
    const uint8_t one = 1;
    method1.writeBytes(&one, 1);
    method1.writeU32(stored.newSize);
    const Bytes control = controlBlock(stored.triples);
    writeLzma2Block(control.data(), control.size(), &method1);
    writeLzma2Block(stored.diff.data(), stored.diff.size(), &method1);
    writeLzma2Block(stored.extra.data(), stored.extra.size(), &method1);

    ByteSink method2;
    const uint8_t two = 2;
    method2.writeBytes(&two, 1);
    method2.writeU32(stored.newSize);
    const Bytes payload = stored.payload();
    writeLzma2Block(payload.data(), payload.size(), &method2);

    for (ByteSink *diff : {&method1, &method2}) {
        Bytes bytes = sinkBytes(*diff);
        bytes.push_back(0x77); // bytes after the diff stay unread
        const ByteSource oldSource(old.data(), old.size());
        ByteSource patch(bytes.data(), bytes.size());
        ByteSink out;
        ASSERT_TRUE(applyDiff(oldSource, &patch, &out, false));
        EXPECT_EQ(sinkBytes(out), expected);
        EXPECT_EQ(patch.remaining(), 1u);
    }

    // Damage the second block of method 1: the block's own message, nothing more.
    Bytes damaged = sinkBytes(method1);
    ByteSource skipper(damaged.data(), damaged.size());
    uint8_t byte;
    uint32_t size;
    skipper.readBytes(&byte, 1);
    skipper.readU32(&size);
    ByteSink ignored;
    ASSERT_TRUE(readLzma2Block(&skipper, &ignored));
    const std::size_t secondBlock = damaged.size() - skipper.remaining();
    damaged[secondBlock + 3] ^= 0xFF;
    damaged.resize(secondBlock + 4);
    LogCapture log;
    const ByteSource oldSource(old.data(), old.size());
    ByteSource patch(damaged.data(), damaged.size());
    ByteSink out;
    EXPECT_FALSE(applyDiff(oldSource, &patch, &out, false));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].rfind("Error uncompressing data ", 0), 0u) << log.messages[0];
}

TEST(ApplyDiffTest, AppendsAfterWhatTheOutputAlreadyHolds)
{
    const Bytes hello = bytesOf("hello");
    const Bytes patchBytes =
        withHeader(StoredDiff{5, {{5, 0, 0}}, Bytes(5, 0), {}}.bytes(), checksumOf(hello));
    const ByteSource old(hello.data(), hello.size());
    ByteSource patch(patchBytes.data(), patchBytes.size());
    ByteSink out;
    out.writeBytes("12", 2);
    ASSERT_TRUE(applyDiff(old, &patch, &out, true));
    EXPECT_EQ(sinkBytes(out), bytesOf("12hello"));
}

// Old and new versions that differ the way program versions do: shifted
// blocks, small in-place changes (addresses), inserted and removed runs.
struct Versions
{
    Bytes old;
    Bytes fresh;
};

Versions makeVersions(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Versions v;
    v.old.resize(size);
    for (uint8_t &b : v.old)
        b = static_cast<uint8_t>(random() % 64); // some structure for the compressor
    std::size_t i = 0;
    while (i < v.old.size()) {
        const std::size_t run = std::min<std::size_t>(v.old.size() - i, 200 + random() % 4000);
        v.fresh.insert(v.fresh.end(), v.old.begin() + long(i), v.old.begin() + long(i + run));
        for (int k = 0; k < 3 && !v.fresh.empty(); ++k)
            v.fresh[v.fresh.size() - 1 - random() % std::min<std::size_t>(run, 100)] += 1;
        if (random() % 3 == 0)
            for (int k = 0; k < 50; ++k)
                v.fresh.push_back(static_cast<uint8_t>(random()));
        i += run + (random() % 4 == 0 ? random() % 300 : 0);
    }
    return v;
}

TEST(DiffWriterTest, RoundTripsForEveryMethodAndForm)
{
    const Versions big = makeVersions(400000, 1);
    const Bytes some = bytesOf("some bytes");
    const std::vector<Versions> pairs = {
        big, {{}, {}}, {{}, some}, {some, {}}, {some, some}, {big.fresh, big.old},
    };
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const Versions &v = pairs[p];
        for (uint8_t method : {0, 1, 2}) {
            for (bool header : {false, true}) {
                DiffOptions options;
                options.method = method;
                options.withHeader = header;
                ByteSink diff;
                ASSERT_TRUE(writeDiff(v.old.data(), v.old.size(), v.fresh.data(), v.fresh.size(),
                                      &diff, options));
                const ByteSource old(v.old.data(), v.old.size());
                ByteSource patch(diff.data(), diff.length());
                ByteSink out;
                ASSERT_TRUE(applyDiff(old, &patch, &out, header))
                    << "pair " << p << " method " << int(method) << " header " << header;
                EXPECT_EQ(sinkBytes(out), v.fresh) << "pair " << p << " method " << int(method);
                EXPECT_TRUE(patch.consumed());
            }
        }
    }
}

TEST(DiffWriterTest, FindsMatchesSoSimilarVersionsDiffSmall)
{
    const Versions v = makeVersions(1000000, 2);
    ByteSink diff;
    ByteSink package;
    ASSERT_TRUE(writeDiff(v.old.data(), v.old.size(), v.fresh.data(), v.fresh.size(), &diff));
    ASSERT_TRUE(writeLzma2Block(v.fresh.data(), v.fresh.size(), &package));
    // The new bytes on their own barely compress; against the old ones they
    // cost little more than the inserted noise (about 1 byte in 90).
    EXPECT_LT(diff.length(), package.length() / 10)
        << "diff " << diff.length() << ", compressed " << package.length();
}

TEST(DiffWriterTest, RejectsAnUnknownMethod)
{
    LogCapture log;
    DiffOptions options;
    options.method = 3;
    ByteSink diff;
    EXPECT_FALSE(writeDiff(nullptr, 0, nullptr, 0, &diff, options));
    EXPECT_EQ(log.messages, std::vector<std::string>{"Invalid compression method"});
}

} // namespace
