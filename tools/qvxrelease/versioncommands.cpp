// versions: the answer of the version server, one serialized Versions message.
#include "commands.h"

#include "UpdateMessage.pb.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

// A decimal integer of 32 bits, optionally negative, and nothing else.
bool parseInt32(const std::string &text, long *value)
{
    // strtol would also take leading blanks and a plus sign.
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = parsed;
    return true;
}

// "NAME:NUMBER:STRING"; the version string may itself contain colons.
bool parseChannel(const std::string &text, com::quorvex::update::Channel *channel,
                  std::string *error)
{
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        *error = "channel '" + text + "' is not NAME:NUMBER:STRING";
        return false;
    }
    const std::string name = text.substr(0, first);
    const std::string number = text.substr(first + 1, second - first - 1);
    if (name.empty()) {
        *error = "channel '" + text + "' has no name";
        return false;
    }
    long value = 0;
    if (!parseInt32(number, &value)) {
        *error = "channel '" + text + "': '" + number + "' is not a 32-bit integer";
        return false;
    }
    channel->set_name(name);
    channel->set_version_number(static_cast<int32_t>(value));
    channel->set_version_string(text.substr(second + 1));
    return true;
}

} // namespace

int runVersions(const Command &command, const std::vector<std::string> &args)
{
    // Options may repeat (--channel), which the shared parser does not allow.
    std::string output;
    com::quorvex::update::Versions versions;
    versions.set_licenseagreementid(0);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--channel" || arg == "--license") {
            if (i + 1 >= args.size())
                return usageError(command, "option " + arg + " needs a value");
            const std::string &value = args[++i];
            std::string error;
            if (arg == "--channel") {
                if (!parseChannel(value, versions.add_channels(), &error))
                    return usageError(command, error);
            } else {
                long license = 0;
                if (!parseInt32(value, &license))
                    return usageError(command, "'" + value + "' is not a 32-bit integer");
                versions.set_licenseagreementid(static_cast<int32_t>(license));
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(command, "unknown option " + arg);
        } else if (output.empty()) {
            output = arg;
        } else {
            return usageError(command, "more than one output file given");
        }
    }
    if (output.empty())
        return usageError(command, "no output file given");

    std::string bytes;
    if (!versions.SerializeToString(&bytes))
        return failure("cannot encode the version message");
    std::string error;
    if (!writeOutputFile(output, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                         &error))
        return failure(error);
    return ExitSuccess;
}
