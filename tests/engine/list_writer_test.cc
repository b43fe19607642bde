// The publisher's list writer, read back by the engine's own list parser.
#include "engine/list_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/sync_engine.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"
#include "util/crypto.h"

namespace {

std::string Sha256Of(const std::string& strData) {
    CSha256 sha;
    sha.Update(strData.data(), strData.size());
    return sha.HexDigest();
}

std::vector<FileItem> ParseAll(const std::string& strList) {
    std::vector<FileItem> items;
    std::istringstream in(strList);
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.empty() || strLine[0] == '#' || strLine[0] == '!')
            continue;
        FileItem item;
        EXPECT_TRUE(CSyncEngine::ParseListLine(item, strLine.data(), strLine.size()));
        items.push_back(item);
    }
    return items;
}

}  // namespace

TEST(ListWriter, RecordsCarryGmtTimeSizeAndTypesThatTheReaderUnderstands) {
    CTempDir dir;
    std::string strRoot = dir.Sub("release");
    dir.WriteFile("release/bin/app.dll", "0123456789");
    dir.WriteFile("release/setup.reg", "REGEDIT4\n");
    dir.WriteFile("release/pack.zip", "PK");
    dir.WriteFile("release/fonts/a.TTF", "font");
    dir.WriteFile("release/odd, name.txt", "comma");
    dir.WriteFile("release/#hash.txt", "hash");
    dir.WriteFile("release/_listfile.txt", "old list");
    dir.WriteFile("release/skip.tmp", "x");
    // 2024-03-15 09:07:02 GMT
    ASSERT_TRUE(platform::SetFileModifyTime(strRoot + "/bin/app.dll", 1710493622));

    ListWriterOptions options;
    options.strReleaseDir = strRoot;
    options.vecRules.push_back({"*.dll", "REG|p=1"});
    options.vecExcludes.push_back("*.tmp");
    options.vecDeletes.push_back("old/gone.dll");
    std::string strList, strError;
    ASSERT_TRUE(BuildListFile(options, &strList, &strError)) << strError;

    std::vector<FileItem> items = ParseAll(strList);
    ASSERT_EQ(items.size(), 7u) << strList;
    std::map<std::string, FileItem> bySource;
    for (const FileItem& item : items)
        bySource[item.m_strSourceFile] = item;

    const FileItem& dll = bySource.at("bin/app.dll");
    EXPECT_EQ(dll.m_nFileType, kFileTypeReg);
    EXPECT_EQ(dll.m_bPassOnFail, 1);
    EXPECT_EQ(dll.m_strModifyTime, "20240315090702");
    EXPECT_EQ(dll.m_strFileSize, "10");
    EXPECT_EQ(dll.m_strSha256, Sha256Of("0123456789"));
    EXPECT_EQ(bySource.at("setup.reg").m_nFileType, kFileTypeRegFile);
    EXPECT_EQ(bySource.at("pack.zip").m_nFileType, kFileTypeZip);
    EXPECT_EQ(bySource.at("fonts/a.TTF").m_nFileType, kFileTypeFont);
    EXPECT_EQ(bySource.at("odd, name.txt").m_strFileSize, "5");
    EXPECT_EQ(bySource.at("#hash.txt").m_nFileType, kFileTypeNormal);
    // Deletions carry a time and size so clients send no request for them.
    const FileItem& gone = bySource.at("old/gone.dll");
    EXPECT_EQ(gone.m_nFileType, kFileTypeDel);
    EXPECT_EQ(gone.m_strModifyTime.size(), 14u);
    EXPECT_FALSE(gone.m_strFileSize.empty());
    EXPECT_EQ(gone.m_strSha256, "");
    EXPECT_EQ(bySource.count("_listfile.txt"), 0u);
    EXPECT_EQ(bySource.count("skip.tmp"), 0u);

    // A file both served and deleted would be fetched again after every run;
    // other spellings of a path name the same file on the clients.
    const struct {
        const char* pszDelete;
        const char* pszError;
    } kRefused[] = {{"bin/app.dll", "'bin/app.dll': the release holds it"},
                    {"bin", "'bin': the release holds files below it"},
                    {"/bin/app.dll", "relative to the release folder"},
                    {"./setup.reg", "relative to the release folder"},
                    {"old//gone.dll", "relative to the release folder"},
                    {"old/", "relative to the release folder"},
                    {"../gone.dll", "relative to the release folder"}};
    for (const auto& c : kRefused) {
        options.vecDeletes = {c.pszDelete};
        EXPECT_FALSE(BuildListFile(options, &strList, &strError)) << c.pszDelete;
        EXPECT_NE(strError.find(c.pszError), std::string::npos) << strError;
    }
}

TEST(ListWriter, GzipStaticFilesAreListedByTheirDecodedName) {
    CTempDir dir;
    std::string strRoot = dir.Sub("release");
    dir.WriteFile("release/data/big.txt", std::string(100000, 'a') + "tail");
    // Both forms on the server: nginx answers with the .gz one, listed once.
    ASSERT_EQ(RunShell("gzip -9 -k '" + strRoot + "/data/big.txt'"), 0);

    ListWriterOptions options;
    options.strReleaseDir = strRoot;
    options.bGzipStatic = true;
    std::string strList, strError;
    ASSERT_TRUE(BuildListFile(options, &strList, &strError)) << strError;
    std::vector<FileItem> items = ParseAll(strList);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].m_strSourceFile, "data/big.txt");
    EXPECT_EQ(items[0].m_strFileSize, "100004");
    EXPECT_EQ(items[0].m_strSha256, Sha256Of(std::string(100000, 'a') + "tail"));
    EXPECT_EQ(items[0].m_bListedGzip, 1);

    // A broken .gz is an error, not a wrong size.
    dir.WriteFile("release/bad.txt.gz", "\x1f\x8b\x08\x00garbage");
    EXPECT_FALSE(BuildListFile(options, &strList, &strError));
}

TEST(ListWriter, NamesReadBackAsWrittenOrAreRefusedWithTheReason) {
    std::string strHangul;
    for (int i = 0; i < 150; ++i)
        strHangul += "가";
    struct Case {
        std::string strPath;
        const char* pszSource;  // the source field clients read; null when refused
        const char* pszReason;  // part of the refusal
    };
    const Case kCases[] = {
        {"a/b.txt", "a/b.txt", ""},
        {"pct%20.txt", "pct%2520.txt", ""},
        {"what?.txt", "what%3F.txt", ""},
        {"x, y", "x, y", ""},
        {"#h", "#h", ""},
        {"!b", "!b", ""},
        {" lead", " lead", ""},
        {std::string(511, 'a'), "", ""},
        {"a\"b", nullptr, "double quote"},
        {"a\\b", nullptr, "backslash"},
        {"a\nb", nullptr, "line break"},
        {"\xff.txt", nullptr, "not UTF-8"},
        {"d/.x.tidewell-part", nullptr, "temporary files"},
        {std::string(512, 'a'), nullptr, "fields of at most 511"},
        {std::string(171, '%'), nullptr, "fields of at most 511"},
        {strHangul, nullptr, "request path is too long"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.strPath.substr(0, 40));
        ListRecord record{c.strPath, "", "20240101000000", "3", Sha256Of("abc"), false};
        std::string strLine, strReason;
        bool bWritten = FormatListRecord(record, &strLine, &strReason);
        ASSERT_EQ(bWritten, c.pszSource != nullptr) << strReason;
        if (!bWritten) {
            EXPECT_NE(strReason.find(c.pszReason), std::string::npos) << strReason;
            continue;
        }
        std::vector<FileItem> items = ParseAll(strLine + "\n");
        ASSERT_EQ(items.size(), 1u) << strLine;
        if (*c.pszSource != '\0') {
            EXPECT_EQ(items[0].m_strSourceFile, c.pszSource);
        }
        EXPECT_EQ(items[0].m_strTargetRel, c.strPath);
        EXPECT_EQ(items[0].m_strFileSize, "3");
        EXPECT_EQ(items[0].m_strSha256, Sha256Of("abc"));
    }
    // The type field is written as given; one that splits the record is refused.
    std::string strLine, strReason;
    ASSERT_TRUE(FormatListRecord({"a/b.txt", "EXE|a=\"x,y\"", "20240101000000", "3", "", false},
                                 &strLine, &strReason));
    EXPECT_EQ(strLine, "a/b.txt,,,EXE|a=\"x,y\",20240101000000,3");
    EXPECT_FALSE(FormatListRecord({"a/b.txt", "EXE|a=x,y", "20240101000000", "3", "", false},
                                  &strLine, &strReason));

    CTempDir dir;
    ListWriterOptions options;
    options.strReleaseDir = dir.Sub("missing");
    std::string strList, strError;
    EXPECT_FALSE(BuildListFile(options, &strList, &strError));
    EXPECT_FALSE(strError.empty());
}
