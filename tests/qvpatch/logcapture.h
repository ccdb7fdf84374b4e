#pragma once

#include "quorlog/log.h"

#include <string>
#include <vector>

// Collects the messages the engine logs while it is alive.
class LogCapture : public LogOutput
{
public:
    LogCapture() { LogBase::addOutput(this); }
    ~LogCapture() override { LogBase::removeOutput(this); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    void write(const LogRecord &record) override
    {
        messages.emplace_back(record.message());
        levels.push_back(record.level);
    }

    std::vector<std::string> messages;
    std::vector<int> levels;
};
