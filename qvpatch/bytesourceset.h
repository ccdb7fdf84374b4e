#pragma once

#include "bytesource.h"

#include <cstddef>
#include <cstdint>

namespace qvpatch {

// Up to ten byte streams read from one serialized stream set (or spread over
// the streams of an outer set, see readNestedSet). Borrows its bytes.
class ByteSourceSet
{
public:
    static constexpr uint32_t kVersion = 20090218;
    static constexpr std::size_t kMaxStreams = 10;

    // Parses version, count and lengths; the lengths must cover the rest of
    // the bytes exactly. On failure the set's contents are unspecified.
    bool initFromBytes(const uint8_t *bytes, std::size_t n);
    // The same over the source's remaining bytes; the source does not move.
    bool initFromSource(const ByteSource &source);

    std::size_t count() const { return m_Count; }
    ByteSource &stream(std::size_t i) { return m_Streams[i]; }
    const ByteSource &stream(std::size_t i) const { return m_Streams[i]; }

    // Reads a set written by ByteSinkSet::writeNestedSet: its count and
    // lengths from stream 0, its streams from the front of this set's streams.
    bool readNestedSet(ByteSourceSet *inner);
    bool allConsumed() const;

private:
    std::size_t m_Count = kMaxStreams;
    ByteSource m_Streams[kMaxStreams];
};

} // namespace qvpatch
