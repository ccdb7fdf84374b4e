#include "diffwriter.h"

#include "bytesink.h"
#include "checksum.h"
#include "diffformat_p.h"
#include "enginelog_p.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace qvpatch {

namespace {

using Index = int64_t;

Index matchLength(const uint8_t *a, Index aLength, const uint8_t *b, Index bLength)
{
    const Index limit = std::min(aLength, bLength);
    Index i = 0;
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

// The longest prefix of the wanted bytes that occurs in the old bytes, by
// binary search over the suffix array.
class MatchFinder
{
public:
    MatchFinder(const uint8_t *old, Index oldLength, const saidx_t *suffixes)
        : m_Old(old)
        , m_OldLength(oldLength)
        , m_Suffixes(suffixes)
    {
    }

    Index find(const uint8_t *wanted, Index wantedLength, Index *position) const
    {
        if (m_OldLength == 0) {
            *position = 0;
            return 0;
        }
        Index low = 0;
        Index high = m_OldLength - 1;
        while (high - low >= 2) {
            const Index middle = low + (high - low) / 2;
            const Index at = m_Suffixes[middle];
            const Index n = std::min(m_OldLength - at, wantedLength);
            if (std::memcmp(m_Old + at, wanted, static_cast<std::size_t>(n)) < 0)
                low = middle;
            else
                high = middle;
        }
        const Index lowAt = m_Suffixes[low];
        const Index highAt = m_Suffixes[high];
        const Index lowLength =
            matchLength(m_Old + lowAt, m_OldLength - lowAt, wanted, wantedLength);
        const Index highLength =
            matchLength(m_Old + highAt, m_OldLength - highAt, wanted, wantedLength);
        if (lowLength > highLength) {
            *position = lowAt;
            return lowLength;
        }
        *position = highAt;
        return highLength;
    }

private:
    const uint8_t *m_Old;
    Index m_OldLength;
    const saidx_t *m_Suffixes;
};

// reserve() allocates exactly what it is asked for, so growing a sink in
// many small steps needs a doubling of its own.
bool reserveRoom(ByteSink *sink, std::size_t room)
{
    const std::size_t needed = sink->length() + room;
    if (needed <= sink->capacity())
        return !sink->failed();
    return sink->reserve(std::max(needed, sink->capacity() * 2));
}

struct Blocks
{
    ByteSink control;
    ByteSink diff;
    ByteSink extra;
};

// The matching of bsdiff (Colin Percival, "Naive differences of executable
// code"): scan the new bytes for exact matches in the old ones that beat the
// current alignment by more than a few bytes, then extend the previous match
// forwards and the new one backwards as far as at least half of the bytes
// still agree, and emit the stretch between them as extra bytes.
bool buildBlocks(const uint8_t *old, Index oldLength, const uint8_t *fresh, Index freshLength,
                 const saidx_t *suffixes, Blocks *blocks, const ProgressFunction &progress)
{
    const MatchFinder finder(old, oldLength, suffixes);
    Index scan = 0;
    Index length = 0;
    Index position = 0;
    Index lastScan = 0;
    Index lastPosition = 0;
    Index lastOffset = 0;
    Index nextReport = 0;

    while (scan < freshLength) {
        Index oldScore = 0;
        Index scored = scan += length;
        for (; scan < freshLength; ++scan) {
            length = finder.find(fresh + scan, freshLength - scan, &position);
            for (; scored < scan + length; ++scored) {
                if (scored + lastOffset < oldLength && old[scored + lastOffset] == fresh[scored])
                    ++oldScore;
            }
            if ((length == oldScore && length != 0) || length > oldScore + 8)
                break;
            if (scan + lastOffset < oldLength && old[scan + lastOffset] == fresh[scan])
                --oldScore;
        }
        if (length == oldScore && scan != freshLength)
            continue;

        // Extend the previous match forwards.
        Index forward = 0;
        {
            Index score = 0;
            Index best = 0;
            for (Index i = 0; lastScan + i < scan && lastPosition + i < oldLength;) {
                if (old[lastPosition + i] == fresh[lastScan + i])
                    ++score;
                ++i;
                if (score * 2 - i > best * 2 - forward) {
                    best = score;
                    forward = i;
                }
            }
        }
        // Extend the new match backwards.
        Index backward = 0;
        if (scan < freshLength) {
            Index score = 0;
            Index best = 0;
            for (Index i = 1; scan >= lastScan + i && position >= i; ++i) {
                if (old[position - i] == fresh[scan - i])
                    ++score;
                if (score * 2 - i > best * 2 - backward) {
                    best = score;
                    backward = i;
                }
            }
        }
        // Where the two extensions overlap, split them at the best point.
        if (lastScan + forward > scan - backward) {
            const Index overlap = (lastScan + forward) - (scan - backward);
            Index score = 0;
            Index best = 0;
            Index split = 0;
            for (Index i = 0; i < overlap; ++i) {
                if (fresh[lastScan + forward - overlap + i] ==
                    old[lastPosition + forward - overlap + i])
                    ++score;
                if (fresh[scan - backward + i] == old[position - backward + i])
                    --score;
                if (score > best) {
                    best = score;
                    split = i + 1;
                }
            }
            forward += split - overlap;
            backward -= split;
        }

        const Index extraLength = (scan - backward) - (lastScan + forward);
        const Index seek = (position - backward) - (lastPosition + forward);
        ByteSink &diff = blocks->diff;
        if (!reserveRoom(&diff, static_cast<std::size_t>(forward)))
            return false;
        uint8_t *differences = diff.data() + diff.length();
        for (Index i = 0; i < forward; ++i)
            differences[i] = static_cast<uint8_t>(fresh[lastScan + i] - old[lastPosition + i]);
        diff.commitReserved(static_cast<std::size_t>(forward));
        if (!blocks->extra.writeBytes(fresh + lastScan + forward,
                                      static_cast<std::size_t>(extraLength)) ||
            !blocks->control.writeS32(static_cast<int32_t>(forward)) ||
            !blocks->control.writeS32(static_cast<int32_t>(extraLength)) ||
            !blocks->control.writeS32(static_cast<int32_t>(seek)))
            return false;

        lastScan = scan - backward;
        lastPosition = position - backward;
        lastOffset = position - scan;

        if (progress && scan >= nextReport) {
            progress(static_cast<uint64_t>(scan), static_cast<uint64_t>(freshLength));
            nextReport = scan + (1 << 20);
        }
    }
    return true;
}

bool writeStoredPayload(Blocks *blocks, ByteSink *output)
{
    return output->writeSize(blocks->control.length()) &&
           output->writeSize(blocks->diff.length()) && output->writeSize(blocks->extra.length()) &&
           output->appendSink(blocks->control) && output->appendSink(blocks->diff) &&
           output->appendSink(blocks->extra);
}

// The diff block is mostly long runs of zero bytes between the changed
// addresses; looking for the longest matches shrinks it by about a sixth.
constexpr uint32_t kLongRunNiceLength = 273;

bool writeCompressedBlock(ByteSink *block, ByteSink *output, uint32_t niceLength = 0)
{
    Lzma2EncoderSettings settings;
    settings.niceLength = niceLength;
    const bool ok = writeLzma2Block(block->data(), block->length(), output, settings);
    block->release();
    return ok;
}

} // namespace

bool writeDiff(const uint8_t *oldBytes, std::size_t oldLength, const uint8_t *newBytes,
               std::size_t newLength, ByteSink *output, const DiffOptions &options)
{
    constexpr std::size_t kLargestInput = 0x7FFFFFFF;
    if (oldLength > kLargestInput || newLength > kLargestInput) {
        logError("diff input too large");
        return false;
    }
    if (options.method > kDiffMethodOneBlock) {
        logError("Invalid compression method");
        return false;
    }

    Blocks blocks;
    {
        std::unique_ptr<saidx_t[]> suffixes(new (std::nothrow) saidx_t[oldLength ? oldLength : 1]);
        if (!suffixes) {
            logError("unable to allocate suffix array");
            return false;
        }
        if (oldLength > 0 &&
            divsufsort(oldBytes, suffixes.get(), static_cast<saidx_t>(oldLength)) != 0) {
            logError("could not sort the old data");
            return false;
        }
        if (!buildBlocks(oldBytes, static_cast<Index>(oldLength), newBytes,
                         static_cast<Index>(newLength), suffixes.get(), &blocks,
                         options.progress)) {
            logError("unable to allocate sink space");
            return false;
        }
    }

    if (options.withHeader) {
        if (!output->writeBytes(kDiffMagic, kDiffMagicLength) ||
            !output->writeU32(engineChecksum(newBytes, newLength)))
            return false;
    }
    if (!output->writeBytes(&options.method, 1) || !output->writeSize(newLength))
        return false;
    switch (options.method) {
    case kDiffMethodStored:
        return writeStoredPayload(&blocks, output);
    case kDiffMethodThreeBlocks:
        return writeCompressedBlock(&blocks.control, output) &&
               writeCompressedBlock(&blocks.diff, output, kLongRunNiceLength) &&
               writeCompressedBlock(&blocks.extra, output);
    default: {
        ByteSink payload;
        return writeStoredPayload(&blocks, &payload) &&
               writeCompressedBlock(&payload, output, kLongRunNiceLength);
    }
    }
}

} // namespace qvpatch
