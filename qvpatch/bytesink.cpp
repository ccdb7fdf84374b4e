#include "bytesink.h"

#include "buffers_p.h"

#include "quorlog/log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qvpatch {

namespace {
constexpr std::size_t kMinimumAllocation = 256;
// Requests beyond this can never be satisfied; refusing them up front keeps
// hostile sizes from reaching the allocator at all.
constexpr std::size_t kLargestAllocation = PTRDIFF_MAX;
} // namespace

ByteSink::~ByteSink()
{
    freeBuffer(m_Data);
}

void ByteSink::release()
{
    freeBuffer(m_Data);
    m_Data = nullptr;
    m_Length = 0;
    m_Capacity = 0;
    m_Failed = false;
}

void ByteSink::fail()
{
    freeBuffer(m_Data);
    m_Data = nullptr;
    m_Length = 0;
    m_Capacity = 0;
    m_Failed = true;
}

bool ByteSink::reallocate(std::size_t capacity)
{
    if (capacity > kLargestAllocation) {
        fail();
        return false;
    }
    void *grown = reallocateBuffer(m_Data, capacity);
    if (!grown) {
        fail();
        return false;
    }
    m_Data = static_cast<uint8_t *>(grown);
    m_Capacity = capacity;
    return true;
}

bool ByteSink::reserve(std::size_t n)
{
    if (m_Failed)
        return false;
    if (n <= m_Capacity)
        return true;
    return reallocate(n < kMinimumAllocation ? kMinimumAllocation : n);
}

bool ByteSink::writeBytes(const void *source, std::size_t n)
{
    if (m_Failed)
        return false;
    if (n == 0)
        return true;
    if (n > SIZE_MAX - m_Length)
        return false;
    const std::size_t needed = m_Length + n;
    if (needed > m_Capacity) {
        std::size_t capacity = m_Capacity ? m_Capacity : kMinimumAllocation;
        while (capacity < needed) {
            if (capacity > SIZE_MAX / 2) {
                capacity = needed;
                break;
            }
            capacity *= 2;
        }
        if (!reallocate(capacity))
            return false;
    }
    std::memcpy(m_Data + m_Length, source, n);
    m_Length = needed;
    return true;
}

bool ByteSink::writeU32(uint32_t value)
{
    uint8_t bytes[5];
    std::size_t n = 0;
    while (value >= 0x80) {
        bytes[n++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    bytes[n++] = static_cast<uint8_t>(value);
    return writeBytes(bytes, n);
}

bool ByteSink::writeS32(int32_t value)
{
    const uint32_t u = static_cast<uint32_t>(value);
    return writeU32((u << 1) ^ (0u - (u >> 31)));
}

bool ByteSink::writeSize(std::size_t value)
{
    const uint32_t narrowed_value = static_cast<uint32_t>(value);
    QUORLOG_ASSERT(value == narrowed_value);
    return writeU32(narrowed_value);
}

bool ByteSink::appendSink(ByteSink &other)
{
    const bool ok = !other.m_Failed && writeBytes(other.m_Data, other.m_Length);
    other.release();
    return ok;
}

void ByteSink::commitReserved(std::size_t n)
{
    QUORLOG_ASSERT(n <= m_Capacity - m_Length);
    m_Length += n;
}

} // namespace qvpatch
