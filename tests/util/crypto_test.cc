// SHA-256, strict base64 and Ed25519, checked against the openssl and
// sha256sum command-line tools so that publisher and client agree with them.
#include "util/crypto.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// Output of a shell command without its last line feed.
std::string Shell(CTempDir& dir, const std::string& strCommand) {
    EXPECT_EQ(RunShell("cd '" + dir.Path() + "' && (" + strCommand + ") > out.txt"), 0)
        << strCommand;
    std::string strOut = ReadWholeFile(dir.Sub("out.txt"));
    if (!strOut.empty() && strOut.back() == '\n')
        strOut.pop_back();
    return strOut;
}

}  // namespace

// Every text has one meaning; a public key is exactly 32 bytes of it.
TEST(Base64, OnlyCanonicalTextsDecode) {
    struct Case {
        const char* pszText;
        bool bValid;
        const char* pszBytes;
    } const kCases[] = {
        {"", true, ""},                  // nothing
        {"Zg==", true, "f"},             // two pads
        {"Zm8=", true, "fo"},            // one pad
        {"Zm9v", true, "foo"},           // none
        {"+/+/", true, "\xfb\xff\xbf"},  // the last two letters
        {"Zg=", false, ""},              // length not a multiple of 4
        {"Zh==", false, ""},             // unused bits set: a second spelling of "f"
        {"Zm9=", false, ""},             // the same for two bytes
        {"Z===", false, ""},             // three pads
        {"Zg==Zg==", false, ""},         // padding in the middle
        {"Zm-_", false, ""},             // URL alphabet
    };
    for (const Case& c : kCases) {
        std::string strData = "unchanged";
        EXPECT_EQ(DecodeBase64(c.pszText, &strData), c.bValid) << c.pszText;
        if (c.bValid) {
            EXPECT_EQ(strData, c.pszBytes) << c.pszText;
            EXPECT_EQ(EncodeBase64(strData), c.pszText);
        }
    }
    const std::string strRaw(32, '\x5a');
    std::string strKey;
    EXPECT_TRUE(DecodeEd25519PublicKey(EncodeBase64(strRaw), &strKey));
    EXPECT_EQ(strKey, strRaw);
    for (const std::string& strBad : {EncodeBase64(strRaw.substr(1)), EncodeBase64(strRaw + "x")})
        EXPECT_FALSE(DecodeEd25519PublicKey(strBad, &strKey)) << strBad;
}

TEST(Sha256, AgreesWithSha256sumWhateverThePieces) {
    CTempDir dir;
    std::string strData;
    for (int i = 0; i < 300000; ++i)
        strData += static_cast<char>((static_cast<unsigned>(i) * 7919u) >> 3);
    dir.WriteFile("data.bin", strData);
    std::string strExpected = Shell(dir, "sha256sum data.bin | cut -d' ' -f1");
    for (size_t nPiece : {size_t{1} << 20, size_t{1}, size_t{65537}}) {
        CSha256 sha;
        for (size_t nPos = 0; nPos < strData.size(); nPos += nPiece)
            sha.Update(strData.data() + nPos, std::min(nPiece, strData.size() - nPos));
        EXPECT_EQ(sha.HexDigest(), strExpected) << nPiece;
    }
    std::string strHex;
    ASSERT_TRUE(Sha256OfFile(dir.Sub("data.bin"), &strHex));
    EXPECT_EQ(strHex, strExpected);
    EXPECT_TRUE(IsSha256Hex(strHex));
    EXPECT_FALSE(Sha256OfFile(dir.Sub("missing"), &strHex));
    for (const std::string& strBad :
         {strHex.substr(1), "E" + strHex.substr(1), "g" + strHex.substr(1)})
        EXPECT_FALSE(IsSha256Hex(strBad)) << strBad;
}

// The openssl tool's key and signature: accepted, and made the same by us
// (wrong keys and changed texts are the list trust table's); keys of
// another kind cannot sign.
TEST(Ed25519, InteroperatesWithTheOpensslCommandLine) {
    CTempDir dir;
    dir.WriteFile("message.txt", "# tidewell-list version=1\nsome,record\n");
    Shell(dir, "openssl genpkey -algorithm ed25519 -out theirs.pem");
    std::string strPublic, strSignature, strError;
    ASSERT_TRUE(DecodeBase64(
        Shell(dir, "openssl pkey -in theirs.pem -pubout -outform DER | tail -c 32 | base64"),
        &strPublic));
    ASSERT_TRUE(DecodeBase64(
        Shell(dir, "openssl pkeyutl -sign -rawin -inkey theirs.pem -in message.txt | base64 -w0"),
        &strSignature));
    std::string strMessage = ReadWholeFile(dir.Sub("message.txt"));
    EXPECT_TRUE(VerifyEd25519(strPublic, strMessage, strSignature));
    EXPECT_FALSE(VerifyEd25519(strPublic, strMessage, strSignature.substr(1)));
    // Ed25519 signatures are deterministic: the same key gives openssl's bytes.
    std::string strOurs;
    ASSERT_TRUE(SignEd25519(ReadWholeFile(dir.Sub("theirs.pem")), strMessage, &strOurs, &strError));
    EXPECT_EQ(strOurs, strSignature);

    Shell(dir, "openssl genpkey -algorithm ec -pkeyopt ec_paramgen_curve:P-256 -out ec.pem");
    EXPECT_FALSE(
        SignEd25519(ReadWholeFile(dir.Sub("ec.pem")), strMessage, &strSignature, &strError));
}
