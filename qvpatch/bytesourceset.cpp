#include "bytesourceset.h"

namespace qvpatch {

bool ByteSourceSet::initFromBytes(const uint8_t *bytes, std::size_t n)
{
    ByteSource header(bytes, n);
    uint32_t version = 0;
    if (!header.readU32(&version) || version != kVersion)
        return false;
    uint32_t count = 0;
    if (!header.readU32(&count) || count > kMaxStreams)
        return false;
    uint32_t lengths[kMaxStreams] = {};
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!header.readU32(&lengths[i]))
            return false;
        total += lengths[i];
    }
    if (total != header.remaining())
        return false;
    m_Count = count;
    const uint8_t *position = header.next();
    for (std::size_t i = 0; i < kMaxStreams; ++i) {
        const std::size_t length = i < count ? lengths[i] : 0;
        m_Streams[i].init(position, length);
        position += length;
    }
    return true;
}

bool ByteSourceSet::initFromSource(const ByteSource &source)
{
    return initFromBytes(source.next(), source.remaining());
}

bool ByteSourceSet::readNestedSet(ByteSourceSet *inner)
{
    ByteSource &counts = m_Streams[0];
    uint32_t n = 0;
    if (m_Count == 0 || !counts.readU32(&n) || n > kMaxStreams || n > m_Count)
        return false;
    uint32_t lengths[kMaxStreams] = {};
    for (uint32_t i = 0; i < n; ++i) {
        if (!counts.readU32(&lengths[i]))
            return false;
    }
    inner->m_Count = kMaxStreams;
    for (std::size_t i = 0; i < kMaxStreams; ++i) {
        if (i >= n) {
            inner->m_Streams[i].init(nullptr, 0);
            continue;
        }
        ByteSource &outer = m_Streams[i];
        const uint8_t *start = outer.next();
        if (!outer.skip(lengths[i]))
            return false;
        inner->m_Streams[i].init(start, lengths[i]);
    }
    return true;
}

bool ByteSourceSet::allConsumed() const
{
    for (std::size_t i = 0; i < m_Count; ++i) {
        if (!m_Streams[i].consumed())
            return false;
    }
    return true;
}

} // namespace qvpatch
