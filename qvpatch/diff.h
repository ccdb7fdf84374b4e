#pragma once

namespace qvpatch {

class ByteSource;
class ByteSink;

// QVDIFF10: [magic "QVDIFF10", checksum varint]  (header form only)
//           method byte (0 stored, 1 three LZMA2 blocks, 2 one LZMA2 block),
//           new size varint, then the control, diff and extra blocks.
//
// Rebuilds the new bytes from the old source's remaining bytes (the old
// source does not move) and the diff read from the patch source, appending
// them to the output. Untrusted patches are safe: every count is checked
// against the buffers it refers to, and a failure logs at level ERROR (some
// failures silently) and returns false, leaving a partial output that the
// caller discards.
bool applyDiff(const ByteSource &old, ByteSource *patch, ByteSink *output, bool withHeader);

} // namespace qvpatch
