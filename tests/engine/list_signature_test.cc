// The trust lines of a list file: header parsing and the verdict on a
// downloaded list for each way it can be wrong.
#include "engine/list_signature.h"

#include <gtest/gtest.h>

#include "util/crypto.h"

namespace {

// 2030-01-01 00:00:00 GMT
constexpr int64_t kExpires2030 = 1893456000;
constexpr int64_t kNow = kExpires2030 - 1000;

struct KeyPair {
    std::string strPem;
    std::string strPublic;
};

KeyPair NewKey() {
    KeyPair key;
    EXPECT_TRUE(GenerateEd25519Key(&key.strPem, &key.strPublic));
    return key;
}

std::string Signed(const std::string& strBody, const KeyPair& key) {
    std::string strList = strBody, strError;
    EXPECT_TRUE(SignListText(&strList, key.strPem, &strError)) << strError;
    return strList;
}

}  // namespace

TEST(ListHeader, OnlyTheExactFormIsAHeader) {
    struct Case {
        const char* pszLine;
        bool bValid;
        uint64_t nVersion;
        int64_t nExpires;
    } const kCases[] = {
        {"# tidewell-list version=7", true, 7, 0},
        {"# tidewell-list version=18446744073709551615", true, 18446744073709551615ULL, 0},
        {"# tidewell-list version=12 expires=20300101000000", true, 12, kExpires2030},
        {"# tidewell-list version=", false, 0, 0},
        {"# tidewell-list version=-1", false, 0, 0},
        {"# tidewell-list version=18446744073709551616", false, 0, 0},  // too big
        {"# tidewell-list version=12abc", false, 0, 0},
        {"# tidewell-list version=12 ", false, 0, 0},
        {"# tidewell-list version=12 expires=2030", false, 0, 0},
        {"# tidewell-list version=12 expires=20301301000000", false, 0, 0},  // month 13
        {"# tidewell-list version=12 expires=20300101000000 x", false, 0, 0},
        {"#tidewell-list version=12", false, 0, 0},
    };
    for (const Case& c : kCases) {
        ListHeader header;
        EXPECT_EQ(ParseListHeader(c.pszLine, &header), c.bValid) << c.pszLine;
        if (c.bValid) {
            EXPECT_EQ(header.nVersion, c.nVersion) << c.pszLine;
            EXPECT_EQ(header.nExpires, c.nExpires) << c.pszLine;
            EXPECT_EQ(FormatListHeader(header), std::string(c.pszLine) + "\n");
        }
    }
}

TEST(ListTrust, EachWayAListCanBeWrongHasItsVerdict) {
    KeyPair key = NewKey();
    const std::string strHeader = "# tidewell-list version=5 expires=20300101000000\n";
    const std::string strBody = strHeader + "a.txt,,,,20240101000000,3\n";
    const std::string strGood = Signed(strBody, key);
    std::string strChanged = strGood;
    strChanged.replace(strChanged.find(",3\n"), 3, ",4\n");
    std::string strSignatureLine = strGood.substr(strBody.size());
    std::string strCrLf = Signed("# tidewell-list version=5\r\na.txt\r\n", key);
    strCrLf.insert(strCrLf.size() - 1, "\r");

    struct Case {
        const char* pszName;
        std::string strList;
        uint64_t nMinVersion;
        int64_t nNow;
        EListTrust eVerdict;
        const char* pszReason;
    } const kCases[] = {
        {"genuine", strGood, 5, kNow, EListTrust::kAccepted, ""},
        {"newer than the last", strGood, 4, kNow, EListTrust::kAccepted, ""},
        {"without the last line feed", strGood.substr(0, strGood.size() - 1), 0, kNow,
         EListTrust::kAccepted, ""},
        {"Windows line ends", strCrLf, 0, kNow, EListTrust::kAccepted, ""},
        {"changed record", strChanged, 0, kNow, EListTrust::kBadSignature, "bad signature"},
        {"unsigned", strBody, 0, kNow, EListTrust::kUnsigned, "unsigned"},
        {"line after the signature", strGood + "b.txt\n", 0, kNow, EListTrust::kUnsigned,
         "unsigned"},
        {"signature moved up", strHeader + strSignatureLine + "a.txt,,,,20240101000000,3\n", 0,
         kNow, EListTrust::kUnsigned, "unsigned"},
        {"signature not base64", strBody + "# signature ed25519 ***\n", 0, kNow,
         EListTrust::kMalformedSignature, "malformed signature line"},
        {"signature too short", strBody + "# signature ed25519 " + EncodeBase64("short") + "\n", 0,
         kNow, EListTrust::kMalformedSignature, "malformed signature line"},
        {"older", strGood, 6, kNow, EListTrust::kOlderVersion, "older version 5 < 6"},
        {"expired", strGood, 0, kExpires2030 + 1, EListTrust::kExpired, "expired"},
        {"no header", Signed("a.txt\n", key), 0, kNow, EListTrust::kMalformedHeader,
         "missing or malformed version header"},
        {"header not first", Signed("# x\n" + strHeader, key), 0, kNow,
         EListTrust::kMalformedHeader, "missing or malformed version header"},
    };
    for (const Case& c : kCases) {
        ListTrustResult result = CheckListTrust(c.strList, key.strPublic, c.nMinVersion, c.nNow);
        EXPECT_EQ(result.eVerdict, c.eVerdict) << c.pszName;
        EXPECT_EQ(result.strReason, c.pszReason) << c.pszName;
        if (c.eVerdict == EListTrust::kAccepted) {
            EXPECT_EQ(result.header.nVersion, 5u) << c.pszName;
        }
    }
}
