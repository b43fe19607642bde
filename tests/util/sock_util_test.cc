// The socket helpers over loopback: length-framed messages, time-outs,
// closed peers and bad sockets, UDP, the local address.
#include "util/sock_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

sockaddr_in Loopback(int nPort) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t nLen = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    return ntohs(addr.sin_port);
}

// A connected TCP pair over 127.0.0.1: m_fdA on the client side, m_fdB accepted.
struct CTcpPair {
    int m_fdA = -1, m_fdB = -1;
    CTcpPair() {
        int fdListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(0);
        if (bind(fdListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            listen(fdListen, 1) == 0) {
            addr = Loopback(PortOf(fdListen));
            m_fdA = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(m_fdA, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0)
                m_fdB = accept4(fdListen, nullptr, nullptr, SOCK_CLOEXEC);
        }
        close(fdListen);
    }
    ~CTcpPair() {
        Close(m_fdA);
        Close(m_fdB);
    }
    static void Close(int& fd) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

struct CUdpSocket {
    int m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int m_nPort = 0;
    CUdpSocket() {
        sockaddr_in addr = Loopback(0);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0)
            m_nPort = PortOf(m_fd);
    }
    ~CUdpSocket() { close(m_fd); }
};

// Reads what arrives until nothing more comes for nQuietMs.
std::string Drain(int fd, int nQuietMs = 300) {
    std::string strData;
    char buf[65536];
    pollfd pfd{fd, POLLIN, 0};
    while (poll(&pfd, 1, nQuietMs) > 0) {
        ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            break;
        strData.append(buf, static_cast<size_t>(n));
    }
    return strData;
}

class SockUtilTest : public ::testing::Test {
protected:
    CLogCapture m_log;
};

TEST_F(SockUtilTest, FramesGoOutBehindAnEightDigitLength) {
    const struct {
        int nLength;
        const char* pszData;
        int nResult;
        const char* pszWire;
    } kCases[] = {
        {5, "hello", 5, "00000005hello"},
        {0, nullptr, 0, "00000000"},
        {100000000, "x", -2, ""},  // does not fit the field: nothing sent
        {-1, "x", -2, ""},
    };
    for (const auto& c : kCases) {
        CTcpPair pair;
        ASSERT_GE(pair.m_fdB, 0);
        EXPECT_EQ(CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, c.nLength, c.pszData), c.nResult);
        EXPECT_EQ(Drain(pair.m_fdB, 100), c.pszWire) << c.nLength;
    }
    EXPECT_TRUE(
        m_log.Has("ERROR", "CSockUtil::SendDataTcpSocket> Invalid Data Length = 100000000"));
}

// What arrives (the sender closing after it when asked) and the result: the
// whole frame, a field that is not eight digits, or data cut short.
TEST_F(SockUtilTest, FramesAreReceivedWholeOrRefused) {
    const struct {
        std::string strWire;
        bool bClose;
        int nResult;
    } kCases[] = {
        {"00000003abc", false, 11},
        {"00000000", false, 8},  // completes without waiting for data
        {"00000010abc", true, -3},
        {"0000", true, -1},
        {"-0000001payload", false, -1},
        {" 1234567payload", false, -1},
        {"0000001apayload", false, -1},
        {"+0000005payload", false, -1},
        {"\x01\x02\x03\x04\x05\x06\x07\x08payload", false, -1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.strWire);
        CTcpPair pair;
        ASSERT_GE(pair.m_fdB, 0);
        ASSERT_EQ(send(pair.m_fdA, c.strWire.data(), c.strWire.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(c.strWire.size()));
        if (c.bClose)
            CTcpPair::Close(pair.m_fdA);
        std::vector<char> vecBuff(4096);
        int64_t nStart = NowMs();
        EXPECT_EQ(CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 5, vecBuff), c.nResult);
        EXPECT_LT(NowMs() - nStart, 4000);
        EXPECT_EQ(vecBuff.size(), 4096u);  // large enough: used as it is, never shrunk
        if (c.nResult > 0) {
            EXPECT_EQ(std::string(vecBuff.data(), static_cast<size_t>(c.nResult)), c.strWire);
        }
    }
    EXPECT_TRUE(m_log.Has("ERROR", "CSockUtil::RecvDataTcpSocketTimeout> Recv Data Field Fail"));
}

TEST_F(SockUtilTest, ReceiveEnlargesTheCallersBuffer) {
    CTcpPair pair;
    ASSERT_GE(pair.m_fdB, 0);
    std::string strData(100000, '\0');
    for (size_t i = 0; i < strData.size(); ++i)
        strData[i] = static_cast<char>(i * 7);
    // The sender runs alongside: the frame is larger than the socket buffers.
    std::thread sender([&] {
        CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, static_cast<int>(strData.size()),
                                     strData.data());
    });
    std::vector<char> vecBuff(16, 'z');
    int nResult = CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 10, vecBuff);
    sender.join();
    ASSERT_EQ(nResult, 100008);
    EXPECT_EQ(std::string(vecBuff.data(), 8), "00100000");
    EXPECT_TRUE(std::string(vecBuff.data() + 8, strData.size()) == strData);
}

TEST_F(SockUtilTest, SendStopsAfterTheMaximumNumberOfCalls) {
    CTcpPair pair;
    ASSERT_GE(pair.m_fdB, 0);
    // Non-blocking with small buffers: one call cannot take everything.
    int nSmall = 4096;
    setsockopt(pair.m_fdA, SOL_SOCKET, SO_SNDBUF, &nSmall, sizeof(nSmall));
    setsockopt(pair.m_fdB, SOL_SOCKET, SO_RCVBUF, &nSmall, sizeof(nSmall));
    fcntl(pair.m_fdA, F_SETFL, fcntl(pair.m_fdA, F_GETFL) | O_NONBLOCK);
    std::string strData(4 << 20, 'q');
    int nSent =
        CSockUtil::SendTcpSocket(pair.m_fdA, 1, static_cast<int>(strData.size()), strData.data());
    EXPECT_GT(nSent, 0);
    EXPECT_LT(nSent, static_cast<int>(strData.size()));
    EXPECT_EQ(Drain(pair.m_fdB).size(), static_cast<size_t>(nSent));
}

TEST_F(SockUtilTest, ClosedPeersAndBadSocketsFailWithoutEndingTheProcess) {
    CTcpPair pair;
    ASSERT_GE(pair.m_fdB, 0);
    CTcpPair::Close(pair.m_fdB);
    std::string strData(1000, 'x');
    int nResult = 0;
    for (int i = 0; i < 50 && nResult >= 0; ++i) {
        nResult = CSockUtil::SendTcpSocket(pair.m_fdA, 0, static_cast<int>(strData.size()),
                                           strData.data());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(nResult, -1);

    CTcpPair other;
    ASSERT_GE(other.m_fdB, 0);
    CTcpPair::Close(other.m_fdA);
    char buf[4];
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(other.m_fdB, 10, 4, buf), 0);
    EXPECT_EQ(CSockUtil::RecvTcpSocket(other.m_fdB, 4, buf), 0);
    int fdClosed = other.m_fdB;
    CTcpPair::Close(other.m_fdB);
    EXPECT_EQ(CSockUtil::RecvTcpSocket(fdClosed, 4, buf), -1);
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(fdClosed, 1, 4, buf), -1);
    EXPECT_TRUE(m_log.Has("ERROR", "CSockUtil::RecvTcpSocketTimeout> select() Fail, ErrCode = 9"));
}

// Pieces are collected until the count; on time-out, what came so far.
TEST_F(SockUtilTest, TimeoutReceive) {
    CTcpPair pair;
    ASSERT_GE(pair.m_fdB, 0);
    std::thread sender([&] {
        send(pair.m_fdA, "abc", 3, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        send(pair.m_fdA, "defgh", 5, MSG_NOSIGNAL);
    });
    char buf[10] = {};
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 10, 8, buf), 8);
    sender.join();
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");

    send(pair.m_fdA, "xyz", 3, MSG_NOSIGNAL);
    int64_t nStart = NowMs();
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 1, 10, buf), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 1, 10, buf), 0);
    int64_t nElapsed = NowMs() - nStart;
    EXPECT_GE(nElapsed, 2000);
    EXPECT_LE(nElapsed, 4000);
}

TEST_F(SockUtilTest, Udp) {
    CUdpSocket sender, receiver;
    ASSERT_NE(receiver.m_nPort, 0);
    EXPECT_EQ(CSockUtil::SendUdpSocket(sender.m_fd, "127.0.0.1", receiver.m_nPort, 5, "hello"), 5);
    char buf[64] = {};
    std::string strFrom;
    int nFromPort = 0;
    EXPECT_EQ(
        CSockUtil::RecvUdpSocketTimeout(receiver.m_fd, 5, sizeof(buf), buf, &strFrom, &nFromPort),
        5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(strFrom, "127.0.0.1");
    EXPECT_EQ(nFromPort, sender.m_nPort);
    EXPECT_EQ(CSockUtil::SendUdpSocket(sender.m_fd, "127.0.0.1", receiver.m_nPort, 2, "hi"), 2);
    EXPECT_EQ(CSockUtil::RecvUdpSocket(receiver.m_fd, sizeof(buf), buf), 2);

    // A time-out of 0 returns at once; an address that does not parse sends nothing.
    strFrom = "unchanged";
    EXPECT_EQ(CSockUtil::RecvUdpSocketTimeout(receiver.m_fd, 0, sizeof(buf), buf, &strFrom), 0);
    EXPECT_EQ(strFrom, "unchanged");
    EXPECT_EQ(CSockUtil::SendUdpSocket(sender.m_fd, "not.an.address", 9, 2, "hi"), -1);
    EXPECT_EQ(CSockUtil::SendUdpSocket(sender.m_fd, nullptr, 9, 2, "hi"), -1);
}

TEST_F(SockUtilTest, LocalAddressIsDottedTextOrLeftAlone) {
    std::string strAddr = "untouched";
    int nResult = CSockUtil::GetLocalIpAddr(&strAddr);
    char szAddr[16] = "untouched";
    EXPECT_EQ(CSockUtil::GetLocalIpAddr(szAddr), nResult);
    if (nResult == 0) {
        in_addr addr{};
        EXPECT_EQ(inet_pton(AF_INET, strAddr.c_str(), &addr), 1) << strAddr;
        EXPECT_EQ(strAddr, szAddr);
    } else {
        EXPECT_EQ(strAddr, "untouched");
        EXPECT_STREQ(szAddr, "untouched");
    }
}

}  // namespace
