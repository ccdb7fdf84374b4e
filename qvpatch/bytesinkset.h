#pragma once

#include "bytesink.h"

#include <cstddef>

namespace qvpatch {

// Ten output streams that serialize behind one header (see ByteSourceSet).
class ByteSinkSet
{
public:
    static constexpr std::size_t kStreamCount = 10;

    std::size_t count() const { return kStreamCount; }
    ByteSink &stream(std::size_t i) { return m_Streams[i]; }

    // Spreads the inner set over this set's streams: count and lengths go to
    // stream 0, inner stream i to the end of stream i. Releases the inner
    // streams as they are appended.
    bool writeNestedSet(ByteSinkSet *inner);
    // Appends the header and all ten streams to the output, releasing each
    // stream once appended.
    bool serializeTo(ByteSink *output);

private:
    ByteSink m_Streams[kStreamCount];
};

} // namespace qvpatch
