#pragma once

#include <cstddef>
#include <cstdint>

namespace qvpatch {

// Shared by the diff reader and the diff writer.
constexpr char kDiffMagic[] = {'Q', 'V', 'D', 'I', 'F', 'F', '1', '0'};
constexpr std::size_t kDiffMagicLength = sizeof kDiffMagic;

constexpr uint8_t kDiffMethodStored = 0;
constexpr uint8_t kDiffMethodThreeBlocks = 1;
constexpr uint8_t kDiffMethodOneBlock = 2;

} // namespace qvpatch
