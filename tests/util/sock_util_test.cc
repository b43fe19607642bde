// The socket helpers: length-framed messages, time-outs, closed peers and bad
// sockets over a connected stream pair; UDP over loopback; the local address.
#include "util/sock_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::steady_clock;

struct CPair {
    int m_fd[2] = {-1, -1};
    CPair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fd); }
    ~CPair() { Close(0), Close(1); }
    void Close(int i) { close(m_fd[i]), m_fd[i] = -1; }
};

// What arrives until nothing more comes for nQuietMs.
std::string Drain(int fd, int nQuietMs = 300) {
    std::string strData;
    char buf[65536];
    pollfd pfd{fd, POLLIN, 0};
    for (ssize_t n; poll(&pfd, 1, nQuietMs) > 0 && (n = recv(fd, buf, sizeof(buf), 0)) > 0;)
        strData.append(buf, static_cast<size_t>(n));
    return strData;
}

int64_t MsSince(steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start)
        .count();
}

TEST(SockUtilTest, FramesGoOutBehindAnEightDigitLength) {
    const struct {
        int nLength;
        const char* pszData;
        int nResult;
        const char* pszWire;
    } kCases[] = {{5, "hello", 5, "00000005hello"},
                  {0, nullptr, 0, "00000000"},
                  {100000000, "x", -2, ""},
                  {-1, "x", -2, ""}};
    for (const auto& c : kCases) {
        CPair pair;
        EXPECT_EQ(CSockUtil::SendDataTcpSocket(pair.m_fd[0], 0, c.nLength, c.pszData), c.nResult);
        EXPECT_EQ(Drain(pair.m_fd[1], 100), c.pszWire) << c.nLength;
    }
}

// What arrives (the sender closing after it when asked) and the result: the
// whole frame, a field that is not eight digits, or data cut short.
TEST(SockUtilTest, FramesAreReceivedWholeOrRefused) {
    const struct {
        std::string strWire;
        bool bClose;
        int nResult;
    } kCases[] = {
        {"00000003abc", false, 11}, {"00000000", false, 8},         {"00000010abc", true, -3},
        {"0000", true, -1},         {"-0000001payload", false, -1}, {"0000001apayload", false, -1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.strWire);
        CPair pair;
        ASSERT_EQ(send(pair.m_fd[0], c.strWire.data(), c.strWire.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(c.strWire.size()));
        if (c.bClose)
            pair.Close(0);
        std::vector<char> vecBuff(4096);
        auto start = steady_clock::now();
        EXPECT_EQ(CSockUtil::RecvDataTcpSocketTimeout(pair.m_fd[1], 5, vecBuff), c.nResult);
        EXPECT_LT(MsSince(start), 4000);
        EXPECT_EQ(vecBuff.size(), 4096u);  // large enough: never shrunk
        if (c.nResult > 0) {
            EXPECT_EQ(std::string(vecBuff.data(), static_cast<size_t>(c.nResult)), c.strWire);
        }
    }
}

// A frame larger than the socket buffers, sent alongside, enlarges the buffer.
TEST(SockUtilTest, ReceiveEnlargesTheCallersBuffer) {
    CPair pair;
    std::string strData(100000, '\0');
    for (size_t i = 0; i < strData.size(); ++i)
        strData[i] = static_cast<char>(i * 7);
    std::thread sender(
        [&] { CSockUtil::SendDataTcpSocket(pair.m_fd[0], 0, 100000, strData.data()); });
    std::vector<char> vecBuff(16, 'z');
    int nResult = CSockUtil::RecvDataTcpSocketTimeout(pair.m_fd[1], 10, vecBuff);
    sender.join();
    ASSERT_EQ(nResult, 100008);
    EXPECT_TRUE(std::string(vecBuff.data(), 100008) == "00100000" + strData);
}

// Non-blocking with small buffers, one call cannot send everything; a closed
// peer or socket fails without ending the process.
TEST(SockUtilTest, SendLimitsClosedPeersAndBadSockets) {
    CPair pair;
    int nSmall = 4096;
    setsockopt(pair.m_fd[0], SOL_SOCKET, SO_SNDBUF, &nSmall, sizeof(nSmall));
    fcntl(pair.m_fd[0], F_SETFL, fcntl(pair.m_fd[0], F_GETFL) | O_NONBLOCK);
    std::string strData(4 << 20, 'q');
    int nSent =
        CSockUtil::SendTcpSocket(pair.m_fd[0], 1, static_cast<int>(strData.size()), strData.data());
    EXPECT_GT(nSent, 0);
    EXPECT_LT(nSent, static_cast<int>(strData.size()));
    EXPECT_EQ(Drain(pair.m_fd[1]).size(), static_cast<size_t>(nSent));
    pair.Close(1);
    EXPECT_EQ(CSockUtil::SendTcpSocket(pair.m_fd[0], 0, 1000, strData.data()), -1);

    CPair other;
    other.Close(0);
    char buf[4];
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(other.m_fd[1], 10, 4, buf), 0);
    EXPECT_EQ(CSockUtil::RecvTcpSocket(other.m_fd[1], 4, buf), 0);
    int fdClosed = other.m_fd[1];
    other.Close(1);
    EXPECT_EQ(CSockUtil::RecvTcpSocket(fdClosed, 4, buf), -1);
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(fdClosed, 1, 4, buf), -1);
}

// Pieces are collected until the count; on time-out, what came so far.
TEST(SockUtilTest, TimeoutReceive) {
    CPair pair;
    std::thread sender([&] {
        send(pair.m_fd[0], "abc", 3, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        send(pair.m_fd[0], "defgh", 5, MSG_NOSIGNAL);
    });
    char buf[10] = {};
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fd[1], 10, 8, buf), 8);
    sender.join();
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");
    send(pair.m_fd[0], "xyz", 3, MSG_NOSIGNAL);
    auto start = steady_clock::now();
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fd[1], 1, 10, buf), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(CSockUtil::RecvTcpSocketTimeout(pair.m_fd[1], 1, 10, buf), 0);
    EXPECT_GE(MsSince(start), 2000);
    EXPECT_LE(MsSince(start), 4000);
}

TEST(SockUtilTest, UdpOverLoopback) {
    int fd[2];
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t nLen = sizeof(addr);
    int nPort[2];
    for (int i = 0; i < 2; ++i) {
        fd[i] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        addr.sin_port = 0;
        bind(fd[i], reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        getsockname(fd[i], reinterpret_cast<sockaddr*>(&addr), &nLen);
        nPort[i] = ntohs(addr.sin_port);
    }
    EXPECT_EQ(CSockUtil::SendUdpSocket(fd[0], "127.0.0.1", nPort[1], 5, "hello"), 5);
    char buf[64] = {};
    std::string strFrom;
    int nFromPort = 0;
    EXPECT_EQ(CSockUtil::RecvUdpSocketTimeout(fd[1], 5, sizeof(buf), buf, &strFrom, &nFromPort), 5);
    EXPECT_EQ(std::string(buf, 5) + " " + strFrom + ":" + std::to_string(nFromPort),
              "hello 127.0.0.1:" + std::to_string(nPort[0]));
    EXPECT_EQ(CSockUtil::SendUdpSocket(fd[0], "127.0.0.1", nPort[1], 2, "hi"), 2);
    EXPECT_EQ(CSockUtil::RecvUdpSocket(fd[1], sizeof(buf), buf), 2);
    // A time-out of 0 returns at once; an address that does not parse sends nothing.
    strFrom = "unchanged";
    EXPECT_EQ(CSockUtil::RecvUdpSocketTimeout(fd[1], 0, sizeof(buf), buf, &strFrom), 0);
    EXPECT_EQ(strFrom, "unchanged");
    EXPECT_EQ(CSockUtil::SendUdpSocket(fd[0], "not.an.address", 9, 2, "hi"), -1);
    close(fd[0]), close(fd[1]);
}

TEST(SockUtilTest, LocalAddressIsDottedTextOrLeftAlone) {
    std::string strAddr = "untouched";
    char szAddr[16] = "untouched";
    int nResult = CSockUtil::GetLocalIpAddr(&strAddr);
    EXPECT_EQ(CSockUtil::GetLocalIpAddr(szAddr), nResult);
    in_addr addr{};
    EXPECT_EQ(inet_pton(AF_INET, strAddr.c_str(), &addr), nResult == 0 ? 1 : 0) << strAddr;
    EXPECT_EQ(strAddr, szAddr);
}

}  // namespace
