#pragma once

namespace qvpatch {

// Result of every step of ensemble patch application; the values are part of
// the updater's log lines and are fixed.
enum PatchStatus
{
    C_OK = 1,                      // the new file was written completely
    C_APPLY_PATCH_FAILED = 2,      // a sub-diff, a corrected parameter or an encoding failed
    C_READ_OPEN_ERROR = 3,         // the patch file cannot be opened or mapped
    C_WRITE_OPEN_ERROR = 4,        // the old file cannot be mapped, or the new one was not written
    C_BAD_ENSEMBLE_MAGIC = 5,      // the magic cannot be read or is wrong
    C_BAD_ENSEMBLE_VERSION = 6,    // the version cannot be read or is wrong
    C_BAD_ENSEMBLE_HEADER = 7,     // the rest of the header or the transformation list is corrupt
    C_BAD_CHECKSUM = 8,            // the old or the new file's checksum does not match
    C_ELEMENT_OUT_OF_RANGE = 12,   // an element range lies outside the old file
    C_STREAM_ERROR = 20,           // memory, decompression or stream-set layout
    C_STREAM_NOT_CONSUMED = 21,    // a stream was not consumed completely
    C_DESERIALIZATION_FAILED = 23, // an encoded program could not be read
    C_INPUT_NOT_RECOGNIZED = 24,   // an element is no executable a disassembler accepts
    C_DISASSEMBLY_FAILED = 25,
    C_ASSEMBLY_FAILED = 26,
    C_TRIM_FAILED = 28
};

// Applies the ensemble patch at patchPath to the file at oldPath and writes
// the result to newPath. Paths are byte strings (UTF-8 from the updater). The
// old file and the patch are only read; the new file is created only once
// the whole result exists in memory, so any failure before the write leaves
// newPath untouched.
//
// This build cannot apply ensemble patches yet: the patch is opened and its
// magic and version are read (C_READ_OPEN_ERROR, C_BAD_ENSEMBLE_MAGIC,
// C_BAD_ENSEMBLE_VERSION), and every patch that gets that far fails with
// C_APPLY_PATCH_FAILED. newPath is never written.
PatchStatus applyEnsemblePatchFiles(const char *oldPath, const char *patchPath,
                                    const char *newPath);

} // namespace qvpatch
