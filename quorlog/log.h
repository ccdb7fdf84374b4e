#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Levels, most severe first. A message is dispatched when its level is at or
// below the threshold (LogLevel_DEVEL by default, so everything).
enum LogLevel
{
    LogLevel_CRITICAL = 0,
    LogLevel_ERROR = 1,
    LogLevel_WARNING = 2,
    LogLevel_DEBUG = 3,
    LogLevel_INFO = 4,
    LogLevel_DEVEL = 5,
};

// One formatted message as the outputs receive it: the header
// "time|LEVEL   |channel       |id |" followed by the message text.
struct LogRecord
{
    int level = LogLevel_DEVEL;
    std::string line;
    std::size_t headerLength = 0;

    std::string_view message() const { return std::string_view(line).substr(headerLength); }
};

// Receives every dispatched record. Outputs may be called from several
// threads at once (the engine runs on worker threads); the library calls
// them one at a time, so an output needs no locking of its own.
class LogOutput
{
public:
    virtual ~LogOutput() = default;
    virtual void write(const LogRecord &record) = 0;
};

// The process-wide log facility. With no output registered, messages are
// formatted and dropped. A CRITICAL message ends the process with exit
// status 1 once every output has received it.
class LogBase
{
public:
    static void logMessage(std::string_view message, int level, std::string_view channel, int id);

    // The output is borrowed and must stay alive until it is removed.
    static void addOutput(LogOutput *output);
    static void removeOutput(LogOutput *output);

    static void setThreshold(int level);
    static int threshold();

    // The header for a record, exposed for tests of its layout.
    static std::string formatHeader(int level, std::string_view channel, int id);
    static const char *levelName(int level);
};

// Checks an internal invariant of the caller. A broken one is logged at level
// CRITICAL with the condition, source file and line, and the process ends.
#define QUORLOG_ASSERT(condition)                                                                  \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::quorlogAssertFailed(#condition, __FILE__, __LINE__);                                 \
    } while (false)

[[noreturn]] void quorlogAssertFailed(const char *condition, const char *file, int line);
