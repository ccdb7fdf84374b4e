#pragma once

#include <cstddef>
#include <cstdint>

namespace qvpatch {

class ByteSink;

// A read cursor over borrowed bytes. The bytes must outlive the source and
// must not move while it is read (a mapped file, a sink that no longer grows).
// Every read either succeeds completely or fails without moving the cursor.
class ByteSource
{
public:
    ByteSource() = default;
    ByteSource(const uint8_t *data, std::size_t size) { init(data, size); }

    void init(const uint8_t *data, std::size_t size);
    // Covers the sink's current contents; the sink must not change meanwhile.
    void initFromSink(const ByteSink &sink);

    bool readBytes(void *destination, std::size_t n);
    // Unsigned LEB128 of at most 5 bytes; only the low 4 bits of a fifth byte
    // count. Fails when the range ends inside the varint or a fifth byte has
    // its continuation bit set.
    bool readU32(uint32_t *value);
    // Zigzag-mapped signed value over readU32.
    bool readS32(int32_t *value);
    bool skip(std::size_t n);

    std::size_t remaining() const { return static_cast<std::size_t>(m_End - m_Position); }
    bool consumed() const { return m_Position == m_End; }
    const uint8_t *next() const { return m_Position; }

private:
    const uint8_t *m_Start = nullptr;
    const uint8_t *m_End = nullptr;
    const uint8_t *m_Position = nullptr;
};

} // namespace qvpatch
