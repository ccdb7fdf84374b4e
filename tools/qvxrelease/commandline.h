#pragma once

#include "qvpatch/mappedfile.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

// What every command of the tool shares: its table entry, argument parsing,
// exit codes, error output, input and output files and progress display.

enum ExitCode
{
    ExitSuccess = 0,
    ExitFailure = 1, // input rejected or operation failed
    ExitUsage = 2,   // the command line itself is wrong
};

struct Command;
using CommandFunction = int (*)(const Command &command, const std::vector<std::string> &args);

struct Command
{
    const char *name;
    const char *synopsis; // arguments, as shown in the usage line
    const char *summary;  // one line for --help
    CommandFunction run;
};

struct OptionDefinition
{
    const char *name; // with its leading "--"
    bool takesValue;
};

// Positional arguments and "--name [value]" options of one command.
class Arguments
{
public:
    // Fails with a message on an unknown option, a missing option value or a
    // positional count other than the one expected.
    bool parse(const std::vector<std::string> &args, std::size_t positionalCount,
               std::initializer_list<OptionDefinition> options, std::string *error);

    const std::string &positional(std::size_t i) const { return m_Positional[i]; }
    bool has(const std::string &option) const { return m_Options.count(option) != 0; }
    std::string value(const std::string &option) const;

private:
    std::vector<std::string> m_Positional;
    std::map<std::string, std::string> m_Options;
};

// Prints "qvxrelease: message" and the command's usage line; returns ExitUsage.
int usageError(const Command &command, const std::string &message);
// Prints "qvxrelease: message"; returns ExitFailure.
int failure(const std::string &message);
// True when "--help" or "-h" is among the arguments; prints the command's help.
bool handledHelp(const Command &command, const std::vector<std::string> &args);
void printCommandUsage(const Command &command, bool toStandardError);

// A whole input file, mapped; an empty file is valid and has no bytes.
class InputFile
{
public:
    bool open(const std::string &path, std::string *error);
    const uint8_t *data() const { return m_File ? m_File->data() : nullptr; }
    std::size_t size() const { return m_File ? m_File->size() : 0; }

private:
    std::unique_ptr<qvpatch::MappedFile> m_File;
};

// Writes the bytes next to the path and renames them into place, so a failed
// or interrupted run never leaves a half-written output behind.
bool writeOutputFile(const std::string &path, const uint8_t *bytes, std::size_t n,
                     std::string *error);
// A fresh name beside the path for a file that is renamed into place later.
std::string temporaryPathFor(const std::string &path);
bool replaceFile(const std::string &temporary, const std::string &path, std::string *error);

// A percentage on standard error while long work runs, shown only when
// standard error is a terminal.
class Progress
{
public:
    explicit Progress(std::string label);
    ~Progress();
    void update(uint64_t done, uint64_t total);
    void finish();

private:
    std::string m_Label;
    bool m_Enabled;
    int m_Shown = -1;
};
