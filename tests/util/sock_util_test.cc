#include "util/sock_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"

namespace {

// The helpers log their failures, so the suite runs with a real log.
class CLogEnvironment : public testing::Environment {
public:
    void SetUp() override { m_pCapture = std::make_unique<CLogCapture>(); }
    void TearDown() override { m_pCapture.reset(); }
    std::unique_ptr<CLogCapture> m_pCapture;
};

auto* const g_pLogEnvironment =
    static_cast<CLogEnvironment*>(testing::AddGlobalTestEnvironment(new CLogEnvironment));

std::string LogText() {
    return g_pLogEnvironment->m_pCapture->Text();
}

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
    int m_fdA = -1;
    int m_fdB = -1;
    CTcpPair() {
        int fdListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(0);
        if (bind(fdListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            listen(fdListen, 1) == 0) {
            addr = Loopback(PortOf(fdListen));
            m_fdA = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(m_fdA, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
                m_fdB = accept4(fdListen, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        close(fdListen);
    }
    ~CTcpPair() {
        CloseA();
        CloseB();
    }
    bool Ok() const { return m_fdA >= 0 && m_fdB >= 0; }
    void CloseA() {
        if (m_fdA >= 0)
            close(m_fdA);
        m_fdA = -1;
    }
    void CloseB() {
        if (m_fdB >= 0)
            close(m_fdB);
        m_fdB = -1;
    }
};

struct CUdpSocket {
    int m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int m_nPort = 0;
    CUdpSocket() {
        sockaddr_in addr = Loopback(0);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
            m_nPort = PortOf(m_fd);
        }
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

void SendRaw(int fd, const std::string& strData) {
    ASSERT_EQ(static_cast<ssize_t>(strData.size()),
              send(fd, strData.data(), strData.size(), MSG_NOSIGNAL));
}

TEST(SockFrame, FiveBytesGoOutBehindTheLengthField) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    EXPECT_EQ(5, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, 5, "hello"));
    EXPECT_EQ("00000005hello", Drain(pair.m_fdB));
}

TEST(SockFrame, ZeroLengthFrameIsTheFieldAlone) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    EXPECT_EQ(0, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, 0, nullptr));
    EXPECT_EQ("00000000", Drain(pair.m_fdB));

    // Received, it completes without waiting for data that never comes.
    EXPECT_EQ(0, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, 0, nullptr));
    std::vector<char> vecBuff;
    int64_t nStart = NowMs();
    EXPECT_EQ(8, CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 10, vecBuff));
    EXPECT_LT(NowMs() - nStart, 5000);
    ASSERT_GE(vecBuff.size(), 8u);
    EXPECT_EQ("00000000", std::string(vecBuff.data(), 8));
}

TEST(SockFrame, LengthsOutsideTheFieldAreRefusedUnsent) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    EXPECT_EQ(-2, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, 100000000, "x"));
    EXPECT_EQ(-2, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, -1, "x"));
    EXPECT_EQ("", Drain(pair.m_fdB, 100));
    EXPECT_NE(std::string::npos,
              LogText().find("CSockUtil::SendDataTcpSocket> Invalid Data Length = 100000000"));
}

TEST(SockFrame, ReceiveEnlargesTheCallersBuffer) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
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
    EXPECT_EQ(100008, nResult);
    ASSERT_GE(vecBuff.size(), 100008u);
    EXPECT_EQ("00100000", std::string(vecBuff.data(), 8));
    EXPECT_TRUE(std::string(vecBuff.data() + 8, strData.size()) == strData);

    // A buffer that is large enough is used as it is and not shrunk.
    std::vector<char> vecBig(4096);
    EXPECT_EQ(3, CSockUtil::SendDataTcpSocket(pair.m_fdA, 0, 3, "abc"));
    EXPECT_EQ(11, CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 10, vecBig));
    EXPECT_EQ(4096u, vecBig.size());
    EXPECT_EQ("00000003abc", std::string(vecBig.data(), 11));
}

TEST(SockFrame, PeerClosingMidFrameFails) {
    {
        CTcpPair pair;
        ASSERT_TRUE(pair.Ok());
        SendRaw(pair.m_fdA, "00000010abc");
        pair.CloseA();
        std::vector<char> vecBuff;
        EXPECT_EQ(-3, CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 10, vecBuff));
    }
    EXPECT_NE(
        std::string::npos,
        LogText().find("CSockUtil::RecvDataTcpSocketTimeout> Recv Data Field Fail, RetVal = 0"));
    {
        CTcpPair pair;
        ASSERT_TRUE(pair.Ok());
        SendRaw(pair.m_fdA, "0000");
        pair.CloseA();
        std::vector<char> vecBuff;
        EXPECT_EQ(-1, CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 10, vecBuff));
        EXPECT_TRUE(vecBuff.empty());
    }
    EXPECT_NE(
        std::string::npos,
        LogText().find("CSockUtil::RecvDataTcpSocketTimeout> Recv Length Field Fail, RetVal = 0"));
}

TEST(SockFrame, LengthFieldMustBeEightDigits) {
    for (const char* pszField :
         {"-0000001", " 1234567", "0000001a", "+0000005", "\x01\x02\x03\x04\x05\x06\x07\x08"}) {
        CTcpPair pair;
        ASSERT_TRUE(pair.Ok());
        SendRaw(pair.m_fdA, std::string(pszField) + "payload");
        std::vector<char> vecBuff(4);
        EXPECT_EQ(-1, CSockUtil::RecvDataTcpSocketTimeout(pair.m_fdB, 5, vecBuff)) << pszField;
        EXPECT_EQ(4u, vecBuff.size());
    }
}

TEST(SockTcp, SendStopsAfterTheMaximumNumberOfCalls) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    // Non-blocking with small buffers: one call cannot take everything, and a
    // second call would fail or send more.
    int nSmall = 4096;
    setsockopt(pair.m_fdA, SOL_SOCKET, SO_SNDBUF, &nSmall, sizeof(nSmall));
    setsockopt(pair.m_fdB, SOL_SOCKET, SO_RCVBUF, &nSmall, sizeof(nSmall));
    fcntl(pair.m_fdA, F_SETFL, fcntl(pair.m_fdA, F_GETFL) | O_NONBLOCK);
    std::string strData(4 << 20, 'q');
    int nSent =
        CSockUtil::SendTcpSocket(pair.m_fdA, 1, static_cast<int>(strData.size()), strData.data());
    EXPECT_GT(nSent, 0);
    EXPECT_LT(nSent, static_cast<int>(strData.size()));
    EXPECT_EQ(static_cast<size_t>(nSent), Drain(pair.m_fdB).size());
}

TEST(SockTcp, SendWithoutLimitDeliversEverything) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    std::string strData(1 << 20, 'w');
    std::string strGot;
    std::thread reader([&] { strGot = Drain(pair.m_fdB, 2000); });
    EXPECT_EQ(
        static_cast<int>(strData.size()),
        CSockUtil::SendTcpSocket(pair.m_fdA, 0, static_cast<int>(strData.size()), strData.data()));
    pair.CloseA();
    reader.join();
    EXPECT_EQ(strData.size(), strGot.size());
}

TEST(SockTcp, SendToAClosedPeerFailsWithoutEndingTheProcess) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    pair.CloseB();
    std::string strData(1000, 'x');
    int nResult = 0;
    for (int i = 0; i < 50 && nResult >= 0; ++i) {
        nResult = CSockUtil::SendTcpSocket(pair.m_fdA, 0, static_cast<int>(strData.size()),
                                           strData.data());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(-1, nResult);
    EXPECT_NE(std::string::npos,
              LogText().find("CSockUtil::SendTcpSocket> send() Fail, ErrCode = "));
}

TEST(SockTcp, TimeoutReceiveWithASilentPeerEndsAfterTheTimeout) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    char buf[16];
    int64_t nStart = NowMs();
    EXPECT_EQ(0, CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 1, 16, buf));
    int64_t nElapsed = NowMs() - nStart;
    EXPECT_GE(nElapsed, 1000);
    EXPECT_LE(nElapsed, 2500);
}

TEST(SockTcp, TimeoutReceiveCollectsPiecesAndReportsPartialOnTimeout) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    std::thread sender([&] {
        send(pair.m_fdA, "abc", 3, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        send(pair.m_fdA, "defgh", 5, MSG_NOSIGNAL);
    });
    char buf[8] = {};
    EXPECT_EQ(8, CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 10, 8, buf));
    sender.join();
    EXPECT_EQ("abcdefgh", std::string(buf, 8));

    // Part of the bytes within the time-out: the count collected.
    SendRaw(pair.m_fdA, "xyz");
    char buf2[10] = {};
    EXPECT_EQ(3, CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 1, 10, buf2));
    EXPECT_EQ("xyz", std::string(buf2, 3));
}

TEST(SockTcp, ClosedPeerAndBadSocket) {
    CTcpPair pair;
    ASSERT_TRUE(pair.Ok());
    pair.CloseA();
    char buf[4];
    EXPECT_EQ(0, CSockUtil::RecvTcpSocketTimeout(pair.m_fdB, 10, 4, buf));
    EXPECT_EQ(0, CSockUtil::RecvTcpSocket(pair.m_fdB, 4, buf));

    int fdClosed = pair.m_fdB;
    pair.CloseB();
    EXPECT_EQ(-1, CSockUtil::RecvTcpSocket(fdClosed, 4, buf));
    EXPECT_EQ(-1, CSockUtil::RecvTcpSocketTimeout(fdClosed, 1, 4, buf));
    std::string strLog = LogText();
    EXPECT_NE(std::string::npos, strLog.find("CSockUtil::RecvTcpSocket> recv() Fail, ErrCode = 9"));
    EXPECT_NE(std::string::npos,
              strLog.find("CSockUtil::RecvTcpSocketTimeout> select() Fail, ErrCode = 9"));
}

TEST(SockUdp, RoundTripReportsTheSender) {
    CUdpSocket sender;
    CUdpSocket receiver;
    ASSERT_NE(0, sender.m_nPort);
    ASSERT_NE(0, receiver.m_nPort);
    EXPECT_EQ(5, CSockUtil::SendUdpSocket(sender.m_fd, "127.0.0.1", receiver.m_nPort, 5, "hello"));
    char buf[64] = {};
    std::string strFrom;
    int nFromPort = 0;
    EXPECT_EQ(5, CSockUtil::RecvUdpSocketTimeout(receiver.m_fd, 5, sizeof(buf), buf, &strFrom,
                                                 &nFromPort));
    EXPECT_EQ("hello", std::string(buf, 5));
    EXPECT_EQ("127.0.0.1", strFrom);
    EXPECT_EQ(sender.m_nPort, nFromPort);

    EXPECT_EQ(2, CSockUtil::SendUdpSocket(sender.m_fd, "127.0.0.1", receiver.m_nPort, 2, "hi"));
    EXPECT_EQ(2, CSockUtil::RecvUdpSocket(receiver.m_fd, sizeof(buf), buf));
}

TEST(SockUdp, TimeoutZeroReturnsZeroWhenNothingArrives) {
    CUdpSocket receiver;
    char buf[16];
    std::string strFrom = "unchanged";
    EXPECT_EQ(0, CSockUtil::RecvUdpSocketTimeout(receiver.m_fd, 0, sizeof(buf), buf, &strFrom));
    EXPECT_EQ("unchanged", strFrom);
    std::string strLog = LogText();
    EXPECT_NE(std::string::npos,
              strLog.find("CSockUtil::RecvUdpSocketTimeout> Recv Timeout = 0, BuffSize = 16"));
    EXPECT_NE(std::string::npos,
              strLog.find("CSockUtil::RecvUdpSocketTimeout> Recv Timeout, Timeout = 0"));
}

TEST(SockUdp, UnparsableAddressSendsNothing) {
    CUdpSocket sender;
    EXPECT_EQ(-1, CSockUtil::SendUdpSocket(sender.m_fd, "not.an.address", 9, 2, "hi"));
    EXPECT_EQ(-1, CSockUtil::SendUdpSocket(sender.m_fd, nullptr, 9, 2, "hi"));
    EXPECT_NE(std::string::npos,
              LogText().find("CSockUtil::SendUdpSocket> sendto() Fail, RetVal = -1, ErrCode = 22"));
}

TEST(SockLocal, LocalAddressIsDottedTextOrLeftAlone) {
    std::string strAddr = "untouched";
    int nResult = CSockUtil::GetLocalIpAddr(&strAddr);
    char szAddr[16] = "untouched";
    EXPECT_EQ(nResult, CSockUtil::GetLocalIpAddr(szAddr));
    if (nResult == 0) {
        in_addr addr{};
        EXPECT_EQ(1, inet_pton(AF_INET, strAddr.c_str(), &addr)) << strAddr;
        EXPECT_EQ(strAddr, szAddr);
    } else {
        EXPECT_TRUE(nResult == -1 || nResult == -2);
        EXPECT_EQ("untouched", strAddr);
        EXPECT_STREQ("untouched", szAddr);
    }
}

}  // namespace
