#pragma once

#include "commandline.h"

// The commands of the tool, one group per source file.

// packcommands.cpp
int runPack(const Command &command, const std::vector<std::string> &args);
int runUnpack(const Command &command, const std::vector<std::string> &args);

// diffcommands.cpp
int runDiff(const Command &command, const std::vector<std::string> &args);
int runApplyDiff(const Command &command, const std::vector<std::string> &args);

// buildcommands.cpp
int runBuild(const Command &command, const std::vector<std::string> &args);

// signcommands.cpp
int runKeygen(const Command &command, const std::vector<std::string> &args);
int runSign(const Command &command, const std::vector<std::string> &args);
int runVerify(const Command &command, const std::vector<std::string> &args);

// versioncommands.cpp
int runVersions(const Command &command, const std::vector<std::string> &args);
