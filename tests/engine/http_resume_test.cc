// Resumed downloads against nginx: a large download stopped half way keeps
// its part, and the next attempt asks for the rest; whatever happened in
// between, the finished file is the server's, byte for byte.
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/resume.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "util/crypto.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kFileBytes = 2 * 1024 * 1024;

std::string HashOf(const std::string& strData) {
    CSha256 sha;
    sha.Update(strData.data(), strData.size());
    return sha.HexDigest();
}

class ResumeTest : public CHttpTestBase {
protected:
    static void SetUpTestSuite() {
        s_pNginx = new CNginxServer;
        NginxOptions options;
        // nginx sends a second's worth at once, then slows down: a stop
        // after the first megabyte lands half way through.
        options.strServerSnippet =
            "location /base/slow/ { limit_rate 1m; }\n"
            "location /base/slowgz/ { limit_rate 1m; gzip_static always; }\n";
        ASSERT_TRUE(s_pNginx->Start(options)) << s_pNginx->Error();
    }
    static void TearDownTestSuite() { delete s_pNginx; }

    // Starts the download and stops it while nginx holds back the second
    // megabyte.
    int DownloadAndCut(FileItem& item) {
        int nResult = 1;
        std::thread worker([&] { nResult = Download(item); });
        std::string strPart = PartPathOf(item.m_strTargetFile);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && !platform::FileExists(strPart))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pEngine->m_nRequestStopFlag = 1;
        worker.join();
        m_pEngine->m_nRequestStopFlag = 0;
        return nResult;
    }

    static CNginxServer* s_pNginx;
};

CNginxServer* ResumeTest::s_pNginx = nullptr;

// {what happens between the cut and the next attempt} -> the requests nginx
// answers, and the file is the one served last.
TEST_F(ResumeTest, CutDownloadGoesOnOrStartsOverAsTheServerFileSays) {
    struct Case {
        const char* pszName;
        // Acts on the served file and the part; returns the content served now.
        std::function<std::string(const std::string& strServed, const std::string& strPart)>
            fnBetween;
        std::vector<int> vecStatuses;  // of the GETs after the cut one
    } const kCases[] = {
        {"unchanged", [](const std::string&, const std::string&) { return std::string(); }, {206}},
        {"changed on the server",
         [](const std::string& strServed, const std::string&) {
             std::string strNew = PatternData(kFileBytes, 9);
             s_pNginx->WriteFile("base/slow/" + fs::path(strServed).filename().string(), strNew);
             platform::SetFileModifyTime(strServed, 1700000000);
             return strNew;
         },
         {200}},
        {"part damaged on disk",
         [](const std::string&, const std::string& strPart) {
             std::FILE* fp = std::fopen(strPart.c_str(), "r+b");
             std::fputc('#', fp);
             std::fclose(fp);
             return std::string();
         },
         {206, 200}},
        {"meta cut short",
         [](const std::string&, const std::string& strPart) {
             fs::resize_file(strPart + ".meta", 10);
             return std::string();
         },
         {200}},
    };
    InitEngine(s_pNginx->Port());
    int nCase = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        std::string strName = "f" + std::to_string(++nCase) + ".bin";
        std::string strData = PatternData(kFileBytes, nCase);
        std::string strServed = s_pNginx->WriteFile("base/slow/" + strName, strData);
        platform::SetFileModifyTime(strServed, 1600000000);
        std::string strOld = m_dir.WriteFile("install/" + strName, "old and working");
        FileItem item = MakeItem("slow/" + strName, strName, std::to_string(kFileBytes));
        item.m_strSha256 = HashOf(strData);

        ASSERT_EQ(DownloadAndCut(item), -7);
        EXPECT_EQ(ReadWholeFile(strOld), "old and working");
        std::string strPart = PartPathOf(item.m_strTargetFile);
        platform::FileStatus part;
        ASSERT_TRUE(platform::GetFileStatus(strPart, &part));
        ASSERT_GT(part.nSize, 0u);
        ASSERT_LT(part.nSize, kFileBytes);
        ASSERT_TRUE(platform::FileExists(strPart + ".meta"));

        std::string strNew = c.fnBetween(strServed, strPart);
        if (!strNew.empty()) {
            strData = strNew;
            item.m_strSha256 = HashOf(strData);
        }
        EXPECT_EQ(Download(item), 0);
        EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strData);
        EXPECT_FALSE(platform::FileExists(strPart));
        EXPECT_FALSE(platform::FileExists(strPart + ".meta"));

        std::vector<NginxAccessEntry> vecLog =
            s_pNginx->AccessLogFor("/base/slow/" + strName, 1 + c.vecStatuses.size());
        ASSERT_EQ(vecLog.size(), 1 + c.vecStatuses.size());
        std::vector<int> vecStatuses;
        for (size_t i = 1; i < vecLog.size(); ++i)
            vecStatuses.push_back(vecLog[i].nStatus);
        EXPECT_EQ(vecStatuses, c.vecStatuses);
        if (vecStatuses.front() == 206) {
            // Only the rest crossed the wire.
            EXPECT_LT(vecLog[1].nBytesSent, static_cast<long long>(kFileBytes - part.nSize + 1024));
        }
    }
    EXPECT_EQ(CountLogLinesWith("' >> Resumed at byte "), 2);
    EXPECT_EQ(CountLogLinesWith("The server sent the whole file; the part kept is dropped."), 1);
    EXPECT_EQ(CountLogLinesWith("The part kept does not continue the server's file"), 1);
}

// A body that comes gzip-encoded although the list gave the plain size is
// not kept when cut off: the next attempt starts from byte 0.
TEST_F(ResumeTest, EncodedDownloadIsNotKept) {
    std::string strPlain = PatternData(kFileBytes, 4);
    s_pNginx->WriteFile("base/slowgz/big.bin.gz", GzipOf(strPlain));
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("slowgz/big.bin", "big.bin", std::to_string(kFileBytes));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pEngine->m_nRequestStopFlag = 1;
    });
    EXPECT_EQ(Download(item), -7);
    stopper.join();
    m_pEngine->m_nRequestStopFlag = 0;
    EXPECT_TRUE(fs::is_empty(m_dir.Sub("install")));
    EXPECT_EQ(Download(item), 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strPlain);
    EXPECT_EQ(s_pNginx->AccessLogFor("/base/slowgz/", 2).back().strRequest,
              "GET /base/slowgz/big.bin HTTP/1.1");
    EXPECT_EQ(CountLogLinesWith("Resumed at byte"), 0);
}

}  // namespace
