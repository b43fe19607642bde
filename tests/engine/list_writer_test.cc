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
}

TEST(ListWriter, GzipStaticFilesAreListedByTheirDecodedName) {
    CTempDir dir;
    std::string strRoot = dir.Sub("release");
    dir.WriteFile("release/data/big.txt", std::string(100000, 'a') + "tail");
    ASSERT_EQ(RunShell("gzip -9 '" + strRoot + "/data/big.txt'"), 0);

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

    // A broken .gz is an error, not a wrong size.
    dir.WriteFile("release/bad.txt.gz", "\x1f\x8b\x08\x00garbage");
    EXPECT_FALSE(BuildListFile(options, &strList, &strError));
}

TEST(ListWriter, PathsThatCannotBeWrittenAreRefused) {
    EXPECT_EQ(FormatListRecord("a\"b", "", "1", "2"), "");
    EXPECT_EQ(FormatListRecord("a\nb", "", "1", "2"), "");
    EXPECT_EQ(FormatListRecord("a/b.txt", "EXE|a=\"x,y\"", "20240101000000", "3"),
              "a/b.txt,,,EXE|a=\"x,y\",20240101000000,3");
    CTempDir dir;
    ListWriterOptions options;
    options.strReleaseDir = dir.Sub("missing");
    std::string strList, strError;
    EXPECT_FALSE(BuildListFile(options, &strList, &strError));
    EXPECT_FALSE(strError.empty());
}
