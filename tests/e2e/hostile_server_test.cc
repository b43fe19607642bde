// Whole runs of the built updater against a server that misbehaves on
// purpose, and against hostile archives and list files it serves. Each run
// must end with a log line that says what went wrong, keep the old file,
// finish within a bound and stay within 64 MiB (the memory bound is not
// checked in sanitizer builds, whose shadow memory makes it meaningless).
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "engine/http_connection.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/python_servers.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr long kMaxPeakRssKb = 64 * 1024;
// The time the list gives every file; the old copies are newer.
constexpr const char* kListTime = "20240315090702";
constexpr const char* kOldContent = "old copy, must survive";

// Archives and list files the cases serve, made with Python: zipfile for
// sound archives, patched or assembled bytes for the hostile ones.
constexpr const char* kMakeScript = R"PY(
import struct, sys, zipfile, zlib
kind, out = sys.argv[1], sys.argv[2]
if kind == "overflow":
    # One deflated member that says it holds 100 bytes and inflates to 1 MiB.
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("inner.txt", bytes(1 << 20))
    data = bytearray(open(out, "rb").read())
    for sig, off in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        pos = data.index(sig)
        struct.pack_into("<I", data, pos + off, 100)
    open(out, "wb").write(data)
elif kind == "million":
    # A million directory records, all naming the one empty member.
    name = b"m.txt"
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, 0, 0, 0,
                        len(name), 0) + name
    record = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, 0, 0, 0,
                         len(name), 0, 0, 0, 0, 0, 0) + name
    count = 1000000
    directory = record * count
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count,
                        len(directory), len(local))
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(local) + len(directory), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                      0xFFFFFFFF, 0)
    open(out, "wb").write(local + directory + end64 + locator + end)
elif kind == "big":
    # Three members of 2 MiB each: more than the space left.
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in ("a.bin", "b.bin", "c.bin"):
            z.writestr(name, bytes(2 << 20))
elif kind.startswith("line"):
    # One line of the given MiB: 0xFF is a lead byte neither in UTF-8 nor
    # in code page 949; NUL bytes are strewn in.
    size = int(kind[4:]) << 20
    line = bytearray(b"\xff" * size)
    for pos in range(4093, size, 65521):
        line[pos] = 0
    open(out, "wb").write(bytes(line))
)PY";

struct HttpCase {
    const char* pszName;
    const char* pszRecord;  // list record, path below /rel/ first; TIME stands for kListTime
    const char* pszLogPart;
    long nMaxSeconds;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const HttpCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

const HttpCase kHttpCases[] = {
    {"BodyPastTheListedSize", "endless/a.bin,,,,TIME,1000",
     "The server sends more than the expected 1000 bytes; stopped.", 30},
    {"ChunkedBodyWithoutEnd", "endlesschunked/b.bin,,,,TIME",
     "The file of unknown size exceeds 1073741824 bytes; stopped.", 90},
    {"HeadersThatNeverEnd", "endlessheaders/c.bin,,,,TIME,10", "Response headers too large", 30},
    {"OneHeaderLineOfMegabytes", "bigheader/d.bin,,,,TIME,10", "Response headers too large", 30},
    {"ServerThatDrips", "drip/e.bin,,,,TIME,100000", "Operation too slow",
     kLowSpeedSeconds + 20},
    {"GzipBodyThatInflatesForEver", "gzipbomb/f.bin,,,,TIME,1000",
     "The server sends more than the expected 1000 bytes; stopped.", 30},
};

class HostileServerTest : public UpdateRunTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Start()) << m_server.Error();
        MakeInstallation(m_server.Port());
    }

    // Serves a list of these records (each ends in a line feed).
    void ServeList(const std::string& strRecords) { m_server.WriteFile("_listfile.txt", strRecords); }
    // The installed copy of a listed file from an earlier run.
    void PlaceOldCopy(const std::string& strRel) { m_dir.WriteFile("install/" + strRel, kOldContent); }
    // Makes a file with kMakeScript where the server serves strRel.
    void MakeServed(const std::string& strKind, const std::string& strRel) {
        std::string strScript = m_dir.WriteFile("make_hostile.py", kMakeScript);
        std::string strOut = m_server.FilePath(strRel);
        ASSERT_EQ(RunShell("mkdir -p \"$(dirname '" + strOut + "')\" && python3 '" + strScript +
                           "' " + strKind + " '" + strOut + "'"),
                  0);
    }
    std::string Record(const std::string& strRel, const std::string& strType) const {
        platform::FileStatus status;
        platform::GetFileStatus(m_server.FilePath(strRel), &status);
        return strRel + ",,," + strType + "," + kListTime + "," + std::to_string(status.nSize) +
               "\n";
    }

    // The checks every case shares; the figures go to the output for the record.
    void ExpectBoundedRun(const RunResult& run, long nMaxSeconds, const std::string& strLogPart) {
        std::string strLog = Log();
        EXPECT_NE(strLog.find(strLogPart), std::string::npos) << strLog.substr(0, 4000);
        EXPECT_LT(run.nElapsedMs, nMaxSeconds * 1000);
        if (!kSanitized) {
            EXPECT_LE(run.nPeakRssKb, kMaxPeakRssKb);
        }
        std::printf("[ measured ] %s: %ld ms, peak RSS %ld KiB\n",
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                    run.nElapsedMs, run.nPeakRssKb);
    }

    CScriptedHttpServer m_server;
};

class HostileHttpTest : public HostileServerTest,
                        public ::testing::WithParamInterface<HttpCase> {};

TEST_P(HostileHttpTest, EndsWithALogLineAndKeepsTheOldFile) {
    const HttpCase& c = GetParam();
    std::string strRecord = c.pszRecord;
    strRecord.replace(strRecord.find("TIME"), 4, kListTime);
    std::string strRel = strRecord.substr(0, strRecord.find(','));
    ServeList(strRecord + "\n");
    PlaceOldCopy(strRel);

    RunResult run = Run("1");
    // A failed download: asked whether to go on, no terminal, default No.
    EXPECT_EQ(run.nExit, 3) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed(strRel)), kOldContent);
    ExpectBoundedRun(run, c.nMaxSeconds, c.pszLogPart);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileHttpTest, ::testing::ValuesIn(kHttpCases),
                         [](const auto& test) { return std::string(test.param.pszName); });

TEST_F(HostileServerTest, ZipMemberInflatingPastItsDeclaredSize) {
    MakeServed("overflow", "pack/overflow.zip");
    ServeList(Record("pack/overflow.zip", "ZIP"));
    PlaceOldCopy("pack/inner.txt");
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 3) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("pack/inner.txt")), kOldContent);
    ExpectBoundedRun(run, 30, "CZipReader::CopyDeflated> Data exceeds the declared size 100");
}

TEST_F(HostileServerTest, ZipWithAMillionEntries) {
    MakeServed("million", "pack/million.zip");
    ServeList(Record("pack/million.zip", "ZIP"));
    PlaceOldCopy("pack/m.txt");
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 3) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("pack/m.txt")), kOldContent);
    ExpectBoundedRun(run, 60, "The archive holds more than 100000 members");
}

TEST_F(HostileServerTest, ZipLargerThanTheSpaceLeft) {
    MakeServed("big", "pack/big.zip");
    ServeList(Record("pack/big.zip", "ZIP"));
    PlaceOldCopy("pack/c.bin");
    // A file system of 3 MiB where we may mount one; else a file-size limit
    // makes the writes fail the same way.
    std::string strPack = Installed("pack");
    bool bMounted = geteuid() == 0 && RunShell("mount -t tmpfs -o size=3m tmpfs '" + strPack +
                                               "' 2>/dev/null") == 0;
    if (bMounted) {
        PlaceOldCopy("pack/c.bin");
    } else {
        m_nFileSizeLimit = 1L << 20;
    }
    RunResult run = Run("1");
    std::string strOld = ReadWholeFile(Installed("pack/c.bin"));
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(strPack, &entries);
    if (bMounted)
        RunShell("umount -l '" + strPack + "'");
    EXPECT_EQ(run.nExit, 3) << run.strOutput;
    EXPECT_EQ(strOld, kOldContent);
    ExpectBoundedRun(run, 60,
                     bMounted ? "CZipReader::ExtractFile> Write failed (No space left on device)"
                              : "CZipReader::ExtractFile> Write failed (File too large)");
    // The member cut short went with the failure.
    for (const platform::DirEntry& entry : entries)
        EXPECT_EQ(entry.strName.find(".part"), std::string::npos) << entry.strName;
}

TEST_F(HostileServerTest, ListFileOf64MiBOnOneLine) {
    MakeServed("line64", "_listfile.txt");
    PlaceOldCopy("kept.txt");
    RunResult run = Run("1");
    // The list could not be had.
    EXPECT_EQ(run.nExit, 2) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("kept.txt")), kOldContent);
    ExpectBoundedRun(run, 60, "is larger than 16777216 bytes");
}

TEST_F(HostileServerTest, ListFileInNeitherEncodingWithNulBytes) {
    MakeServed("line4", "_listfile.txt");
    PlaceOldCopy("kept.txt");
    RunResult run = Run("1");
    // Whatever records the garbage yields are not on the server.
    EXPECT_TRUE(run.nExit == 0 || run.nExit == 3) << run.nExit << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("kept.txt")), kOldContent);
    EXPECT_NE(Log().find("record skipped"), std::string::npos);
    ExpectBoundedRun(run, 60, "is neither UTF-8 nor CP949, read as it is");
}

}  // namespace
