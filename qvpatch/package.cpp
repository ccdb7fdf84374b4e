#include "package.h"

#include "bytesink.h"
#include "bytesource.h"
#include "bytesourceset.h"
#include "checksum.h"
#include "diff.h"
#include "enginelog_p.h"
#include "lzmaioout.h"
#include "mappedfile.h"
#include "packageformat_p.h"

namespace qvpatch {

namespace {

// Reads the encoded program held by one program source and appends its
// assembled machine code to the assembly sink. This engine cannot read
// encoded programs yet, so every program source is reported as unreadable;
// packages that need one fail here, before anything is written.
bool assembleProgramSource(ByteSourceSet *programSource, ByteSink *assembly)
{
    (void)programSource;
    (void)assembly;
    logError("could not read encoded program");
    return false;
}

// Directive 2: streams 0 .. k-2 hold encoded programs, stream k-1 a diff from
// their assembled machine code to the content.
bool decodeDisassembledBody(const ByteSink &body, ByteSink *content)
{
    ByteSourceSet disAndDiff;
    if (!disAndDiff.initFromBytes(body.data(), body.length())) {
        logError("could not init dif_and_dis set");
        return false;
    }
    const std::size_t count = disAndDiff.count();
    if (count < 2) {
        logError("dis_and_diff too small");
        return false;
    }
    ByteSink assembly;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        ByteSourceSet programSource;
        if (!programSource.initFromSource(disAndDiff.stream(i))) {
            logError("could not init program_source set");
            return false;
        }
        if (!assembleProgramSource(&programSource, &assembly))
            return false;
    }
    ByteSource old;
    old.initFromSink(assembly);
    if (!applyDiff(old, &disAndDiff.stream(count - 1), content, false)) {
        logError("could not apply diff");
        return false;
    }
    return true;
}

} // namespace

bool decodePackageFile(const char *packagePath, const char *destinationPath)
{
    MappedFile package(packagePath);
    if (!package.valid()) {
        logError("could not open lzma file");
        return false;
    }
    ByteSource source(package.data(), package.size());
    uint32_t magic = 0;
    uint32_t checksum = 0;
    uint32_t directive = 0;
    if (!source.readU32(&magic) || !source.readU32(&checksum) || !source.readU32(&directive)) {
        logError("could not read lzma header");
        return false;
    }
    if (magic != kPackageMagic) {
        logError("not lzma file");
        return false;
    }

    ByteSink content;
    if (directive == kDirectivePlain) {
        if (!readLzma2Block(&source, &content)) {
            logError("could not decompress file");
            return false;
        }
    } else if (directive == kDirectiveDisassembleAndDiff) {
        ByteSink body;
        if (!readLzma2Block(&source, &body)) {
            logError("could not decompress file");
            return false;
        }
        if (!decodeDisassembledBody(body, &content))
            return false;
    } else {
        logError("Unknown preprocessing dirrective");
        return false;
    }
    package.release();

    if (engineChecksum(content.data(), content.length()) != checksum) {
        logError("crc mismatch");
        return false;
    }
    if (writeWholeFile(destinationPath, content.data(), content.length()) != content.length()) {
        logError("could not write output file");
        return false;
    }
    return true;
}

} // namespace qvpatch
