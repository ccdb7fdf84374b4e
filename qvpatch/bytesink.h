#pragma once

#include <cstddef>
#include <cstdint>

namespace qvpatch {

// A growable output buffer that never throws. An allocation failure puts the
// sink into the failed state: its buffer is freed, its length becomes 0, and
// every later reserve, write or append fails.
class ByteSink
{
public:
    ByteSink() = default;
    ~ByteSink();
    ByteSink(const ByteSink &) = delete;
    ByteSink &operator=(const ByteSink &) = delete;

    // Ensures a capacity of at least n; a new allocation is exactly max(n, 256).
    bool reserve(std::size_t n);
    // Appends n bytes; when they do not fit, the capacity doubles (from 256
    // when nothing is allocated yet) until they do. n = 0 always succeeds
    // outside the failed state and allocates nothing.
    bool writeBytes(const void *source, std::size_t n);
    bool writeU32(uint32_t value);
    bool writeS32(int32_t value);
    // A size as an unsigned varint. A size beyond 32 bits is a broken caller
    // invariant and ends the process through the log facility.
    bool writeSize(std::size_t value);
    // Moves the other sink's bytes to the end of this one and releases it.
    bool appendSink(ByteSink &other);

    // Grows the length by n bytes already written through data() into
    // reserved space (the LZMA2 decoder fills reserved space directly).
    void commitReserved(std::size_t n);

    uint8_t *data() { return m_Data; }
    const uint8_t *data() const { return m_Data; }
    std::size_t length() const { return m_Length; }
    std::size_t capacity() const { return m_Capacity; }
    bool failed() const { return m_Failed; }

    // Frees the buffer; the sink is empty and usable again (not failed).
    void release();

private:
    bool reallocate(std::size_t capacity);
    void fail();

    uint8_t *m_Data = nullptr;
    std::size_t m_Length = 0;
    std::size_t m_Capacity = 0;
    bool m_Failed = false;
};

} // namespace qvpatch
