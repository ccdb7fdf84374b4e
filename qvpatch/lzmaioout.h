#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qvpatch {

class ByteSource;
class ByteSink;

// An LZMA2 block: the dictionary property byte (0..40), the unpacked size as
// an unsigned varint, then raw LZMA2 data ending with its end marker.

// Decodes the block at the source's position and appends exactly the
// declared number of bytes to the output. On success the source has moved
// past the end marker; on failure a message is logged at level ERROR and the
// source position is unspecified.
bool readLzma2Block(ByteSource *source, ByteSink *output);

// Reports how many of the total input bytes have been compressed so far.
using ProgressFunction = std::function<void(uint64_t done, uint64_t total)>;

// Appends one block holding the bytes, compressed at level 9.
bool writeLzma2Block(const uint8_t *bytes, std::size_t n, ByteSink *output,
                     const ProgressFunction &progress = {});

} // namespace qvpatch
