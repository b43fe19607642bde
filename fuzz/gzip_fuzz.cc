// The streaming gzip decoder: the same body fed at once and in random
// chunkings must give the same bytes and the same result; a member zlib's
// own gzip reader accepts must come out the same from ours.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/gzip_decoder.h"
#include "fuzz/fuzz_scratch.h"

namespace {

// Output beyond this is refused by the sink, so a small bomb stays cheap.
constexpr size_t kMaxOutput = 64 * 1024 * 1024;

struct Outcome {
    int nResult = kGzipRunning;
    std::string strOut;
};

// Feeds the input in pieces; nChunkSeed 0 feeds it whole, others pick
// piece sizes from a small generator seeded with it.
Outcome Decode(const uint8_t* pData, size_t nSize, uint32_t nChunkSeed) {
    Outcome outcome;
    CGzipDecoder decoder([&outcome](const char* p, size_t n) {
        if (outcome.strOut.size() + n > kMaxOutput)
            return false;
        outcome.strOut.append(p, n);
        return true;
    });
    uint32_t x = nChunkSeed;
    size_t nPos = 0;
    bool bGoing = true;
    while (nPos < nSize && bGoing) {
        size_t nPiece = nSize - nPos;
        if (nChunkSeed != 0) {
            x = x * 1664525u + 1013904223u;
            nPiece = std::min<size_t>(nPiece, 1 + (x >> 24) % ((x & 1) ? 3 : 300));
        }
        bGoing = decoder.Feed(pData + nPos, nPiece);
        if (bGoing != (decoder.Result() == kGzipRunning))
            FuzzFail("Feed's answer disagrees with Result()");
        nPos += nPiece;
    }
    outcome.nResult = decoder.Finish();
    if (outcome.nResult == kGzipRunning || decoder.Finish() != outcome.nResult)
        FuzzFail("Finish gave no lasting outcome");
    if (decoder.GetDecodedSize() != outcome.strOut.size())
        FuzzFail("decoded size differs from the bytes handed out");
    return outcome;
}

// zlib's own reading of the first member, when it reads it to its end.
bool ZlibFirstMember(const uint8_t* pData, size_t nSize, std::string* pstrOut) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return false;
    zs.next_in = const_cast<Bytef*>(pData);
    zs.avail_in = static_cast<uInt>(nSize);
    unsigned char abOut[65536];
    int nRet = Z_OK;
    while (nRet == Z_OK && pstrOut->size() <= kMaxOutput) {
        zs.next_out = abOut;
        zs.avail_out = sizeof(abOut);
        nRet = inflate(&zs, Z_NO_FLUSH);
        pstrOut->append(reinterpret_cast<char*>(abOut), sizeof(abOut) - zs.avail_out);
    }
    inflateEnd(&zs);
    return nRet == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    Outcome whole = Decode(pData, nSize, 0);
    uint32_t nSeed = static_cast<uint32_t>(crc32(0, pData, static_cast<uInt>(nSize))) | 1;
    for (uint32_t nTry = 0; nTry < 2; ++nTry) {
        Outcome pieces = Decode(pData, nSize, nSeed + nTry * 2);
        // Where the sink refuses depends on how big the handed-out blocks are.
        if (whole.nResult == kGzipSinkFailed || pieces.nResult == kGzipSinkFailed) {
            if (whole.nResult != pieces.nResult)
                FuzzFail("only one chunking hit the output bound");
            continue;
        }
        if (pieces.nResult != whole.nResult)
            FuzzFail("result depends on the chunking", GzipResultText(pieces.nResult));
        if (pieces.strOut != whole.strOut)
            FuzzFail("output depends on the chunking");
    }
    std::string strZlib;
    if (whole.nResult == kGzipOk && nSize >= 2 && pData[0] == 0x1f && pData[1] == 0x8b &&
        ZlibFirstMember(pData, nSize, &strZlib) &&
        whole.strOut.compare(0, strZlib.size(), strZlib) != 0) {
        FuzzFail("first member differs from zlib's reading");
    }
    return 0;
}
