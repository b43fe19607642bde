// Facts about the running process and starting other programs.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Ending of executable file names: "" on Linux, ".exe" on Windows.
extern const char* const kExeSuffix;

// Prepares the process for network use (on Linux: a write to a closed
// socket must fail with EPIPE instead of killing the process).
bool InitSockets();

// Full path of the running executable; empty when unknown.
std::string GetExecutablePath();

// Major version of the operating system (the kernel's on Linux), 0 if unknown.
int GetOsMajorVersion();

// Starts a program that runs on by itself; nothing is waited for.
// Returns false with the system error in GetLastSystemError() when it could
// not be started (the program is missing or not executable).
bool StartDetachedProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                          const std::string& strWorkDir = std::string());

}  // namespace platform
