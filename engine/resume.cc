#include "engine/resume.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "log/my_log.h"
#include "platform/file_system.h"
#include "util/crypto.h"

namespace {

// Keeps ".<name>.tidewell-part.meta" within the usual 255-byte name limit.
constexpr size_t kMaxPartStemBytes = 200;
constexpr char kMetaMagic[] = "tidewell-resume 1";
constexpr char kMetaEnd[] = "end";
constexpr size_t kHashBlockBytes = 1024 * 1024;

// The meta's lines; the last one is missing from a write that was cut off.
std::string MetaText(const FileItem& item, uint64_t nSize, const std::string& strValidator) {
    return std::string(kMetaMagic) + "\nsource " + item.m_strSourceFile + "\nsize " +
           std::to_string(nSize) + "\nvalidator " + strValidator + "\n" + kMetaEnd + "\n";
}

bool ReadSmallFile(const std::string& strPath, size_t nMax, std::string* pstrData) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    char buf[kMaxPartMetaBytes + 1];
    size_t nRead = std::fread(buf, 1, std::min(sizeof(buf), nMax + 1), fp);
    std::fclose(fp);
    if (nRead > nMax)
        return false;
    pstrData->assign(buf, nRead);
    return true;
}

// The validator the meta names when it is whole and belongs to item.
bool ParseMeta(const std::string& strData, const FileItem& item, uint64_t nSize,
               std::string* pstrValidator) {
    std::istringstream in(strData);
    std::string strMagic, strSource, strSize, strValidator, strEnd;
    if (!std::getline(in, strMagic) || !std::getline(in, strSource) || !std::getline(in, strSize) ||
        !std::getline(in, strValidator) || !std::getline(in, strEnd)) {
        return false;
    }
    if (strMagic != kMetaMagic || strEnd != kMetaEnd ||
        strSource != "source " + item.m_strSourceFile ||
        strSize != "size " + std::to_string(nSize) || strValidator.rfind("validator ", 0) != 0) {
        return false;
    }
    *pstrValidator = strValidator.substr(10);
    return IsSendableValidator(*pstrValidator);
}

}  // namespace

std::string PartPathOf(const std::string& strTarget) {
    size_t nSep = strTarget.find_last_of(platform::kPathSep);
    std::string strDir = nSep == std::string::npos ? std::string() : strTarget.substr(0, nSep + 1);
    std::string strName = nSep == std::string::npos ? strTarget : strTarget.substr(nSep + 1);
    if (strName.size() > kMaxPartStemBytes)
        strName.resize(kMaxPartStemBytes);
    return strDir + "." + strName + ".tidewell-part";
}

std::string PartMetaPathOf(const std::string& strTarget) {
    return PartPathOf(strTarget) + ".meta";
}

void DiscardPart(const std::string& strTarget) {
    platform::DeleteFile(PartPathOf(strTarget));
    platform::DeleteFile(PartMetaPathOf(strTarget));
}

uint64_t ResumableSize(const FileItem& item) {
    if (item.m_bSizeUnknown != 0 || item.m_nGzip == 1 || item.m_bSizeEncoded != 0 ||
        item.m_strFileSize.empty()) {
        return 0;
    }
    char* pEnd = nullptr;
    unsigned long long nSize = std::strtoull(item.m_strFileSize.c_str(), &pEnd, 10);
    if (pEnd == nullptr || *pEnd != '\0' || nSize < kMinResumeBytes)
        return 0;
    return nSize;
}

ResumePoint FindResumePoint(const FileItem& item, uint64_t nSize) {
    ResumePoint point;
    const std::string& strTarget = item.m_strTargetFile;
    platform::FileStatus status;
    if (!platform::GetFileStatus(PartPathOf(strTarget), &status) || status.bDirectory) {
        platform::DeleteFile(PartMetaPathOf(strTarget));
        return point;
    }
    std::string strMeta;
    std::string strValidator;
    bool bMatch = ReadSmallFile(PartMetaPathOf(strTarget), kMaxPartMetaBytes, &strMeta) &&
                  ParseMeta(strMeta, item, nSize, &strValidator);
    // An empty part or a whole one gains nothing from a range.
    if (!bMatch || status.nSize == 0 || status.nSize >= nSize) {
        TideLog(2,
                "CSyncEngine::DownloadOneFileFromServer> '%s' >> Part of %llu bytes not "
                "resumable; removed.",
                item.m_strSourceFile.c_str(), static_cast<unsigned long long>(status.nSize));
        DiscardPart(strTarget);
        return point;
    }
    point.nOffset = status.nSize;
    point.strValidator = strValidator;
    return point;
}

bool IsSendableValidator(const std::string& strValue) {
    if (strValue.empty() || strValue.size() > kMaxValidatorBytes)
        return false;
    for (char c : strValue) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F)
            return false;
    }
    return true;
}

std::string ValidatorOf(const HttpResponse& response) {
    // A weak ETag may not stand in If-Range.
    const std::string* pETag = response.Header("ETag");
    if (pETag != nullptr && pETag->rfind("W/", 0) != 0 && IsSendableValidator(*pETag))
        return *pETag;
    const std::string* pLastModified = response.Header("Last-Modified");
    if (pLastModified != nullptr && IsSendableValidator(*pLastModified))
        return *pLastModified;
    return std::string();
}

bool WritePartMeta(const FileItem& item, uint64_t nSize, const std::string& strValidator) {
    std::string strPath = PartMetaPathOf(item.m_strTargetFile);
    std::string strText = MetaText(item, nSize, strValidator);
    if (!IsSendableValidator(strValidator) || strText.size() > kMaxPartMetaBytes)
        return false;
    std::FILE* fp = std::fopen(strPath.c_str(), "wb");
    if (fp == nullptr)
        return false;
    bool bOk = std::fwrite(strText.data(), 1, strText.size(), fp) == strText.size();
    bOk = std::fclose(fp) == 0 && bOk;
    if (!bOk)
        platform::DeleteFile(strPath);
    return bOk;
}

HttpRequestOptions RangeRequestOf(const ResumePoint& point) {
    HttpRequestOptions options;
    if (point.nOffset == 0)
        return options;
    options.vecHeaders.push_back("Range: bytes=" + std::to_string(point.nOffset) + "-");
    options.vecHeaders.push_back("If-Range: " + point.strValidator);
    return options;
}

bool ContinuesPart(const HttpResponse& response, uint64_t nOffset, uint64_t nSize) {
    if (response.nStatus != 206 || nOffset == 0 || nOffset >= nSize)
        return false;
    const std::string* pEncoding = response.Header("Content-Encoding");
    if (pEncoding != nullptr && strcasecmp(pEncoding->c_str(), "identity") != 0)
        return false;
    const std::string* pRange = response.Header("Content-Range");
    std::string strWanted = "bytes " + std::to_string(nOffset) + "-" + std::to_string(nSize - 1) +
                            "/" + std::to_string(nSize);
    return pRange != nullptr && *pRange == strWanted;
}

bool HashFilePrefix(const std::string& strPath, uint64_t nBytes, CSha256* pSha) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    auto pBuf = std::make_unique<char[]>(kHashBlockBytes);
    uint64_t nLeft = nBytes;
    while (nLeft > 0) {
        size_t nWant = nLeft < kHashBlockBytes ? static_cast<size_t>(nLeft) : kHashBlockBytes;
        size_t nRead = std::fread(pBuf.get(), 1, nWant, fp);
        pSha->Update(pBuf.get(), nRead);
        nLeft -= nRead;
        if (nRead < nWant)
            break;
    }
    std::fclose(fp);
    return nLeft == 0;
}
