#include "packagewriter.h"

#include "bytesink.h"
#include "checksum.h"
#include "enginelog_p.h"
#include "packageformat_p.h"

namespace qvpatch {

bool writePlainPackage(const uint8_t *content, std::size_t n, ByteSink *output,
                       const ProgressFunction &progress)
{
    if (n > 0xFFFFFFFFu) {
        logError("package content too large");
        return false;
    }
    if (!output->writeU32(kPackageMagic) || !output->writeU32(engineChecksum(content, n)) ||
        !output->writeU32(kDirectivePlain)) {
        logError("unable to allocate sink space");
        return false;
    }
    Lzma2EncoderSettings settings;
    settings.progress = progress;
    return writeLzma2Block(content, n, output, settings);
}

} // namespace qvpatch
