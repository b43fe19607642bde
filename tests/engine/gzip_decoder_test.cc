// Gzip decoding against files made by gzip and by Python's gzip/zlib modules,
// fed whole, byte by byte and in random chunks, and decoded in place.
#include "engine/gzip_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/log_capture.h"
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
put('all_flags', member(text, 0x1e, bytes(range(256)) * 2, b'name.txt', b'a comment'), text)
put('empty_member', gzip.compress(b''), b'')
put('zeros', gzip.compress(bytes(3 << 20)) + g, bytes(3 << 20) + text)
put('two_members', g + gzip.compress(small), text + small)
put('trailing_plain', g + b'plain bytes after it\n', text + b'plain bytes after it\n')
put('trailing_id1_other', gzip.compress(small) + b'\x1fabc', small + b'\x1fabc')
put('plain_text', text[:5000], text[:5000])
put('lone_id1', b'\x1f', b'\x1f')
put('bad_block_type', m[:10] + bytes([m[10] | 0x06]) + m[11:])
put('wrong_crc', member(text, crc=zlib.crc32(text) ^ 1))
put('wrong_isize', member(text, size=len(text) + 1))
put('cut_in_trailer', m[:-3])
put('reserved_flag', member(small, 0x20))
put('method_7', member(small, method=7))
)PY";

// The generated inputs, made once per process.
const CTempDir& Data() {
    static CTempDir dir;
    static const bool bMade = [] {
        std::string strScript = dir.WriteFile("make_cases.py", kGenerator);
        std::string strDir = "'" + dir.Path() + "'";
        bool bOk = RunShell("python3 " + strScript + " " + strDir) == 0;
        return bOk &&
               RunShell("cd " + strDir +
                        " && gzip -c -N source.txt > gzip.in && cp source.txt gzip.want") == 0;
    }();
    EXPECT_TRUE(bMade) << "test data not generated";
    return dir;
}

struct DecodeCase {
    const char* pszName;
    int nExpected;
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
        EXPECT_EQ(nResult, c.nExpected) << GzipResultText(nResult);
        if (c.nExpected == kGzipOk) {
            EXPECT_TRUE(strOut == ReadWholeFile(Data().Sub(std::string(c.pszName) + ".want")));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, GzipDecodeTest,
    ::testing::Values(DecodeCase{"gzip", kGzipOk}, DecodeCase{"all_flags", kGzipOk},
                      DecodeCase{"empty_member", kGzipOk}, DecodeCase{"zeros", kGzipOk},
                      DecodeCase{"two_members", kGzipOk}, DecodeCase{"trailing_plain", kGzipOk},
                      DecodeCase{"trailing_id1_other", kGzipOk}, DecodeCase{"plain_text", kGzipOk},
                      DecodeCase{"lone_id1", kGzipOk}, DecodeCase{"bad_block_type", kGzipDataError},
                      DecodeCase{"wrong_crc", kGzipCrcMismatch},
                      DecodeCase{"wrong_isize", kGzipLengthMismatch},
                      DecodeCase{"cut_in_trailer", kGzipTruncated},
                      DecodeCase{"reserved_flag", kGzipBadHeader},
                      DecodeCase{"method_7", kGzipBadHeader}),
    [](const ::testing::TestParamInfo<DecodeCase>& param) { return param.param.pszName; });

TEST(GzipDecoderTest, SinkRefusalStopsTheDecoding) {
    std::string strIn = ReadWholeFile(Data().Sub("gzip.in"));
    int nCalls = 0;
    CGzipDecoder decoder([&nCalls](const char*, size_t) { return ++nCalls < 2; });
    EXPECT_FALSE(decoder.Feed(strIn.data(), strIn.size()));
    EXPECT_EQ(nCalls, 2);
    EXPECT_FALSE(decoder.Feed(strIn.data(), strIn.size()));
    EXPECT_EQ(decoder.Finish(), kGzipSinkFailed);
}

// In-place decoding on real files: {input} -> decoded in place, or kept
// with one log line saying why.
TEST(UnCompressGzipFileTest, FileIsReplacedByItsContentOrKept) {
    CTempDir dir;
    CLogCapture log;
    struct Case {
        const char* pszName;
        const char* pszLogText;  // null: decoded
    } const kCases[] = {
        {"gzip", nullptr},
        {"plain_text", nullptr},
        {"empty_member", "Failed GZipUnCompress(). pUnCompressBuff==NULL or dwUnCompressSize==0"},
        {"method_7", "Failed GZipUnCompress(). pUnCompressBuff==NULL"},
        {"wrong_crc", "Corrupt gzip stream (CRC-32 mismatch)."},
        {"bad_block_type", "Corrupt gzip stream (deflate data error)."},
        {"wrong_isize", "Corrupt gzip stream (length mismatch)."},
        {"cut_in_trailer", "Corrupt gzip stream (truncated input)."},
    };
    // A file of the temporary name is someone else's and stays.
    dir.WriteFile("file.bin.gztmp", "someone else's");
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        std::string strBefore = ReadWholeFile(Data().Sub(std::string(c.pszName) + ".in"));
        std::string strPath = dir.WriteFile("file.bin", strBefore);
        std::string strWant = ReadWholeFile(Data().Sub(std::string(c.pszName) + ".want"));
        uint64_t nSize = 7;
        EXPECT_EQ(UnCompressGzipFile(strPath, &nSize), c.pszLogText ? 0 : 1);
        EXPECT_EQ(nSize, c.pszLogText ? 0u : strWant.size());
        EXPECT_TRUE(ReadWholeFile(strPath) == (c.pszLogText ? strBefore : strWant));
        if (c.pszLogText) {
            EXPECT_TRUE(
                log.Has("ERROR", std::string("CSyncEngine::UnCompressGzipFile> ") + c.pszLogText));
        }
    }
    EXPECT_EQ(ReadWholeFile(dir.Sub("file.bin.gztmp")), "someone else's");
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(dir.Path(), &entries);
    EXPECT_EQ(entries.size(), 2u);
    // An empty path or file: nothing to do.
    uint64_t nSize = 7;
    EXPECT_EQ(UnCompressGzipFile("", &nSize), 1);
    EXPECT_EQ(nSize, 0u);
    EXPECT_EQ(UnCompressGzipFile(dir.WriteFile("empty.bin", ""), &nSize), 1);
    // Missing, a folder (opens, cannot be read), nothing can be created beside it.
    for (const std::string& strPath :
         {dir.Sub("missing.gz"), dir.Path(), std::string("/proc/version")}) {
        nSize = 7;
        EXPECT_EQ(UnCompressGzipFile(strPath, &nSize), 0) << strPath;
        EXPECT_EQ(nSize, 0u);
    }
    EXPECT_TRUE(log.Mentions("> 2. File open error. '/proc/version"));
}

}  // namespace
