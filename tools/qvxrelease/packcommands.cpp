// pack and unpack: "._lzma2_" packages.

#include "commands.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/package.h"
#include "qvpatch/packagewriter.h"

#include <cstdio>

int runPack(const Command &command, const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!arguments.parse(args, 2, {}, &error))
        return usageError(command, error);
    const std::string &inPath = arguments.positional(0);
    const std::string &outPath = arguments.positional(1);

    InputFile input;
    if (!input.open(inPath, &error))
        return failure(error);
    qvpatch::ByteSink package;
    {
        Progress progress("pack: compressing");
        const bool packed = qvpatch::writePlainPackage(
            input.data(), input.size(), &package,
            [&progress](uint64_t done, uint64_t total) { progress.update(done, total); });
        if (!packed)
            return failure("pack: could not compress " + inPath);
    }
    if (!writeOutputFile(outPath, package.data(), package.length(), &error))
        return failure(error);
    return ExitSuccess;
}

int runUnpack(const Command &command, const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!arguments.parse(args, 2, {}, &error))
        return usageError(command, error);
    const std::string &packagePath = arguments.positional(0);
    const std::string &outPath = arguments.positional(1);

    // The updater's own decoder, into a file beside OUT that replaces it only
    // once the content is complete and verified.
    const std::string temporary = temporaryPathFor(outPath);
    if (!qvpatch::decodePackageFile(packagePath.c_str(), temporary.c_str())) {
        std::remove(temporary.c_str());
        return failure("unpack: " + packagePath + " rejected");
    }
    if (!replaceFile(temporary, outPath, &error))
        return failure(error);
    return ExitSuccess;
}
