// Streaming gzip decoding (RFC 1952 members over zlib's raw inflate) with
// bounded memory, and the in-place decoding of a downloaded file.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Outcome of a decoding. Every failure is negative.
enum GzipResult : int {
    kGzipRunning = 0,          // not finished yet
    kGzipOk = 1,               // every byte consumed and checked
    kGzipDataError = -1,       // corrupt deflate data
    kGzipCrcMismatch = -2,     // a member's CRC-32 differs from its content
    kGzipLengthMismatch = -3,  // a member's ISIZE differs from its length
    kGzipTruncated = -4,       // input ended inside a header, deflate data or trailer
    kGzipBadHeader = -5,       // method other than deflate, or reserved flag bits
    kGzipSinkFailed = -6,      // the output sink refused the bytes
    kGzipInitFailed = -7,      // inflate could not be set up
};

// Short English text for a result, for log lines.
const char* GzipResultText(int nResult);

// Push decoder: Feed() the body in chunks of any size, then Finish(). The
// decoded bytes go to the sink as they come; the result does not depend on
// how the input is split. Input that does not start with the gzip magic, and
// anything after the last member that is not another member, is passed on
// unchanged.
class CGzipDecoder {
public:
    // Receives decoded bytes; returns false to abort the decoding.
    using Sink = std::function<bool(const char* pData, size_t nSize)>;

    explicit CGzipDecoder(Sink fnSink);
    ~CGzipDecoder();
    CGzipDecoder(const CGzipDecoder&) = delete;
    CGzipDecoder& operator=(const CGzipDecoder&) = delete;

    // Decodes one chunk; false once the decoding has failed (see Result()).
    bool Feed(const void* pData, size_t nSize);
    // Ends the input and returns the outcome (kGzipOk or a failure). Further
    // calls return the same outcome.
    int Finish();

    int Result() const { return m_nResult; }
    // Bytes handed to the sink so far.
    uint64_t GetDecodedSize() const { return m_nDecodedSize; }

private:
    enum class State {
        kMagic1,       // expecting 0x1f, or not gzip at all
        kMagic2,       // 0x1f seen, expecting 0x8b
        kPassThrough,  // copying the rest unchanged
        kMethod,
        kFlags,
        kFixedFields,  // MTIME, XFL, OS
        kExtraLength,
        kExtraData,
        kName,
        kComment,
        kHeaderCrc,
        kInflate,
        kTrailer,
    };

    Sink m_fnSink;
    State m_eState = State::kMagic1;
    int m_nResult = kGzipRunning;
    unsigned m_nFlags = 0;
    uint32_t m_nSkip = 0;  // bytes left of a fixed-size header field
    uint32_t m_nFieldLength = 0;
    unsigned m_nFieldBytes = 0;  // bytes of a multi-byte field read so far
    unsigned char m_abTrailer[8] = {};
    uint32_t m_dwCrc = 0;
    uint64_t m_nMemberSize = 0;
    uint64_t m_nDecodedSize = 0;
    bool m_bInflateReady = false;
    z_stream m_zStream{};
    std::unique_ptr<unsigned char[]> m_pOutBuf;

    const unsigned char* InflateSome(const unsigned char* p, const unsigned char* pEnd);
    void StartHeaderFieldsAfter(State eDone);
    void StartMember();
    void CheckTrailer();
    bool Emit(const void* pData, size_t nSize);
    void Fail(int nResult);
};

// Replaces a downloaded gzip file by its decoded content, through a
// temporary file beside it, so that the original stays as it was on any
// failure. 1 success with the decoded size, 0 failure (logged). An empty path
// or an empty file is a success with size 0 and leaves the file untouched; a
// decoding that yields nothing is a failure.
int UnCompressGzipFile(const std::string& strPath, uint64_t* pnDecodedSize);
