#include "zip/zip_directory.h"

#include <algorithm>

#include "log/my_log.h"
#include "zip/extra_field.h"
#include "zip/zip_format.h"

using namespace zipformat;

ZipResult CZipDirectory::Read(const zipfile::CZipInputFile& file) {
    uint64_t nFileSize = file.Size();
    if (nFileSize < kEndOfDirSize)
        return kZipNoFile;
    size_t nTail = static_cast<size_t>(std::min<uint64_t>(nFileSize, kEndOfDirSearch));
    uint64_t nTailStart = nFileSize - nTail;
    std::vector<unsigned char> vecTail(nTail);
    if (!file.ReadAt(nTailStart, vecTail.data(), nTail))
        return kZipNoFile;

    // The hindmost signature that starts a sound end record wins; one that
    // merely appears inside the archive comment is passed over.
    EndInfo info;
    bool bFound = false;
    bool bOverLimits = false;
    for (size_t nPos = nTail - kEndOfDirSize + 1; nPos-- > 0;) {
        if (Read32(vecTail.data() + nPos) == kEndOfDirSig &&
            ReadEndAt(file, nTailStart + nPos, vecTail.data() + nPos, &info, &bOverLimits)) {
            bFound = true;
            break;
        }
    }
    if (!bFound) {
        if (bOverLimits) {
            TideLog(4,
                    "CZipDirectory::Read> The archive holds more than %llu members or a "
                    "directory over %llu bytes; refused",
                    static_cast<unsigned long long>(kMaxMembers),
                    static_cast<unsigned long long>(kMaxCentralDirBytes));
        }
        return kZipNoFile;
    }

    m_vecData.resize(static_cast<size_t>(info.nSize));
    if (!file.ReadAt(info.nOffset, m_vecData.data(), m_vecData.size()))
        return kZipNoFile;
    m_nCount = static_cast<int>(info.nEntries);
    m_nOffset = info.nOffset;
    IndexRecords();
    return kZipOk;
}

bool CZipDirectory::ReadEndAt(const zipfile::CZipInputFile& file, uint64_t nPos,
                              const unsigned char* pEnd, EndInfo* pInfo,
                              bool* pbOverLimits) const {
    uint16_t nDisk = Read16(pEnd + kEndDisk);
    uint16_t nDirDisk = Read16(pEnd + kEndDirDisk);
    uint16_t nHere = Read16(pEnd + kEndEntriesHere);
    EndInfo info;
    info.nEntries = Read16(pEnd + kEndEntriesTotal);
    info.nSize = Read32(pEnd + kEndDirSize);
    info.nOffset = Read32(pEnd + kEndDirOffset);
    uint64_t nDirEnd = nPos;  // the directory must end before this

    unsigned char abLocator[kZip64LocatorSize];
    bool bLocator = nPos >= kZip64LocatorSize &&
                    file.ReadAt(nPos - kZip64LocatorSize, abLocator, sizeof(abLocator)) &&
                    Read32(abLocator) == kZip64LocatorSig;
    if (bLocator) {
        if (!ReadZip64End(file, nPos - kZip64LocatorSize, &info))
            return false;
        nDirEnd = Read64(abLocator + kLoc64Offset);
    } else {
        bool bNeeds64 = nHere == kZip64Marker16 || info.nEntries == kZip64Marker16 ||
                        info.nSize == kZip64Marker32 || info.nOffset == kZip64Marker32;
        if (bNeeds64 || nDisk != 0 || nDirDisk != 0 || nHere != info.nEntries)
            return false;
    }
    if (info.nOffset > nDirEnd || info.nSize > nDirEnd - info.nOffset)
        return false;
    if (info.nEntries > info.nSize / kCentralHeaderSize)
        return false;
    if (info.nEntries > kMaxMembers || info.nSize > kMaxCentralDirBytes) {
        *pbOverLimits = true;
        return false;
    }
    *pInfo = info;
    return true;
}

bool CZipDirectory::ReadZip64End(const zipfile::CZipInputFile& file, uint64_t nLocatorPos,
                                 EndInfo* pInfo) const {
    unsigned char abLocator[kZip64LocatorSize];
    if (!file.ReadAt(nLocatorPos, abLocator, sizeof(abLocator)))
        return false;
    uint32_t nDisk = Read32(abLocator + kLoc64Disk);
    uint64_t nEndPos = Read64(abLocator + kLoc64Offset);
    uint32_t nDisks = Read32(abLocator + kLoc64Disks);
    if (nDisk != 0 || nDisks > 1 || nEndPos > nLocatorPos ||
        nLocatorPos - nEndPos < kZip64EndOfDirSize) {
        return false;
    }
    unsigned char abEnd[kZip64EndOfDirSize];
    if (!file.ReadAt(nEndPos, abEnd, sizeof(abEnd)) || Read32(abEnd) != kZip64EndOfDirSig)
        return false;
    uint64_t nHere = Read64(abEnd + kEnd64EntriesHere);
    pInfo->nEntries = Read64(abEnd + kEnd64EntriesTotal);
    pInfo->nSize = Read64(abEnd + kEnd64DirSize);
    pInfo->nOffset = Read64(abEnd + kEnd64DirOffset);
    return Read32(abEnd + kEnd64Disk) == 0 && Read32(abEnd + kEnd64DirDisk) == 0 &&
           nHere == pInfo->nEntries;
}

void CZipDirectory::IndexRecords() {
    m_vecRecordStart.clear();
    m_vecRecordStart.reserve(static_cast<size_t>(m_nCount));
    size_t nPos = 0;
    size_t nSize = m_vecData.size();
    // A record that does not fit ends the walk; the members from there on
    // are reported corrupt when asked for.
    for (int i = 0; i < m_nCount; ++i) {
        if (nSize - nPos < kCentralHeaderSize)
            break;
        const unsigned char* p = m_vecData.data() + nPos;
        if (Read32(p) != kCentralHeaderSig)
            break;
        size_t nLength = kCentralHeaderSize + Read16(p + kCenNameLen) + Read16(p + kCenExtraLen) +
                         Read16(p + kCenCommentLen);
        if (nLength > nSize - nPos)
            break;
        m_vecRecordStart.push_back(nPos);
        nPos += nLength;
    }
}

ZipResult CZipDirectory::GetRecord(int nIndex, CentralRecord* pRecord) const {
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_vecRecordStart.size())
        return kZipCorrupt;
    const unsigned char* p = m_vecData.data() + m_vecRecordStart[static_cast<size_t>(nIndex)];
    CentralRecord rec;
    rec.nVersionMadeBy = Read16(p + kCenVersionMadeBy);
    rec.nFlags = Read16(p + kCenFlags);
    rec.nMethod = Read16(p + kCenMethod);
    rec.nDosTime = Read16(p + kCenTime);
    rec.nDosDate = Read16(p + kCenDate);
    rec.dwCrc = Read32(p + kCenCrc);
    rec.dwExternalAttr = Read32(p + kCenExternalAttr);
    size_t nNameLength = Read16(p + kCenNameLen);
    rec.strStoredName =
        std::string_view(reinterpret_cast<const char*>(p + kCentralHeaderSize), nNameLength);
    rec.pExtra = p + kCentralHeaderSize + nNameLength;
    rec.nExtraLength = Read16(p + kCenExtraLen);

    zipextra::Zip64Values values;
    values.nCompSize = Read32(p + kCenCompSize);
    values.nUncSize = Read32(p + kCenUncSize);
    values.nLocalOffset = Read32(p + kCenLocalOffset);
    if (!zipextra::ApplyZip64(rec.pExtra, rec.nExtraLength, true, &values))
        return kZipCorrupt;
    // Members of other disks cannot be read.
    uint16_t nDiskStart = Read16(p + kCenDiskStart);
    if (nDiskStart != 0 && nDiskStart != kZip64Marker16)
        return kZipCorrupt;
    rec.nCompSize = values.nCompSize;
    rec.nUncSize = values.nUncSize;
    rec.nLocalOffset = values.nLocalOffset;
    *pRecord = rec;
    return kZipOk;
}
