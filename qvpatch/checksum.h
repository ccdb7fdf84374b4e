#pragma once

#include <cstddef>
#include <cstdint>

namespace qvpatch {

// The standard CRC-32 of the bytes with all 32 bits inverted: 0xFFFFFFFF for
// no bytes, 0xCADBBE3D for "abc". Every engine format stores this value.
// Safe to call from several threads at once (its table is constant).
uint32_t engineChecksum(const uint8_t *bytes, std::size_t count);

} // namespace qvpatch
