#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "log/my_log.h"
#include "platform/clock.h"
#include "util/sock_util.h"

namespace {

constexpr uint64_t kWaitStepMs = 1000;

uint64_t ElapsedMs(uint64_t nStartMs) {
    return platform::SystemClock().TickCountMs() - nStartMs;
}

uint64_t TimeoutMs(int nTimeoutSec) {
    return nTimeoutSec > 0 ? static_cast<uint64_t>(nTimeoutSec) * 1000 : 0;
}

// One wait step: a second, cut short so that the last step ends just past
// the time-out instead of up to a second later.
int StepMs(uint64_t nStartMs, uint64_t nLimitMs) {
    uint64_t nElapsed = ElapsedMs(nStartMs);
    uint64_t nLeft = nElapsed > nLimitMs ? 0 : nLimitMs - nElapsed + 1;
    return static_cast<int>(nLeft < kWaitStepMs ? nLeft : kWaitStepMs);
}

// 1 readable (or closed, or failed: the receive tells which), 0 nothing
// within nWaitMs, -1 the wait failed with errno set. poll has no limit on
// descriptor numbers, unlike select.
int WaitReadable(TideSocket sock, int nWaitMs) {
    pollfd pfd{};
    pfd.fd = sock;
    pfd.events = POLLIN;
    int nResult = poll(&pfd, 1, nWaitMs);
    if (nResult < 0)
        return errno == EINTR ? 0 : -1;
    if (nResult == 0)
        return 0;
    if ((pfd.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return 1;
}

int LowTick(uint64_t nTickMs) {
    return static_cast<int>(static_cast<uint32_t>(nTickMs));
}

}  // namespace

int CSockUtil::GetLocalIpAddr(std::string* pstrIpAddr) {
    // Host names may be longer than a fixed small buffer; a truncated name
    // would fail here for no good reason.
    char szHost[256] = {};
    if (gethostname(szHost, sizeof(szHost) - 1) != 0) {
        int nErr = errno;
        TideLog(4, "CSockUtil::GetLocalIpAddr> gethostname() Fail, ErrCode = %d", nErr);
        return -1;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    int nRc = getaddrinfo(szHost, nullptr, &hints, &pResult);
    if (nRc != 0 || pResult == nullptr) {
        int nErr = nRc == EAI_SYSTEM ? errno : nRc;
        if (pResult != nullptr)
            freeaddrinfo(pResult);
        TideLog(4, "CSockUtil::GetLocalIpAddr> gethostbyname() Fail, ErrCode = %d", nErr);
        return -2;
    }
    char szAddr[INET_ADDRSTRLEN] = {};
    const auto* pAddr = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr);
    inet_ntop(AF_INET, &pAddr->sin_addr, szAddr, sizeof(szAddr));
    freeaddrinfo(pResult);
    *pstrIpAddr = szAddr;
    return 0;
}

int CSockUtil::GetLocalIpAddr(char* pszIpAddr) {
    std::string strAddr;
    int nResult = GetLocalIpAddr(&strAddr);
    if (nResult == 0)
        snprintf(pszIpAddr, INET_ADDRSTRLEN, "%s", strAddr.c_str());
    return nResult;
}

int CSockUtil::SendTcpSocket(TideSocket sock, int nMaxSendCount, int nLength, const char* pData) {
    int nSent = 0;
    int nCalls = 0;
    while (nSent < nLength) {
        // A peer that has gone must give an error, not a signal that ends
        // the process.
        ssize_t nResult =
            send(sock, pData + nSent, static_cast<size_t>(nLength - nSent), MSG_NOSIGNAL);
        if (nResult < 0) {
            if (errno == EINTR)
                continue;
            int nErr = errno;
            TideLog(4, "CSockUtil::SendTcpSocket> send() Fail, ErrCode = %d", nErr);
            return -1;
        }
        nSent += static_cast<int>(nResult);
        if (++nCalls == nMaxSendCount)
            break;
    }
    return nSent;
}

int CSockUtil::RecvTcpSocket(TideSocket sock, int nLength, char* pBuff) {
    ssize_t nResult;
    do {
        nResult = recv(sock, pBuff, static_cast<size_t>(nLength > 0 ? nLength : 0), 0);
    } while (nResult < 0 && errno == EINTR);
    if (nResult < 0) {
        int nErr = errno;
        TideLog(4, "CSockUtil::RecvTcpSocket> recv() Fail, ErrCode = %d", nErr);
        return -1;
    }
    return static_cast<int>(nResult);
}

int CSockUtil::RecvTcpSocketTimeout(TideSocket sock, int nTimeoutSec, int nLength, char* pBuff) {
    uint64_t nStartMs = platform::SystemClock().TickCountMs();
    uint64_t nLimitMs = TimeoutMs(nTimeoutSec);
    int nTotal = 0;
    int nRemain = nLength;
    // Nothing to collect is done at once rather than after a wait.
    while (nRemain > 0) {
        int nWait = WaitReadable(sock, StepMs(nStartMs, nLimitMs));
        if (nWait < 0) {
            int nErr = errno;
            TideLog(4, "CSockUtil::RecvTcpSocketTimeout> select() Fail, ErrCode = %d", nErr);
            return -1;
        }
        if (nWait == 0) {
            if (ElapsedMs(nStartMs) > nLimitMs)
                break;
            continue;
        }
        int nResult = RecvTcpSocket(sock, nRemain, pBuff + nTotal);
        if (nResult <= 0)
            return nResult;
        nTotal += nResult;
        nRemain -= nResult;
        if (ElapsedMs(nStartMs) > nLimitMs)
            break;
    }
    return nTotal;
}

int CSockUtil::SendDataTcpSocket(TideSocket sock, int nMaxSendCount, int nLength,
                                 const char* pData) {
    // More than eight digits would shift the data and corrupt the frame.
    if (nLength < 0 || nLength > kMaxFrameData) {
        TideLog(4, "CSockUtil::SendDataTcpSocket> Invalid Data Length = %d", nLength);
        return -2;
    }
    size_t nFrame = static_cast<size_t>(kFrameHeader) + static_cast<size_t>(nLength);
    char* pFrame = static_cast<char*>(malloc(nFrame));
    if (pFrame == nullptr) {
        int nErr = errno;
        TideLog(4, "CSockUtil::SendDataTcpSocket> malloc() Fail, ErrCode = %d", nErr);
        return -1;
    }
    char szField[kFrameHeader + 1];
    snprintf(szField, sizeof(szField), "%08d", nLength);
    memcpy(pFrame, szField, kFrameHeader);
    if (nLength > 0)
        memcpy(pFrame + kFrameHeader, pData, static_cast<size_t>(nLength));

    int nSent = SendTcpSocket(sock, nMaxSendCount, static_cast<int>(nFrame), pFrame);
    free(pFrame);
    if (nSent != static_cast<int>(nFrame)) {
        TideLog(4, "CSockUtil::SendDataTcpSocket> Can't Send All Data");
        return -2;
    }
    return nLength;
}

int CSockUtil::RecvDataTcpSocketTimeout(TideSocket sock, int nTimeoutSec,
                                        std::vector<char>& vecBuff) {
    char szField[kFrameHeader];
    int nResult = RecvTcpSocketTimeout(sock, nTimeoutSec, kFrameHeader, szField);
    if (nResult != kFrameHeader) {
        TideLog(4, "CSockUtil::RecvDataTcpSocketTimeout> Recv Length Field Fail, RetVal = %d",
                      nResult);
        return -1;
    }
    // Only eight plain digits are a length; a sign, blanks or garbage would
    // otherwise give a wrong or negative size.
    int nLength = 0;
    for (char c : szField) {
        if (c < '0' || c > '9') {
            TideLog(4, "CSockUtil::RecvDataTcpSocketTimeout> Invalid Length Field");
            return -1;
        }
        nLength = nLength * 10 + (c - '0');
    }

    size_t nFrame = static_cast<size_t>(kFrameHeader) + static_cast<size_t>(nLength);
    if (nFrame > vecBuff.size()) {
        try {
            vecBuff.resize(nFrame);
        } catch (const std::bad_alloc&) {
            TideLog(4, "CSockUtil::RecvDataTcpSocketTimeout> realloc() Fail, ErrCode = %d",
                          ENOMEM);
            return -2;
        }
    }
    memcpy(vecBuff.data(), szField, kFrameHeader);
    nResult = RecvTcpSocketTimeout(sock, nTimeoutSec, nLength, vecBuff.data() + kFrameHeader);
    if (nResult != nLength) {
        TideLog(4, "CSockUtil::RecvDataTcpSocketTimeout> Recv Data Field Fail, RetVal = %d",
                      nResult);
        return -3;
    }
    return static_cast<int>(nFrame);
}

int CSockUtil::SendUdpSocket(TideSocket sock, const char* pszIpAddr, int nPort, int nLength,
                             const char* pData) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    ssize_t nResult = -1;
    int nErr = EINVAL;
    if (nLength >= 0 && pszIpAddr != nullptr &&
        inet_pton(AF_INET, pszIpAddr, &addr.sin_addr) == 1) {
        do {
            nResult = sendto(sock, pData, static_cast<size_t>(nLength), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
        } while (nResult < 0 && errno == EINTR);
        nErr = errno;
    }
    if (nResult != nLength) {
        TideLog(4, "CSockUtil::SendUdpSocket> sendto() Fail, RetVal = %d, ErrCode = %d",
                      static_cast<int>(nResult), nErr);
        return -1;
    }
    return static_cast<int>(nResult);
}

int CSockUtil::RecvUdpSocket(TideSocket sock, int nBuffSize, char* pBuff, std::string* pstrFromAddr,
                             int* pnFromPort) {
    sockaddr_in from{};
    socklen_t nFromLen = sizeof(from);
    ssize_t nResult;
    do {
        nFromLen = sizeof(from);
        nResult = recvfrom(sock, pBuff, static_cast<size_t>(nBuffSize > 0 ? nBuffSize : 0), 0,
                           reinterpret_cast<sockaddr*>(&from), &nFromLen);
    } while (nResult < 0 && errno == EINTR);
    if (nResult < 0) {
        int nErr = errno;
        TideLog(4, "CSockUtil::RecvUdpSocket> recvfrom() Fail, ErrCode = %d", nErr);
        return -1;
    }
    if (pstrFromAddr != nullptr) {
        char szAddr[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, szAddr, sizeof(szAddr));
        *pstrFromAddr = szAddr;
    }
    if (pnFromPort != nullptr)
        *pnFromPort = ntohs(from.sin_port);
    return static_cast<int>(nResult);
}

int CSockUtil::RecvUdpSocketTimeout(TideSocket sock, int nTimeoutSec, int nBuffSize, char* pBuff,
                                    std::string* pstrFromAddr, int* pnFromPort) {
    uint64_t nStartMs = platform::SystemClock().TickCountMs();
    uint64_t nLimitMs = TimeoutMs(nTimeoutSec);
    TideLog(1, "CSockUtil::RecvUdpSocketTimeout> Recv Timeout = %d, BuffSize = %d",
                  nTimeoutSec, nBuffSize);
    TideLog(1, "CSockUtil::RecvUdpSocketTimeout> Start Tick Count = %d", LowTick(nStartMs));
    for (;;) {
        int nWait = WaitReadable(sock, StepMs(nStartMs, nLimitMs));
        if (nWait < 0) {
            int nErr = errno;
            TideLog(1, "CSockUtil::RecvUdpSocketTimeout> select() Fail, ErrCode = %d", nErr);
            return -1;
        }
        if (nWait > 0)
            return RecvUdpSocket(sock, nBuffSize, pBuff, pstrFromAddr, pnFromPort);
        uint64_t nNowMs = platform::SystemClock().TickCountMs();
        TideLog(1,
                      "CSockUtil::RecvUdpSocketTimeout> select() Timeout, Current Tick Count = %d",
                      LowTick(nNowMs));
        if (nNowMs - nStartMs > nLimitMs) {
            TideLog(1, "CSockUtil::RecvUdpSocketTimeout> Recv Timeout, Timeout = %d",
                          nTimeoutSec);
            return 0;
        }
    }
}
