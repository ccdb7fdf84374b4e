#include "commandline.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool Arguments::parse(const std::vector<std::string> &args, std::size_t positionalCount,
                      std::initializer_list<OptionDefinition> options, std::string *error)
{
    m_Positional.clear();
    m_Options.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            m_Positional.push_back(arg);
            continue;
        }
        const OptionDefinition *definition = nullptr;
        for (const OptionDefinition &option : options) {
            if (arg == option.name)
                definition = &option;
        }
        if (!definition) {
            *error = "unknown option '" + arg + "'";
            return false;
        }
        if (m_Options.count(arg)) {
            *error = "option '" + arg + "' given twice";
            return false;
        }
        std::string value;
        if (definition->takesValue) {
            if (i + 1 >= args.size()) {
                *error = "option '" + arg + "' needs a value";
                return false;
            }
            value = args[++i];
        }
        m_Options[arg] = value;
    }
    if (m_Positional.size() != positionalCount) {
        *error = m_Positional.size() < positionalCount ? "missing arguments" : "too many arguments";
        return false;
    }
    return true;
}

std::string Arguments::value(const std::string &option) const
{
    const auto it = m_Options.find(option);
    return it == m_Options.end() ? std::string() : it->second;
}

void printCommandUsage(const Command &command, bool toStandardError)
{
    std::FILE *stream = toStandardError ? stderr : stdout;
    std::fprintf(stream, "Usage: qvxrelease %s %s\n", command.name, command.synopsis);
}

int usageError(const Command &command, const std::string &message)
{
    std::fprintf(stderr, "qvxrelease: %s: %s\n", command.name, message.c_str());
    printCommandUsage(command, true);
    return ExitUsage;
}

int failure(const std::string &message)
{
    std::fprintf(stderr, "qvxrelease: %s\n", message.c_str());
    return ExitFailure;
}

bool handledHelp(const Command &command, const std::vector<std::string> &args)
{
    for (const std::string &arg : args) {
        if (arg == "--help" || arg == "-h") {
            printCommandUsage(command, false);
            std::printf("\n%s\n", command.summary);
            return true;
        }
    }
    return false;
}

bool InputFile::open(const std::string &path, std::string *error)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "cannot read " + path + ": not a regular file";
        return false;
    }
    if (info.st_size == 0) {
        m_File.reset();
        return true;
    }
    m_File = std::make_unique<qvpatch::MappedFile>(path.c_str());
    if (!m_File->valid()) {
        *error = "cannot read " + path;
        m_File.reset();
        return false;
    }
    return true;
}

std::string temporaryPathFor(const std::string &path)
{
    return path + ".qvxrelease-" + std::to_string(::getpid()) + ".tmp";
}

bool replaceFile(const std::string &temporary, const std::string &path, std::string *error)
{
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool writeOutputFile(const std::string &path, const uint8_t *bytes, std::size_t n,
                     std::string *error)
{
    const std::string temporary = temporaryPathFor(path);
    if (qvpatch::writeWholeFile(temporary.c_str(), bytes, n) != n) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return replaceFile(temporary, path, error);
}

Progress::Progress(std::string label)
    : m_Label(std::move(label))
    , m_Enabled(::isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress()
{
    finish();
}

void Progress::update(uint64_t done, uint64_t total)
{
    if (!m_Enabled)
        return;
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == m_Shown)
        return;
    m_Shown = percent;
    std::fprintf(stderr, "\r%s %3d%%", m_Label.c_str(), percent);
    std::fflush(stderr);
}

void Progress::finish()
{
    if (!m_Enabled || m_Shown < 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_Label.size()) + 5, "");
    std::fflush(stderr);
    m_Shown = -1;
}
