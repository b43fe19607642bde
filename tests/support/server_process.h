// Child processes for test servers (nginx, Python scripts) on 127.0.0.1.
// The test that makes a CChildProcess owns it; the child is killed when the
// object goes away and also when the test process dies, so no server
// outlives its test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess() { Stop(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts argv[0] (searched on PATH) with its output appended to strLogPath
    // (empty: /dev/null). With bPipeStdout, standard output goes to a pipe
    // read by ReadLine instead. False when it cannot be started.
    bool Start(const std::vector<std::string>& vecArgv, const std::string& strLogPath,
               bool bPipeStdout = false);
    // One line of the child's piped output, waiting up to nTimeoutMs; false
    // on time-out or end of output.
    bool ReadLine(std::string* pstrLine, int nTimeoutMs);
    // Sends nSignal, waits up to nGraceMs, then kills. Safe to call twice.
    void Stop(int nSignal = 15, int nGraceMs = 2000);
    bool IsRunning();
    pid_t Pid() const { return m_nPid; }

private:
    pid_t m_nPid = -1;
    int m_nStdoutFd = -1;
    std::string m_strPending;
};

// A 127.0.0.1 port that was free a moment ago (bound to port 0, released).
int FindFreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:nPort.
bool WaitForLoopbackPort(int nPort, int nTimeoutMs);
// Full path of a program on PATH (or strPreferred when it exists); empty if none.
std::string FindProgram(const std::string& strName, const std::string& strPreferred = "");
