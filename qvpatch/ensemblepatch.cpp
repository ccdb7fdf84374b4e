#include "ensemblepatch.h"

#include "bytesource.h"
#include "enginelog_p.h"
#include "mappedfile.h"

namespace qvpatch {

namespace {
constexpr uint32_t kEnsembleMagic = 7696195;
constexpr uint32_t kEnsembleVersion = 20110216;
} // namespace

PatchStatus applyEnsemblePatchFiles(const char *oldPath, const char *patchPath, const char *newPath)
{
    (void)oldPath;
    (void)newPath;
    MappedFile patch(patchPath);
    if (!patch.valid()) {
        logError("ensemble patch: cannot map the patch file");
        return C_READ_OPEN_ERROR;
    }
    ByteSource header(patch.data(), patch.size());
    uint32_t magic = 0;
    if (!header.readU32(&magic) || magic != kEnsembleMagic) {
        logError("ensemble patch: bad magic");
        return C_BAD_ENSEMBLE_MAGIC;
    }
    uint32_t version = 0;
    if (!header.readU32(&version) || version != kEnsembleVersion) {
        logError("ensemble patch: bad version");
        return C_BAD_ENSEMBLE_VERSION;
    }
    // Element transformation and the corrections are not part of this build;
    // failing here keeps the new file untouched.
    logError("ensemble patch: applying ensemble patches is not available in this build");
    return C_APPLY_PATCH_FAILED;
}

} // namespace qvpatch
