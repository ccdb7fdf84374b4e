#include "commandline.h"
#include "commands.h"

#include "quorlog/log.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every command of the tool. Adding one is a source file with its function
// (declared in commands.h) and one line here.
const Command kCommands[] = {
    {"pack", "IN OUT", "compress IN into the package OUT", runPack},
    {"unpack", "PKG OUT", "decode the package PKG into OUT, as the updater does", runUnpack},
    {"diff", "OLD NEW OUT [--method 0|1|2] [--header]",
     "write the QVDIFF10 diff from OLD to NEW into OUT (method 1 unless given)", runDiff},
    {"apply-diff", "OLD DIFF OUT [--header]",
     "apply the QVDIFF10 diff DIFF to OLD, as the updater does, writing OUT", runApplyDiff},
    {"keygen", "PRIVATE_OUT PUBLIC_OUT",
     "make a 1024-bit RSA release-signing key pair (DER PKCS #1)", runKeygen},
    {"sign", "PRIVATE FILE", "write FILE.sig, the release signature of FILE", runSign},
    {"verify", "PUBLIC FILE", "check FILE.sig exactly as the updater does (exit 0 pass, 1 not)",
     runVerify},
    {"build", "TREE CHANNEL --key PRIVATE --product client|updater --version N [--input DESC]",
     "write the release folder CHANNEL/N of the files in TREE, with its signed product ini",
     runBuild},
    {"versions", "OUT --channel NAME:NUMBER:STRING [--channel ...] [--license N]",
     "write the version server's answer, channels in the order given", runVersions},
};

void printHelp(std::FILE *stream)
{
    std::fprintf(stream, "Usage: qvxrelease COMMAND ARGUMENTS...\n\n"
                         "Builds the files the Quorvex updater reads.\n\nCommands:\n");
    for (const Command &command : kCommands)
        std::fprintf(stream, "  %s %s\n      %s\n", command.name, command.synopsis,
                     command.summary);
    std::fprintf(stream, "\n'qvxrelease COMMAND --help' describes one command.\n"
                         "Exit status: 0 success, 1 input rejected or operation failed, "
                         "2 usage error.\n");
}

// The engine reports its failures through the log facility; the tool shows
// them on standard error, where the user sees why an input was rejected.
class StandardErrorOutput : public LogOutput
{
public:
    void write(const LogRecord &record) override
    {
        const std::string_view message = record.message();
        std::fprintf(stderr, "qvxrelease: %.*s\n", static_cast<int>(message.size()),
                     message.data());
    }
};

struct OutputRegistration
{
    explicit OutputRegistration(LogOutput *output)
        : m_Output(output)
    {
        LogBase::addOutput(output);
    }
    ~OutputRegistration() { LogBase::removeOutput(m_Output); }
    OutputRegistration(const OutputRegistration &) = delete;
    OutputRegistration &operator=(const OutputRegistration &) = delete;

    LogOutput *m_Output;
};

} // namespace

int main(int argc, char **argv)
{
    StandardErrorOutput output;
    LogBase::setThreshold(LogLevel_ERROR);
    const OutputRegistration registration(&output);

    if (argc < 2) {
        std::fprintf(stderr, "qvxrelease: no command given\n\n");
        printHelp(stderr);
        return ExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printHelp(stdout);
        return ExitSuccess;
    }
    for (const Command &command : kCommands) {
        if (name == command.name) {
            const std::vector<std::string> args(argv + 2, argv + argc);
            if (handledHelp(command, args))
                return ExitSuccess;
            return command.run(command, args);
        }
    }
    std::fprintf(stderr, "qvxrelease: unknown command '%s'\n\n", name.c_str());
    printHelp(stderr);
    return ExitUsage;
}
