#pragma once

#include "lzmaioout.h"

#include <cstddef>
#include <cstdint>

namespace qvpatch {

class ByteSink;

struct DiffOptions
{
    uint8_t method = 1; // 0 stored, 1 three LZMA2 blocks, 2 one LZMA2 block
    bool withHeader = false;
    // Reports the matching progress over the new bytes.
    ProgressFunction progress;
};

// Appends a QVDIFF10 diff that turns the old bytes into the new ones (see
// applyDiff). Matches come from a suffix array of the old bytes, extended
// approximately in both directions so that small changes inside a match
// (moved addresses in machine code) cost only a few non-zero diff bytes.
// Both inputs must be shorter than 2 GiB. Logs at level ERROR and returns
// false on failure.
bool writeDiff(const uint8_t *oldBytes, std::size_t oldLength, const uint8_t *newBytes,
               std::size_t newLength, ByteSink *output, const DiffOptions &options = {});

} // namespace qvpatch
