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

struct Lzma2EncoderSettings
{
    // Longest match the encoder looks for; 0 keeps level 9's own (64). Data
    // made of long runs (a diff block is mostly zero bytes) compresses
    // markedly better with 273, at about twice the encoding time.
    uint32_t niceLength = 0;
    ProgressFunction progress;
};

// Appends one block holding the bytes, compressed at level 9.
bool writeLzma2Block(const uint8_t *bytes, std::size_t n, ByteSink *output,
                     const Lzma2EncoderSettings &settings = {});

} // namespace qvpatch
