#pragma once

#include "lzmaioout.h"

#include <cstddef>
#include <cstdint>

namespace qvpatch {

class ByteSink;

// Appends a plain (directive 1) package of the content: the header, then the
// whole content as one LZMA2 block at level 9. Logs at level ERROR and
// returns false on failure.
bool writePlainPackage(const uint8_t *content, std::size_t n, ByteSink *output,
                       const ProgressFunction &progress = {});

} // namespace qvpatch
