#include "checksum.h"

#ifdef QVPATCH_HAVE_ZLIB
#include <zlib.h>
#else
#include <array>
#endif

namespace qvpatch {

#ifdef QVPATCH_HAVE_ZLIB

uint32_t engineChecksum(const uint8_t *bytes, std::size_t count)
{
    // zlib's tables are built at compile time (it is not configured with
    // DYNAMIC_CRC_TABLE on any platform we build for), so concurrent calls
    // share nothing that is ever written.
    uLong crc = crc32(0L, Z_NULL, 0);
    while (count > 0) {
        const uInt chunk = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
        crc = crc32(crc, bytes, chunk);
        bytes += chunk;
        count -= chunk;
    }
    return ~static_cast<uint32_t>(crc);
}

#else

namespace {
constexpr std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kTable = makeTable();
} // namespace

uint32_t engineChecksum(const uint8_t *bytes, std::size_t count)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc; // the plain CRC-32 would invert this once more
}

#endif

} // namespace qvpatch
