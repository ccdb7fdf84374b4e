#include "diff.h"

#include "bytesink.h"
#include "bytesource.h"
#include "checksum.h"
#include "diffformat_p.h"
#include "enginelog_p.h"
#include "lzmaioout.h"

#include <algorithm>
#include <cstring>

namespace qvpatch {

namespace {

// Reads the three method-0 lengths and covers the blocks that follow them.
// The lengths must fit in what the payload still holds.
bool locateStoredBlocks(ByteSource *payload, ByteSource *control, ByteSource *diff,
                        ByteSource *extra)
{
    uint32_t controlLength = 0;
    uint32_t diffLength = 0;
    uint32_t extraLength = 0;
    if (!payload->readU32(&controlLength) || !payload->readU32(&diffLength) ||
        !payload->readU32(&extraLength))
        return false;
    const uint64_t total = uint64_t(controlLength) + diffLength + extraLength;
    if (total > payload->remaining())
        return false;
    const uint8_t *start = payload->next();
    control->init(start, controlLength);
    diff->init(start + controlLength, diffLength);
    extra->init(start + controlLength + diffLength, extraLength);
    return payload->skip(static_cast<std::size_t>(total));
}

} // namespace

bool applyDiff(const ByteSource &old, ByteSource *patch, ByteSink *output, bool withHeader)
{
    uint32_t expectedChecksum = 0;
    if (withHeader) {
        char magic[kDiffMagicLength];
        if (!patch->readBytes(magic, sizeof magic))
            return false;
        if (std::memcmp(magic, kDiffMagic, sizeof magic) != 0) {
            logError("Corrupt patch header");
            return false;
        }
        if (!patch->readU32(&expectedChecksum)) {
            logError("Could not read crc");
            return false;
        }
    }
    uint8_t method = 0;
    if (!patch->readBytes(&method, 1))
        return false;
    if (method > kDiffMethodOneBlock) {
        logError("Invalid compression method");
        return false;
    }
    uint32_t newSize = 0;
    if (!patch->readU32(&newSize))
        return false;

    ByteSink controlSink;
    ByteSink diffSink;
    ByteSink extraSink;
    ByteSource control;
    ByteSource diff;
    ByteSource extra;
    if (method == kDiffMethodThreeBlocks) {
        if (!readLzma2Block(patch, &controlSink) || !readLzma2Block(patch, &diffSink) ||
            !readLzma2Block(patch, &extraSink))
            return false;
        control.initFromSink(controlSink);
        diff.initFromSink(diffSink);
        extra.initFromSink(extraSink);
    } else if (method == kDiffMethodOneBlock) {
        if (!readLzma2Block(patch, &controlSink))
            return false;
        ByteSource payload;
        payload.initFromSink(controlSink);
        if (!locateStoredBlocks(&payload, &control, &diff, &extra))
            return false;
    } else if (!locateStoredBlocks(patch, &control, &diff, &extra)) {
        return false;
    }

    // The new bytes are counted from where this call starts appending, so an
    // output that already holds something keeps it and still receives all of
    // the new bytes.
    const std::size_t base = output->length();
    // Every new byte comes from the diff or the extra block, so a new size
    // beyond both cannot be reached; reserving only what can be keeps a lying
    // size from allocating gigabytes before the blocks run out.
    const uint64_t reachable = uint64_t(diff.remaining()) + extra.remaining();
    if (!output->reserve(base + static_cast<std::size_t>(std::min<uint64_t>(newSize, reachable))))
        return false;

    const uint8_t *oldBytes = old.next();
    const std::size_t oldLength = old.remaining();
    int32_t oldPosition = 0;
    std::size_t produced = 0;
    while (produced < newSize) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
        if (!control.readS32(&x) || !control.readS32(&y) || !control.readS32(&z)) {
            logError("Corrupt patch reading control");
            return false;
        }
        // Counts that the diff or extra block cannot supply, or that would
        // carry the output past the new size, are as corrupt as a y that
        // overshoots.
        if (x < 0 || y < 0 || uint32_t(x) > diff.remaining() || uint32_t(x) > newSize - produced) {
            logError("Corrupt patch");
            return false;
        }
        const std::size_t runStart = output->length();
        if (!output->writeBytes(diff.next(), uint32_t(x)))
            return false;
        // The old range must lie inside the old data. Its end is computed in
        // 32 bits as the format defines; its start must not be negative either
        // (a backward z is fine only when the next range starts at 0 or later).
        const int64_t end = int64_t(oldPosition) + x;
        if (oldPosition < 0 || end > INT32_MAX || uint64_t(end) > oldLength)
            return false;
        uint8_t *run = output->data() + runStart;
        const uint8_t *oldRun = oldBytes + oldPosition;
        for (int32_t i = 0; i < x; ++i)
            run[i] = static_cast<uint8_t>(run[i] + oldRun[i]);
        produced += uint32_t(x);
        if (uint32_t(y) > newSize - produced) {
            logError("Corrupt patch");
            return false;
        }
        if (uint32_t(y) > extra.remaining()) {
            logError("Corrupt patch");
            return false;
        }
        if (!output->writeBytes(extra.next(), uint32_t(y)))
            return false;
        produced += uint32_t(y);
        diff.skip(uint32_t(x));
        extra.skip(uint32_t(y));
        oldPosition = static_cast<int32_t>(static_cast<uint32_t>(oldPosition) +
                                           static_cast<uint32_t>(x) + static_cast<uint32_t>(z));
    }

    if (withHeader && engineChecksum(output->data() + base, newSize) != expectedChecksum) {
        logError("crc mismatch");
        return false;
    }
    return true;
}

} // namespace qvpatch
