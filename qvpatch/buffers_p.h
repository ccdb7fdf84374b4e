#pragma once

#include <cstddef>

namespace qvpatch {

// Heap blocks for the engine's buffers. Blocks of a few megabytes (a decoded
// package, the LZMA2 dictionary, a patched file) are mapped straight from the
// system and marked for huge pages: a fresh buffer is otherwise faulted in one
// 4 KiB page at a time, which costs more than filling it. Smaller blocks come
// from malloc. None of these throw; failure is a null result.
void *allocateBuffer(std::size_t n);
// Grows or shrinks a block from allocateBuffer (or null), keeping the first
// min(old, n) bytes. On failure the old block is left as it was.
void *reallocateBuffer(void *block, std::size_t n);
void freeBuffer(void *block);

} // namespace qvpatch
