// diff and apply-diff: QVDIFF10 diffs.

#include "commands.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/bytesource.h"
#include "qvpatch/diff.h"
#include "qvpatch/diffwriter.h"

int runDiff(const Command &command, const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!arguments.parse(args, 3, {{"--method", true}, {"--header", false}}, &error))
        return usageError(command, error);
    qvpatch::DiffOptions options;
    options.withHeader = arguments.has("--header");
    if (arguments.has("--method")) {
        const std::string method = arguments.value("--method");
        if (method != "0" && method != "1" && method != "2")
            return usageError(command, "--method must be 0, 1 or 2, not '" + method + "'");
        options.method = static_cast<uint8_t>(method[0] - '0');
    }

    InputFile oldFile;
    InputFile newFile;
    if (!oldFile.open(arguments.positional(0), &error) ||
        !newFile.open(arguments.positional(1), &error))
        return failure(error);

    qvpatch::ByteSink diff;
    {
        Progress progress("diff: matching");
        options.progress = [&progress](uint64_t done, uint64_t total) {
            progress.update(done, total);
        };
        if (!qvpatch::writeDiff(oldFile.data(), oldFile.size(), newFile.data(), newFile.size(),
                                &diff, options))
            return failure("diff: could not build the diff");
    }
    if (!writeOutputFile(arguments.positional(2), diff.data(), diff.length(), &error))
        return failure(error);
    return ExitSuccess;
}

int runApplyDiff(const Command &command, const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!arguments.parse(args, 3, {{"--header", false}}, &error))
        return usageError(command, error);

    InputFile oldFile;
    InputFile diffFile;
    if (!oldFile.open(arguments.positional(0), &error) ||
        !diffFile.open(arguments.positional(1), &error))
        return failure(error);

    const qvpatch::ByteSource old(oldFile.data(), oldFile.size());
    qvpatch::ByteSource patch(diffFile.data(), diffFile.size());
    qvpatch::ByteSink result;
    if (!qvpatch::applyDiff(old, &patch, &result, arguments.has("--header")))
        return failure("apply-diff: " + arguments.positional(1) + " does not apply to " +
                       arguments.positional(0));
    if (!writeOutputFile(arguments.positional(2), result.data(), result.length(), &error))
        return failure(error);
    return ExitSuccess;
}
