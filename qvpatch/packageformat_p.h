#pragma once

#include <cstdint>

namespace qvpatch {

// Shared by the package decoder and the package writer.
constexpr uint32_t kPackageMagic = 132781929;
constexpr uint32_t kDirectivePlain = 1;
constexpr uint32_t kDirectiveDisassembleAndDiff = 2;

} // namespace qvpatch
