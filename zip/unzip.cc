#include "zip/unzip.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "zip/zip_file.h"
#include "zip/zip_reader.h"

// The record behind a handle.
struct ZipArchive {
    int nKind = 0;  // kArchiveForReading while valid
    CZipReader* pReader = nullptr;
};

namespace {

constexpr int kArchiveForReading = 1;

// Atomic, so that archives on different threads do not race on it.
std::atomic<ZipResult> g_nLastZipResult{kZipOk};

ZipResult Store(ZipResult nResult) {
    g_nLastZipResult.store(nResult, std::memory_order_relaxed);
    return nResult;
}

ZipResult CheckHandle(ZipHandle hZip) {
    if (hZip == nullptr)
        return kZipArgs;
    if (hZip->nKind != kArchiveForReading || hZip->pReader == nullptr)
        return kZipMixedMode;
    return kZipOk;
}

struct ResultText {
    ZipResult nCode;
    const char* pszText;
};

constexpr ResultText kResultTexts[] = {
    {kZipOk, "Success"},
    {kZipDupHandle, "Culdn't duplicate handle"},
    {kZipNoFile, "Couldn't create/open file"},
    {kZipNoAlloc, "Failed to allocate memory"},
    {kZipWrite, "Error writing to file"},
    {kZipNotFound, "File not found in the zipfile"},
    {kZipMore, "Still more data to unzip"},
    {kZipCorrupt, "Zipfile is corrupt or not a zipfile"},
    {kZipRead, "Error reading file"},
    {kZipPassword, "Correct password required"},
    {kZipUnsafeName, "Member name refused: absolute or containing \"..\""},
    {kZipCrc, "CRC-32 of the unzipped data does not match"},
    {kZipSize, "Unzipped size differs from the declared size"},
    {kZipArgs, "Caller: faulty arguments"},
    {kZipNotMemory, "Caller: can only get memory of a memory zipfile"},
    {kZipMemorySize, "Caller: not enough space allocated for memory zipfile"},
    {kZipFailed, "Caller: there was a previous error"},
    {kZipEnded, "Caller: additions to the zip have already been ended"},
    {kZipMissize, "Zip-bug: the anticipated size turned out wrong"},
    {kZipPartlyUnzipped, "Caller: the file had already been partially unzipped"},
    {kZipMixedMode, "Caller: mixing creation and opening of zip"},
    {kZipNotInited, "Zip-bug: internal initialisation not completed"},
    {kZipSeek, "Zip-bug: trying to seek the unseekable"},
    {kZipNoChange, "Zip-bug: tried to change mind, but not allowed"},
    {kZipFlate, "Zip-bug: an internal error during flation"},
};

constexpr const char* kUnknownResultText = "unknown zip result code";

}  // namespace

ZipHandle OpenZipFile(const char* pszPath, unsigned /*nLength*/, unsigned nKind,
                      const char* pszRootFolder) {
    if (pszPath == nullptr || *pszPath == '\0' || nKind != kZipKindFileName) {
        Store(kZipArgs);
        return nullptr;
    }
    try {
        std::string strRoot;
        if (pszRootFolder != nullptr && *pszRootFolder != '\0') {
            strRoot = pszRootFolder;
        } else if (!zipfile::GetCurrentFolder(&strRoot)) {
            Store(kZipNoFile);
            return nullptr;
        }
        auto pReader = std::make_unique<CZipReader>();
        ZipResult nResult = pReader->Open(pszPath, strRoot);
        if (nResult != kZipOk) {
            Store(nResult);
            return nullptr;
        }
        auto* pArchive = new ZipArchive;
        pArchive->nKind = kArchiveForReading;
        pArchive->pReader = pReader.release();
        Store(kZipOk);
        return pArchive;
    } catch (const std::bad_alloc&) {
        Store(kZipNoAlloc);
        return nullptr;
    }
}

ZipResult GetZipItem(ZipHandle hZip, int nIndex, ZipEntry* pEntry) {
    ZipResult nResult = CheckHandle(hZip);
    if (nResult != kZipOk)
        return Store(nResult);
    if (pEntry == nullptr)
        return Store(kZipArgs);
    try {
        return Store(hZip->pReader->GetEntry(nIndex, pEntry));
    } catch (const std::bad_alloc&) {
        return Store(kZipNoAlloc);
    }
}

ZipResult UnzipItem(ZipHandle hZip, int nIndex, const char* pszPath, unsigned /*nLength*/,
                    unsigned nKind) {
    ZipResult nResult = CheckHandle(hZip);
    if (nResult != kZipOk)
        return Store(nResult);
    if (pszPath == nullptr || nKind != kZipKindFileName)
        return Store(kZipArgs);
    try {
        return Store(hZip->pReader->Extract(nIndex, pszPath));
    } catch (const std::bad_alloc&) {
        return Store(kZipNoAlloc);
    }
}

ZipResult CloseZipFile(ZipHandle hZip) {
    ZipResult nResult = CheckHandle(hZip);
    if (nResult != kZipOk)
        return Store(nResult);
    delete hZip->pReader;
    hZip->pReader = nullptr;
    hZip->nKind = 0;
    delete hZip;
    return Store(kZipOk);
}

unsigned FormatZipResult(ZipResult nCode, char* pszBuffer, unsigned nSize) {
    if (nCode == kZipLastResult)
        nCode = g_nLastZipResult.load(std::memory_order_relaxed);
    const char* pszText = kUnknownResultText;
    for (const ResultText& entry : kResultTexts) {
        if (entry.nCode == nCode) {
            pszText = entry.pszText;
            break;
        }
    }
    auto nLength = static_cast<unsigned>(std::strlen(pszText));
    if (pszBuffer != nullptr && nSize > 0) {
        unsigned nCopy = nLength < nSize - 1 ? nLength : nSize - 1;
        std::memcpy(pszBuffer, pszText, nCopy);
        pszBuffer[nCopy] = '\0';
    }
    return nLength;
}
