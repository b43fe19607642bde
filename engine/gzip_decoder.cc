#include "engine/gzip_decoder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "log/my_log.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace {

constexpr unsigned char kGzipId1 = 0x1f;
constexpr unsigned char kGzipId2 = 0x8b;
constexpr unsigned kMethodDeflate = 8;

constexpr unsigned kFlagHeaderCrc = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr unsigned kFlagReserved = 0xe0;

constexpr uint32_t kFixedFieldsSize = 6;  // MTIME (4), XFL, OS
constexpr uint32_t kHeaderCrcSize = 2;
constexpr size_t kTrailerSize = 8;  // CRC32, ISIZE

// Large blocks keep inflate on its fast path and the sink's calls few.
constexpr size_t kOutBufSize = 256 * 1024;
constexpr size_t kFileReadSize = 256 * 1024;
// zlib counts input in uInt.
constexpr size_t kMaxInflateInput = 1u << 30;
// How many temporary names are tried before giving up.
constexpr int kMaxTempNames = 100;

constexpr const char kLogPrefix[] = "CSyncEngine::UnCompressGzipFile> ";

uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

const char* GzipResultText(int nResult) {
    switch (nResult) {
        case kGzipRunning:
            return "not finished";
        case kGzipOk:
            return "ok";
        case kGzipDataError:
            return "deflate data error";
        case kGzipCrcMismatch:
            return "CRC-32 mismatch";
        case kGzipLengthMismatch:
            return "length mismatch";
        case kGzipTruncated:
            return "truncated input";
        case kGzipBadHeader:
            return "unsupported method or flags";
        case kGzipSinkFailed:
            return "output refused";
        case kGzipInitFailed:
            return "inflate initialisation failed";
        default:
            return "unknown";
    }
}

CGzipDecoder::CGzipDecoder(Sink fnSink)
    : m_fnSink(std::move(fnSink)), m_pOutBuf(new unsigned char[kOutBufSize]) {}

CGzipDecoder::~CGzipDecoder() {
    if (m_bInflateReady)
        inflateEnd(&m_zStream);
}

bool CGzipDecoder::Feed(const void* pData, size_t nSize) {
    if (m_nResult != kGzipRunning)
        return false;
    const auto* p = static_cast<const unsigned char*>(pData);
    const unsigned char* pEnd = p + nSize;
    while (p < pEnd && m_nResult == kGzipRunning) {
        switch (m_eState) {
            case State::kMagic1:
                if (*p == kGzipId1) {
                    ++p;
                    m_eState = State::kMagic2;
                } else {
                    m_eState = State::kPassThrough;
                }
                break;
            case State::kMagic2:
                if (*p == kGzipId2) {
                    ++p;
                    m_eState = State::kMethod;
                } else if (Emit(&kGzipId1, 1)) {
                    // Not gzip after all: the held-back byte goes out first.
                    m_eState = State::kPassThrough;
                }
                break;
            case State::kPassThrough:
                Emit(p, static_cast<size_t>(pEnd - p));
                p = pEnd;
                break;
            case State::kMethod:
                if (*p++ != kMethodDeflate) {
                    Fail(kGzipBadHeader);
                } else {
                    m_eState = State::kFlags;
                }
                break;
            case State::kFlags:
                m_nFlags = *p++;
                if (m_nFlags & kFlagReserved) {
                    Fail(kGzipBadHeader);
                } else {
                    m_nSkip = kFixedFieldsSize;
                    m_eState = State::kFixedFields;
                }
                break;
            case State::kFixedFields:
            case State::kExtraData:
            case State::kHeaderCrc: {
                size_t nTake = std::min<size_t>(m_nSkip, static_cast<size_t>(pEnd - p));
                p += nTake;
                m_nSkip -= static_cast<uint32_t>(nTake);
                if (m_nSkip == 0)
                    StartHeaderFieldsAfter(m_eState);
                break;
            }
            case State::kExtraLength:
                m_nFieldLength |= static_cast<uint32_t>(*p++) << (8 * m_nFieldBytes);
                if (++m_nFieldBytes == 2) {
                    m_nSkip = m_nFieldLength;
                    m_eState = State::kExtraData;
                    if (m_nSkip == 0)
                        StartHeaderFieldsAfter(State::kExtraData);
                }
                break;
            case State::kName:
            case State::kComment: {
                const void* pZero = std::memchr(p, 0, static_cast<size_t>(pEnd - p));
                if (pZero == nullptr) {
                    p = pEnd;
                } else {
                    p = static_cast<const unsigned char*>(pZero) + 1;
                    StartHeaderFieldsAfter(m_eState);
                }
                break;
            }
            case State::kInflate:
                p = InflateSome(p, pEnd);
                break;
            case State::kTrailer:
                m_abTrailer[m_nFieldBytes++] = *p++;
                if (m_nFieldBytes == kTrailerSize)
                    CheckTrailer();
                break;
        }
    }
    return m_nResult == kGzipRunning;
}

int CGzipDecoder::Finish() {
    if (m_nResult != kGzipRunning)
        return m_nResult;
    switch (m_eState) {
        case State::kMagic1:
        case State::kPassThrough:
            break;
        case State::kMagic2:
            // A lone 0x1f at the end is not a gzip header: pass it on.
            if (!Emit(&kGzipId1, 1))
                return m_nResult;
            break;
        default:
            Fail(kGzipTruncated);
            return m_nResult;
    }
    m_nResult = kGzipOk;
    return m_nResult;
}

// Moves to the header field that follows eDone, skipping the absent ones,
// and on to the deflate data after the last one.
void CGzipDecoder::StartHeaderFieldsAfter(State eDone) {
    m_nFieldBytes = 0;
    m_nFieldLength = 0;
    switch (eDone) {
        case State::kFixedFields:
            if (m_nFlags & kFlagExtra) {
                m_eState = State::kExtraLength;
                return;
            }
            [[fallthrough]];
        case State::kExtraData:
            if (m_nFlags & kFlagName) {
                m_eState = State::kName;
                return;
            }
            [[fallthrough]];
        case State::kName:
            if (m_nFlags & kFlagComment) {
                m_eState = State::kComment;
                return;
            }
            [[fallthrough]];
        case State::kComment:
            if (m_nFlags & kFlagHeaderCrc) {
                m_nSkip = kHeaderCrcSize;
                m_eState = State::kHeaderCrc;
                return;
            }
            [[fallthrough]];
        default:
            StartMember();
    }
}

void CGzipDecoder::StartMember() {
    int nRet = m_bInflateReady ? inflateReset(&m_zStream) : inflateInit2(&m_zStream, -MAX_WBITS);
    if (nRet != Z_OK) {
        Fail(kGzipInitFailed);
        return;
    }
    m_bInflateReady = true;
    m_dwCrc = crc32(0L, Z_NULL, 0);
    m_nMemberSize = 0;
    m_eState = State::kInflate;
}

// Inflates from p until the input is used up or the member's deflate data
// ends; returns the first byte not consumed.
const unsigned char* CGzipDecoder::InflateSome(const unsigned char* p, const unsigned char* pEnd) {
    for (;;) {
        size_t nIn = std::min(static_cast<size_t>(pEnd - p), kMaxInflateInput);
        m_zStream.next_in = const_cast<unsigned char*>(p);
        m_zStream.avail_in = static_cast<uInt>(nIn);
        m_zStream.next_out = m_pOutBuf.get();
        m_zStream.avail_out = static_cast<uInt>(kOutBufSize);
        int nRet = inflate(&m_zStream, Z_NO_FLUSH);
        p += nIn - m_zStream.avail_in;
        size_t nOut = kOutBufSize - m_zStream.avail_out;
        if (nOut > 0) {
            m_dwCrc = crc32(m_dwCrc, m_pOutBuf.get(), static_cast<uInt>(nOut));
            m_nMemberSize += nOut;
            if (!Emit(m_pOutBuf.get(), nOut))
                return pEnd;
        }
        if (nRet == Z_STREAM_END) {
            m_nFieldBytes = 0;
            m_eState = State::kTrailer;
            return p;
        }
        // Z_BUF_ERROR only says that no progress was possible: more input is needed.
        if (nRet != Z_OK && nRet != Z_BUF_ERROR) {
            Fail(nRet == Z_MEM_ERROR ? kGzipInitFailed : kGzipDataError);
            return pEnd;
        }
        // A full output buffer may leave output pending inside inflate.
        if (m_zStream.avail_out != 0 && p == pEnd)
            return p;
    }
}

void CGzipDecoder::CheckTrailer() {
    if (ReadLe32(m_abTrailer) != m_dwCrc) {
        Fail(kGzipCrcMismatch);
    } else if (ReadLe32(m_abTrailer + 4) != static_cast<uint32_t>(m_nMemberSize)) {
        Fail(kGzipLengthMismatch);
    } else {
        // Another member may follow; anything else is passed on unchanged.
        m_eState = State::kMagic1;
    }
}

bool CGzipDecoder::Emit(const void* pData, size_t nSize) {
    if (nSize == 0)
        return true;
    if (!m_fnSink(static_cast<const char*>(pData), nSize)) {
        Fail(kGzipSinkFailed);
        return false;
    }
    m_nDecodedSize += nSize;
    return true;
}

void CGzipDecoder::Fail(int nResult) {
    if (m_nResult == kGzipRunning)
        m_nResult = nResult;
}

namespace {

std::string SystemErrorText(int nCode) {
    std::string strText;
    if (!platform::FormatSystemMessage(nCode, &strText))
        strText = "error " + std::to_string(nCode);
    return strText;
}

// Creates a new, not yet existing file beside strPath for the decoded content.
std::FILE* CreateTempBeside(const std::string& strPath, std::string* pstrTemp) {
    for (int i = 0; i < kMaxTempNames; ++i) {
        *pstrTemp = strPath + ".gztmp" + (i == 0 ? std::string() : std::to_string(i));
        // "x": never reuse or truncate a file that is already there.
        std::FILE* fp = std::fopen(pstrTemp->c_str(), "wbx");
        if (fp != nullptr || platform::GetLastSystemError() != platform::kErrorAlreadyExists) {
            return fp;
        }
    }
    return nullptr;
}

}  // namespace

int UnCompressGzipFile(const std::string& strPath, uint64_t* pnDecodedSize) {
    uint64_t nIgnored = 0;
    if (pnDecodedSize == nullptr)
        pnDecodedSize = &nIgnored;
    *pnDecodedSize = 0;
    if (strPath.empty())
        return 1;

    std::FILE* fpIn = std::fopen(strPath.c_str(), "rb");
    if (fpIn == nullptr) {
        TideLog(4, "%s1. File open error. '%s'", kLogPrefix, strPath.c_str());
        return 0;
    }
    std::unique_ptr<char[]> pReadBuf(new char[kFileReadSize]);
    size_t nRead = std::fread(pReadBuf.get(), 1, kFileReadSize, fpIn);
    if (nRead == 0) {
        int nError = std::ferror(fpIn) ? platform::GetLastSystemError() : 0;
        std::fclose(fpIn);
        if (nError == 0)
            return 1;  // an empty file stays as it is
        TideLog(4, "%s1. CFileException::%s.", kLogPrefix, SystemErrorText(nError).c_str());
        return 0;
    }

    std::string strTemp;
    std::FILE* fpOut = CreateTempBeside(strPath, &strTemp);
    if (fpOut == nullptr) {
        std::fclose(fpIn);
        TideLog(4, "%s2. File open error. '%s'", kLogPrefix, strTemp.c_str());
        return 0;
    }

    int nWriteError = 0;
    CGzipDecoder decoder([&](const char* pData, size_t nSize) {
        if (std::fwrite(pData, 1, nSize, fpOut) == nSize)
            return true;
        nWriteError = platform::GetLastSystemError();
        return false;
    });
    int nReadError = 0;
    while (nRead > 0 && decoder.Feed(pReadBuf.get(), nRead)) {
        nRead = std::fread(pReadBuf.get(), 1, kFileReadSize, fpIn);
        if (nRead == 0 && std::ferror(fpIn))
            nReadError = platform::GetLastSystemError();
    }
    std::fclose(fpIn);
    int nResult = nReadError == 0 ? decoder.Finish() : kGzipRunning;
    if (std::fclose(fpOut) != 0 && nWriteError == 0 && nResult == kGzipOk) {
        nWriteError = platform::GetLastSystemError();
        nResult = kGzipSinkFailed;
    }

    bool bReplaced = false;
    if (nReadError != 0) {
        TideLog(4, "%s1. CFileException::%s.", kLogPrefix, SystemErrorText(nReadError).c_str());
    } else if (nResult == kGzipSinkFailed) {
        TideLog(4, "%s2. CFileException::%s.", kLogPrefix, SystemErrorText(nWriteError).c_str());
    } else {
        if (nResult != kGzipOk) {
            TideLog(4, "%sCorrupt gzip stream (%s). '%s'", kLogPrefix, GzipResultText(nResult),
                    strPath.c_str());
        }
        if (decoder.GetDecodedSize() == 0) {
            TideLog(4, "%sFailed GZipUnCompress(). pUnCompressBuff==NULL or dwUnCompressSize==0",
                    kLogPrefix);
        } else if (nResult == kGzipOk) {
            bReplaced = platform::MoveFileReplace(strTemp, strPath);
            if (!bReplaced) {
                int nError = platform::GetLastSystemError();
                TideLog(4, "%sFailed MoveFileReplace(). (%d) %s", kLogPrefix, nError,
                        SystemErrorText(nError).c_str());
            }
        }
    }
    if (!bReplaced) {
        platform::DeleteFile(strTemp);
        return 0;
    }
    *pnDecodedSize = decoder.GetDecodedSize();
    return 1;
}
