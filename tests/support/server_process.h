// Child processes for test servers (nginx, Python scripts, an X server) on
// 127.0.0.1. The test that makes a CChildProcess owns it; the child is killed
// when the object goes away and also when the test process dies, so no
// server outlives its test.
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

    // Starts argv[0] (searched on PATH) with its output appended to
    // strLogPath (empty: /dev/null). False when it cannot be started.
    bool Start(const std::vector<std::string>& vecArgv, const std::string& strLogPath);
    // Sends nSignal, waits up to nGraceMs, then kills. Safe to call twice.
    void Stop(int nSignal = 15, int nGraceMs = 2000);
    bool IsRunning();

private:
    pid_t m_nPid = -1;
};

// A 127.0.0.1 port that was free a moment ago (bound to port 0, released).
int FindFreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:nPort.
bool WaitForLoopbackPort(int nPort, int nTimeoutMs);
// Waits up to nTimeoutMs for a whole line of the file that is strPrefix and
// then a digit (a server naming its port or display); the rest of the line.
bool WaitForNumberLine(const std::string& strPath, const std::string& strPrefix, int nTimeoutMs,
                       std::string* pstrRest);
