// The server URL of --init read into settings, and the list key check.
#include "app/client_setup.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

struct UrlCase {
    const char* pszUrl;
    const char* pszHost;
    int nPort;
    int nHttpsMode;
    const char* pszBase;
    const char* pszList;
};

const UrlCase kUrlCases[] = {
    {"http://127.0.0.1:8080/rel/", "127.0.0.1", 8080, 0, "rel", "_listfile.txt"},
    {"HTTPS://Update.Example.org/corvid5/prod/master", "Update.Example.org", 443, 2,
     "corvid5/prod/master", "_listfile.txt"},
    {"http://h/releases/1.0", "h", 80, 0, "releases/1.0", "_listfile.txt"},
    {"http://h:81/a//b/list%20one.txt", "h", 81, 0, "a/b", "list one.txt"},
    {"http://h/a/list.txt/", "h", 80, 0, "a/list.txt", "_listfile.txt"},
    {"https://[::1]:8443/r/x.lst", "::1", 8443, 2, "r", "x.lst"},
};

const char* const kRefusedUrls[] = {
    "ftp://h/r/",
    "http://h/",  // no folder
    "http://h/_listfile.txt",
    "http://h:0/r/",
    "http://h:65536/r/",
    "http://h:/r/",
    "http://user@h/r/",
    "http://h/r/?x=1",
    "http://h/r/../etc/",
    "http://h/r%2/",
    "http://h/r/a%2Fb.txt",  // the list name would hold a separator
    "http://h_x/r/",
    "http://[::1/r/",
    "http://h/r dir/",
};

TEST(ClientSetupTest, ServerUrlsAreReadOrRefused) {
    for (const UrlCase& c : kUrlCases) {
        SCOPED_TRACE(c.pszUrl);
        ClientSettings settings;
        settings.strPublicKey = "kept";
        std::string strError;
        ASSERT_TRUE(ParseServerUrl(c.pszUrl, &settings, &strError)) << strError;
        EXPECT_EQ(settings.strHost, c.pszHost);
        EXPECT_EQ(settings.nPort, c.nPort);
        EXPECT_EQ(settings.nHttpsMode, c.nHttpsMode);
        EXPECT_EQ(settings.strBaseUrl, c.pszBase);
        EXPECT_EQ(settings.strListFileName, c.pszList);
        EXPECT_EQ(settings.strPublicKey, "kept");
    }
    std::vector<std::string> vecRefused(std::begin(kRefusedUrls), std::end(kRefusedUrls));
    vecRefused.push_back("http://h/" + std::string(kMaxServerUrlBytes, 'a'));
    for (const std::string& strUrl : vecRefused) {
        ClientSettings settings;
        std::string strError;
        EXPECT_FALSE(ParseServerUrl(strUrl, &settings, &strError)) << strUrl;
        EXPECT_FALSE(strError.empty()) << strUrl;
    }
}

}  // namespace
