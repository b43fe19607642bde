// Facts about the running process and starting other programs.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Ending of executable file names: "" on Linux, ".exe" on Windows.
extern const char* const kExeSuffix;

// Prepares the process for network use (on Linux: a write to a closed
// socket must fail with EPIPE instead of killing the process, and so must a
// write past a file-size limit, with EFBIG).
bool InitSockets();

// Ends the process at once with nExitCode: standard streams are flushed,
// nothing else runs (no destructors, no exit handlers). For a process that
// must end while one of its threads is stuck.
[[noreturn]] void EndProcessNow(int nExitCode);

// Full path of the running executable; empty when unknown.
std::string GetExecutablePath();

// Major version of the operating system (the kernel's on Linux), 0 if unknown.
int GetOsMajorVersion();

// Starts a program that runs on by itself; nothing is waited for.
// Returns false with the system error in GetLastSystemError() when it could
// not be started (the program is missing or not executable).
bool StartDetachedProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                          const std::string& strWorkDir = std::string());

// A started program that can be waited for. The program is never ours to
// end: closing or destroying the handle leaves it running.
//
// On Linux the program is started through an intermediate process that
// exits at once, so it is not our child and nothing of ours is left to reap;
// the handle is a pidfd that becomes readable when the program ends. The
// intermediate stays until the pidfd is open, so the pid cannot be reused in
// between. Without pidfd support the handle falls back to watching /proc.
class CProcess {
public:
    enum class WaitResult { kEnded, kTimeout, kFailed };

    CProcess() = default;
    ~CProcess();
    CProcess(CProcess&& other) noexcept;
    CProcess& operator=(CProcess&& other) noexcept;
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;

    // False for a handle that holds no program (a failed start, or closed).
    bool IsValid() const { return m_nPid > 0; }
    int GetPid() const { return m_nPid; }
    // Waits up to nTimeoutMs (< 0: without limit) for the program's end.
    // An ended program stays kEnded on every later call.
    WaitResult Wait(int nTimeoutMs);
    // Lets go of the program; it keeps running.
    void Close();

private:
    friend CProcess StartProcess(const std::string&, const std::vector<std::string>&,
                                 const std::string&, const std::vector<std::string>&);
    CProcess(int nPid, int nHandle) : m_nPid(nPid), m_nHandle(nHandle) {}

    int m_nPid = -1;
    int m_nHandle = -1;  // pidfd, -1 when the platform has none
};

// Starts strPath with vecArgs (argv[1]...) in strWorkDir (empty: ours), with
// our environment plus the "NAME=value" entries of vecEnv, which replace
// variables of the same name. A failed start (missing or not executable
// program, bad folder) gives an invalid handle and leaves the reason in
// GetLastSystemError().
CProcess StartProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                      const std::string& strWorkDir = std::string(),
                      const std::vector<std::string>& vecEnv = {});

// Full path of an executable named strName in a folder of PATH; a name that
// holds a separator is returned as it is when executable. Empty if none.
std::string FindProgramInPath(const std::string& strName);

// Gives the file execute permission wherever it has read permission (a
// downloaded file carries no permission bits of its own).
bool MakeExecutable(const std::string& strPath);

}  // namespace platform
