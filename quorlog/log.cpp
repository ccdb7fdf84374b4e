#include "log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

namespace {

std::atomic<int> g_threshold{LogLevel_DEVEL};

// Outputs are registered once at start-up but messages arrive from worker
// threads, so the list and the dispatch share one lock.
std::mutex &outputMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<LogOutput *> &outputs()
{
    static std::vector<LogOutput *> list;
    return list;
}

std::string timeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + used, sizeof text - used, ".%03d", static_cast<int>(millis));
    return text;
}

} // namespace

const char *LogBase::levelName(int level)
{
    switch (level) {
    case LogLevel_CRITICAL:
        return "CRITICAL";
    case LogLevel_ERROR:
        return "ERROR";
    case LogLevel_WARNING:
        return "WARNING";
    case LogLevel_DEBUG:
        return "DEBUG";
    case LogLevel_INFO:
        return "INFO";
    case LogLevel_DEVEL:
        return "DEVELOP";
    default:
        return "UNKNOWN";
    }
}

std::string LogBase::formatHeader(int level, std::string_view channel, int id)
{
    const std::string stamp = timeStamp();
    const std::string channelText(channel);
    const std::string idText = std::to_string(id);
    const int size = std::snprintf(nullptr, 0, "%s|%-8s|%-14s|%-3s|", stamp.c_str(),
                                   levelName(level), channelText.c_str(), idText.c_str());
    std::string header(static_cast<std::size_t>(size), '\0');
    std::snprintf(header.data(), header.size() + 1, "%s|%-8s|%-14s|%-3s|", stamp.c_str(),
                  levelName(level), channelText.c_str(), idText.c_str());
    return header;
}

void LogBase::logMessage(std::string_view message, int level, std::string_view channel, int id)
{
    if (level > g_threshold.load() && level != LogLevel_CRITICAL)
        return;
    LogRecord record;
    record.level = level;
    record.line = formatHeader(level, channel, id);
    record.headerLength = record.line.size();
    record.line.append(message);
    {
        std::lock_guard<std::mutex> lock(outputMutex());
        for (LogOutput *output : outputs())
            output->write(record);
    }
    if (level == LogLevel_CRITICAL) {
        // Another thread may still be inside the engine, so static destructors
        // must not run under it: flush what was written and leave at once.
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

void LogBase::addOutput(LogOutput *output)
{
    std::lock_guard<std::mutex> lock(outputMutex());
    outputs().push_back(output);
}

void LogBase::removeOutput(LogOutput *output)
{
    std::lock_guard<std::mutex> lock(outputMutex());
    auto &list = outputs();
    list.erase(std::remove(list.begin(), list.end(), output), list.end());
}

void LogBase::setThreshold(int level)
{
    g_threshold.store(level);
}

int LogBase::threshold()
{
    return g_threshold.load();
}

void quorlogAssertFailed(const char *condition, const char *file, int line)
{
    const std::string message = std::string("Assertion failed: ") + condition + " (" + file + ":" +
                                std::to_string(line) + ")";
    LogBase::logMessage(message, LogLevel_CRITICAL, "", 0);
    std::_Exit(1); // not reached: a CRITICAL message ends the process
}
