#include "bytesinkset.h"

#include "bytesourceset.h"

namespace qvpatch {

bool ByteSinkSet::writeNestedSet(ByteSinkSet *inner)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < kStreamCount; ++i) {
        if (inner->m_Streams[i].length() != 0)
            n = i + 1;
    }
    ByteSink &counts = m_Streams[0];
    if (!counts.writeSize(n))
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (!counts.writeSize(inner->m_Streams[i].length()))
            return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!m_Streams[i].appendSink(inner->m_Streams[i]))
            return false;
    }
    return true;
}

bool ByteSinkSet::serializeTo(ByteSink *output)
{
    ByteSink header;
    static const uint8_t kVersionBytes[] = {0xEA, 0x9A, 0xCA, 0x09};
    static_assert(ByteSourceSet::kVersion == 20090218, "version bytes follow the version");
    if (!header.writeBytes(kVersionBytes, sizeof kVersionBytes) || !header.writeSize(kStreamCount))
        return false;
    std::size_t total = output->length();
    for (ByteSink &stream : m_Streams) {
        if (stream.failed() || !header.writeSize(stream.length()))
            return false;
        total += stream.length();
    }
    if (!output->reserve(total + header.length()) || !output->appendSink(header))
        return false;
    for (ByteSink &stream : m_Streams) {
        if (!output->appendSink(stream))
            return false;
    }
    return true;
}

} // namespace qvpatch
