#pragma once

#include "quorlog/log.h"

#include <string_view>

namespace qvpatch {

// The engine reports every failure at level ERROR, with no channel and id 0.
inline void logError(std::string_view message)
{
    LogBase::logMessage(message, LogLevel_ERROR, "", 0);
}

} // namespace qvpatch
