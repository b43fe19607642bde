// Gzip decoding against files made by gzip and by Python's gzip/zlib modules,
// fed whole, byte by byte and in random chunks, and decoded in place.
#include "engine/gzip_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "log/my_log.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

// Writes <case>.in and, for a good input, <case>.want (the expected output).
constexpr char kGenerator[] = R"PY(
import gzip, os, random, struct, sys, zlib
d = sys.argv[1]
rnd = random.Random(1952)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 9)))
         for _ in range(400)]
text = ''.join(' '.join(rnd.choice(words) for _ in range(rnd.randint(3, 14))) +
               ' %d\n' % rnd.randint(0, 99999) for _ in range(6000)).encode()
small = b'second member\n' * 40
def put(name, data, want=None):
    open(os.path.join(d, name + '.in'), 'wb').write(data)
    if want is not None:
        open(os.path.join(d, name + '.want'), 'wb').write(want)
def member(data, flags=0, extra=b'', name=b'', comment=b'', method=8, crc=None, size=None):
    h = struct.pack('<BBBBIBB', 0x1f, 0x8b, method, flags, 1700000000, 0, 3)
    if flags & 4: h += struct.pack('<H', len(extra)) + extra
    if flags & 8: h += name + b'\0'
    if flags & 16: h += comment + b'\0'
    if flags & 2: h += struct.pack('<H', zlib.crc32(h) & 0xffff)
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return h + c.compress(data) + c.flush() + struct.pack(
        '<II', zlib.crc32(data) if crc is None else crc, len(data) if size is None else size)
open(os.path.join(d, 'source.txt'), 'wb').write(text)
g = gzip.compress(text)
m = member(text)
mid = len(m) // 2
put('python_gzip', g, text)
put('all_flags', member(text, 0x1e, bytes(range(256)) * 2, b'name.txt', b'a comment'), text)
put('empty_member', gzip.compress(b''), b'')
put('zeros', gzip.compress(bytes(3 << 20)) + g, bytes(3 << 20) + text)
put('two_members', g + gzip.compress(small), text + small)
put('trailing_plain', g + b'plain bytes after it\n', text + b'plain bytes after it\n')
put('trailing_lone_id1', gzip.compress(small) + b'\x1f', small + b'\x1f')
put('trailing_id1_other', gzip.compress(small) + b'\x1fabc', small + b'\x1fabc')
put('plain_text', text[:5000], text[:5000])
rand = b'\x00' + rnd.randbytes(70000)
put('random_data', rand, rand)
put('lone_id1', b'\x1f', b'\x1f')
put('empty_input', b'', b'')
put('bad_block_type', m[:10] + bytes([m[10] | 0x06]) + m[11:])
put('flipped_byte', m[:mid] + bytes([m[mid] ^ 0x55]) + m[mid + 1:])
put('wrong_crc', member(text, crc=zlib.crc32(text) ^ 1))
put('wrong_isize', member(text, size=len(text) + 1))
put('cut_after_magic', b'\x1f\x8b')
put('cut_in_extra_length', member(small, 4, b'xy')[:11])
put('cut_in_name', member(small, 8, name=b'long-name.txt')[:15])
put('cut_in_header_crc', member(small, 2)[:11])
put('cut_in_deflate', m[:mid])
put('cut_in_trailer', m[:-3])
put('cut_before_trailer', m[:-8])
put('cut_in_second_header', g + b'\x1f\x8b\x08')
put('reserved_flag', member(small, 0x20))
put('method_7', member(small, method=7))
put('second_member_method_7', g + member(small, method=7))
)PY";

// The generated inputs, made once per process.
const CTempDir& Data() {
    static CTempDir dir;
    static const bool bMade = [] {
        std::string strScript = dir.WriteFile("make_cases.py", kGenerator);
        std::string strDir = "'" + dir.Path() + "'";
        bool bOk = RunShell("python3 " + strScript + " " + strDir) == 0;
        for (const char* pszLevel : {"", "-1", "-9"}) {
            std::string strName = std::string("gzip") + pszLevel;
            bOk = bOk && RunShell("cd " + strDir + " && gzip -c -N " + pszLevel + " source.txt > " +
                                  strName + ".in && cp source.txt " + strName + ".want") == 0;
        }
        return bOk;
    }();
    EXPECT_TRUE(bMade) << "test data not generated";
    return dir;
}

struct DecodeCase {
    const char* pszName;
    int nExpected;
    int nAlsoAccepted = kGzipRunning;  // a corrupted byte may show either way
};

void PrintTo(const DecodeCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

enum class Split { kWhole, kBytes, kRandom };

// Feeds strIn in pieces and returns the result; the output goes to *pstrOut.
int Decode(const std::string& strIn, Split eSplit, std::string* pstrOut) {
    CGzipDecoder decoder([pstrOut](const char* p, size_t n) {
        pstrOut->append(p, n);
        return true;
    });
    std::mt19937 rng(static_cast<unsigned>(strIn.size()));
    size_t nPos = 0;
    bool bGoing = true;
    while (nPos < strIn.size() && bGoing) {
        size_t nPiece = strIn.size() - nPos;
        if (eSplit == Split::kBytes)
            nPiece = 1;
        // Mostly tiny pieces, now and then a large one.
        if (eSplit == Split::kRandom)
            nPiece = rng() % 4 ? rng() % 17 : rng() % 70000;
        nPiece = std::min(nPiece, strIn.size() - nPos);
        bGoing = decoder.Feed(strIn.data() + nPos, nPiece);
        nPos += nPiece;
    }
    int nResult = decoder.Finish();
    EXPECT_EQ(decoder.GetDecodedSize(), pstrOut->size());
    EXPECT_EQ(decoder.Finish(), nResult);
    return nResult;
}

class GzipDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(GzipDecodeTest, SameResultHoweverSplit) {
    const DecodeCase& c = GetParam();
    std::string strIn = ReadWholeFile(Data().Sub(std::string(c.pszName) + ".in"));
    for (Split eSplit : {Split::kWhole, Split::kBytes, Split::kRandom}) {
        SCOPED_TRACE(static_cast<int>(eSplit));
        std::string strOut;
        int nResult = Decode(strIn, eSplit, &strOut);
        if (c.nExpected == kGzipOk) {
            ASSERT_EQ(nResult, kGzipOk) << GzipResultText(nResult);
            EXPECT_TRUE(strOut == ReadWholeFile(Data().Sub(std::string(c.pszName) + ".want")));
        } else if (nResult != c.nAlsoAccepted) {
            EXPECT_EQ(nResult, c.nExpected) << GzipResultText(nResult);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, GzipDecodeTest,
    ::testing::Values(
        DecodeCase{"gzip", kGzipOk}, DecodeCase{"gzip-1", kGzipOk}, DecodeCase{"gzip-9", kGzipOk},
        DecodeCase{"python_gzip", kGzipOk}, DecodeCase{"all_flags", kGzipOk},
        DecodeCase{"empty_member", kGzipOk}, DecodeCase{"zeros", kGzipOk},
        DecodeCase{"two_members", kGzipOk}, DecodeCase{"trailing_plain", kGzipOk},
        DecodeCase{"trailing_lone_id1", kGzipOk}, DecodeCase{"trailing_id1_other", kGzipOk},
        DecodeCase{"plain_text", kGzipOk}, DecodeCase{"random_data", kGzipOk},
        DecodeCase{"lone_id1", kGzipOk}, DecodeCase{"empty_input", kGzipOk},
        DecodeCase{"bad_block_type", kGzipDataError},
        DecodeCase{"flipped_byte", kGzipDataError, kGzipCrcMismatch},
        DecodeCase{"wrong_crc", kGzipCrcMismatch}, DecodeCase{"wrong_isize", kGzipLengthMismatch},
        DecodeCase{"cut_after_magic", kGzipTruncated},
        DecodeCase{"cut_in_extra_length", kGzipTruncated},
        DecodeCase{"cut_in_name", kGzipTruncated}, DecodeCase{"cut_in_header_crc", kGzipTruncated},
        DecodeCase{"cut_in_deflate", kGzipTruncated}, DecodeCase{"cut_in_trailer", kGzipTruncated},
        DecodeCase{"cut_before_trailer", kGzipTruncated},
        DecodeCase{"cut_in_second_header", kGzipTruncated},
        DecodeCase{"reserved_flag", kGzipBadHeader}, DecodeCase{"method_7", kGzipBadHeader},
        DecodeCase{"second_member_method_7", kGzipBadHeader}),
    [](const ::testing::TestParamInfo<DecodeCase>& param) {
        std::string strName = param.param.pszName;
        std::replace(strName.begin(), strName.end(), '-', '_');
        return strName;
    });

TEST(GzipDecoderTest, SinkRefusalStopsTheDecoding) {
    std::string strIn = ReadWholeFile(Data().Sub("gzip.in"));
    int nCalls = 0;
    CGzipDecoder decoder([&nCalls](const char*, size_t) { return ++nCalls < 2; });
    EXPECT_FALSE(decoder.Feed(strIn.data(), strIn.size()));
    EXPECT_EQ(nCalls, 2);
    EXPECT_FALSE(decoder.Feed(strIn.data(), strIn.size()));
    EXPECT_EQ(decoder.Finish(), kGzipSinkFailed);
}

// In-place decoding, with a real log to read the failure lines from.
class UnCompressGzipFileTest : public ::testing::Test {
protected:
    CTempDir m_dir;
    std::unique_ptr<CMyLog> m_pLog;

    void SetUp() override {
        m_pLog = std::make_unique<CMyLog>(10, m_dir.Sub("log"), "Tidewell");
        g_pMyLog = m_pLog.get();
    }
    void TearDown() override { g_pMyLog = nullptr; }

    std::string Copy(const char* pszCase) {
        return m_dir.WriteFile("file.bin", ReadWholeFile(Data().Sub(std::string(pszCase) + ".in")));
    }
    std::string LogText() const { return ReadWholeFile(m_pLog->GetLogPath()); }
    // Names in the folder other than the log's.
    std::vector<std::string> Files() const {
        std::vector<platform::DirEntry> entries;
        platform::ListDirectory(m_dir.Path(), &entries);
        std::vector<std::string> names;
        for (const auto& e : entries) {
            if (e.strName != "log")
                names.push_back(e.strName);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(UnCompressGzipFileTest, EmptyPathAndEmptyFileSucceedUntouched) {
    uint64_t nSize = 7;
    EXPECT_EQ(UnCompressGzipFile("", &nSize), 1);
    EXPECT_EQ(nSize, 0u);
    std::string strPath = m_dir.WriteFile("empty.bin", "");
    nSize = 7;
    EXPECT_EQ(UnCompressGzipFile(strPath, &nSize), 1);
    EXPECT_EQ(nSize, 0u);
    EXPECT_EQ(Files(), std::vector<std::string>{"empty.bin"});
}

TEST_F(UnCompressGzipFileTest, ReplacesTheFileByItsContent) {
    for (const char* pszCase : {"gzip-9", "two_members", "plain_text"}) {
        SCOPED_TRACE(pszCase);
        std::string strPath = Copy(pszCase);
        std::string strWant = ReadWholeFile(Data().Sub(std::string(pszCase) + ".want"));
        uint64_t nSize = 0;
        ASSERT_EQ(UnCompressGzipFile(strPath, &nSize), 1);
        EXPECT_EQ(nSize, strWant.size());
        EXPECT_TRUE(ReadWholeFile(strPath) == strWant);
        EXPECT_EQ(Files(), std::vector<std::string>{"file.bin"});
    }
}

TEST_F(UnCompressGzipFileTest, AnExistingFileOfTheTemporaryNameIsKept) {
    std::string strPath = Copy("gzip");
    m_dir.WriteFile("file.bin.gztmp", "someone else's");
    uint64_t nSize = 0;
    ASSERT_EQ(UnCompressGzipFile(strPath, &nSize), 1);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("file.bin.gztmp")), "someone else's");
    EXPECT_TRUE(ReadWholeFile(strPath) == ReadWholeFile(Data().Sub("source.txt")));
}

struct FailCase {
    const char* pszName;
    const char* pszLogText;
};

class UnCompressGzipFileFailTest : public UnCompressGzipFileTest,
                                   public ::testing::WithParamInterface<FailCase> {};

TEST_P(UnCompressGzipFileFailTest, OriginalIsKept) {
    std::string strPath = Copy(GetParam().pszName);
    std::string strBefore = ReadWholeFile(strPath);
    uint64_t nSize = 7;
    EXPECT_EQ(UnCompressGzipFile(strPath, &nSize), 0);
    EXPECT_EQ(nSize, 0u);
    EXPECT_TRUE(ReadWholeFile(strPath) == strBefore);
    EXPECT_EQ(Files(), std::vector<std::string>{"file.bin"});
    EXPECT_NE(LogText().find(std::string("ERROR CSyncEngine::UnCompressGzipFile> ") +
                             GetParam().pszLogText),
              std::string::npos)
        << LogText();
}

INSTANTIATE_TEST_SUITE_P(
    Corrupt, UnCompressGzipFileFailTest,
    ::testing::Values(
        FailCase{"empty_member",
                 "Failed GZipUnCompress(). pUnCompressBuff==NULL or dwUnCompressSize==0"},
        FailCase{"method_7", "Failed GZipUnCompress(). pUnCompressBuff==NULL"},
        FailCase{"wrong_crc", "Corrupt gzip stream (CRC-32 mismatch)."},
        FailCase{"bad_block_type", "Corrupt gzip stream (deflate data error)."},
        FailCase{"wrong_isize", "Corrupt gzip stream (length mismatch)."},
        FailCase{"cut_in_trailer", "Corrupt gzip stream (truncated input)."}),
    [](const ::testing::TestParamInfo<FailCase>& param) { return param.param.pszName; });

TEST_F(UnCompressGzipFileTest, FileErrorsAreLogged) {
    uint64_t nSize = 7;
    std::string strMissing = m_dir.Sub("missing.gz");
    EXPECT_EQ(UnCompressGzipFile(strMissing, &nSize), 0);
    EXPECT_NE(LogText().find("1. File open error. '" + strMissing + "'"), std::string::npos);
    // A folder opens for reading but cannot be read.
    EXPECT_EQ(UnCompressGzipFile(m_dir.Path(), &nSize), 0);
    EXPECT_NE(LogText().find("> 1. CFileException::Is a directory."), std::string::npos);
    EXPECT_EQ(nSize, 0u);
}

TEST_F(UnCompressGzipFileTest, OutputThatCannotBeCreatedIsLogged) {
    // Readable, but nothing can be created beside it, not even by root.
    const std::string strPath = "/proc/version";
    if (!platform::FileExists(strPath))
        GTEST_SKIP() << "no " << strPath;
    uint64_t nSize = 7;
    EXPECT_EQ(UnCompressGzipFile(strPath, &nSize), 0);
    EXPECT_NE(LogText().find("> 2. File open error. '/proc/version"), std::string::npos);
}

}  // namespace
