// Static socket helpers: the local IPv4 address, length-framed TCP messages,
// plain TCP and UDP transfer with time-outs. The caller owns every socket;
// nothing here closes one. Failures are logged through g_pMyLog, which must
// exist before any of these runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
using TideSocket = uintptr_t;  // the system's SOCKET
#else
using TideSocket = int;
#endif

class CSockUtil {
public:
    virtual ~CSockUtil() = default;

    // Largest data length a frame's eight-digit field can carry.
    static constexpr int kMaxFrameData = 99999999;
    static constexpr int kFrameHeader = 8;

    // Dotted text of the host name's first IPv4 address. 0; -1 the host name
    // was not readable; -2 it did not resolve. The output is untouched on
    // failure. The char form writes at most 16 bytes with the terminator.
    static int GetLocalIpAddr(std::string* pstrIpAddr);
    static int GetLocalIpAddr(char* pszIpAddr);

    // Sends nLength bytes, stopping after nMaxSendCount send calls (0 = no
    // limit). Bytes sent, -1 on a send error.
    static int SendTcpSocket(TideSocket sock, int nMaxSendCount, int nLength, const char* pData);
    // One receive of up to nLength bytes: the count, 0 when the peer closed,
    // -1 on error.
    static int RecvTcpSocket(TideSocket sock, int nLength, char* pBuff);
    // Collects nLength bytes until the time-out, counted from the start of
    // the call, has passed. The count collected (less on time-out); 0 or -1
    // from a failing receive, -1 on a wait error.
    static int RecvTcpSocketTimeout(TideSocket sock, int nTimeoutSec, int nLength, char* pBuff);

    // Sends "%08d" of nLength, then the data. nLength; -1 no memory; -2 not
    // everything went out or the length does not fit the field.
    static int SendDataTcpSocket(TideSocket sock, int nMaxSendCount, int nLength,
                                 const char* pData);
    // Receives one frame into vecBuff, enlarging it when the frame does not
    // fit (it never shrinks). 8 + data length, the whole frame then at the
    // start of vecBuff; -1 length field missing or not eight digits; -2 no
    // memory; -3 the data did not all arrive.
    static int RecvDataTcpSocketTimeout(TideSocket sock, int nTimeoutSec,
                                        std::vector<char>& vecBuff);

    // One datagram to a dotted IPv4 address. Bytes sent; -1 when fewer went
    // out (an address that does not parse sends nothing).
    static int SendUdpSocket(TideSocket sock, const char* pszIpAddr, int nPort, int nLength,
                             const char* pData);
    // One datagram receive; the sender's dotted address and port when asked.
    // Bytes received, -1 on error.
    static int RecvUdpSocket(TideSocket sock, int nBuffSize, char* pBuff,
                             std::string* pstrFromAddr = nullptr, int* pnFromPort = nullptr);
    // As RecvUdpSocket, waiting at most about the time-out. 0 on time-out,
    // -1 on a wait error.
    static int RecvUdpSocketTimeout(TideSocket sock, int nTimeoutSec, int nBuffSize, char* pBuff,
                                    std::string* pstrFromAddr = nullptr, int* pnFromPort = nullptr);
};
