#include "bytesource.h"

#include "bytesink.h"

#include <cstring>

namespace qvpatch {

void ByteSource::init(const uint8_t *data, std::size_t size)
{
    m_Start = data;
    m_Position = data;
    m_End = data ? data + size : data;
}

void ByteSource::initFromSink(const ByteSink &sink)
{
    init(sink.data(), sink.length());
}

bool ByteSource::readBytes(void *destination, std::size_t n)
{
    if (n > remaining())
        return false;
    if (n != 0)
        std::memcpy(destination, m_Position, n);
    m_Position += n;
    return true;
}

bool ByteSource::readU32(uint32_t *value)
{
    uint32_t result = 0;
    const uint8_t *p = m_Position;
    for (int i = 0; i < 5; ++i) {
        if (p == m_End)
            return false;
        const uint8_t byte = *p++;
        result |= static_cast<uint32_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0) {
            *value = result;
            m_Position = p;
            return true;
        }
    }
    return false;
}

bool ByteSource::readS32(int32_t *value)
{
    uint32_t u = 0;
    if (!readU32(&u))
        return false;
    *value = static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
    return true;
}

bool ByteSource::skip(std::size_t n)
{
    if (n > remaining())
        return false;
    m_Position += n;
    return true;
}

} // namespace qvpatch
