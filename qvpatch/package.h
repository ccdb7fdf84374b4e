#pragma once

namespace qvpatch {

// Decodes a "._lzma2_" package into the destination file:
//   magic varint 132781929, engineChecksum varint of the content,
//   directive varint (1 plain, 2 disassembly and diff), one LZMA2 block.
// The package is only read. The destination is created only once the content
// has been rebuilt in memory and matches the checksum; a failure before that
// leaves it untouched. Every failure is logged at level ERROR before false is
// returned. Paths are byte strings (UTF-8 from the updater).
bool decodePackageFile(const char *packagePath, const char *destinationPath);

} // namespace qvpatch
