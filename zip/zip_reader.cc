#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/my_log.h"
#include "platform/file_system.h"
#include "zip/extra_field.h"
#include "zip/member_attributes.h"
#include "zip/member_name.h"
#include "zip/zip_format.h"

using namespace zipformat;

namespace {

// Large steps keep the number of reads, inflate calls and writes low.
constexpr size_t kInBufferSize = 256 * 1024;
constexpr size_t kOutBufferSize = 256 * 1024;
// Raw deflate data: no zlib header, the largest window.
constexpr int kRawDeflateWindowBits = -15;

}  // namespace

CZipReader::CZipReader() = default;

CZipReader::~CZipReader() {
    if (m_bInflateReady)
        inflateEnd(m_pStream.get());
}

ZipResult CZipReader::Open(const std::string& strPath, const std::string& strRootFolder) {
    m_strRootFolder = strRootFolder;
    if (m_strRootFolder.empty() || m_strRootFolder.back() != '/')
        m_strRootFolder += '/';
    if (!m_file.Open(strPath))
        return kZipNoFile;
    return m_directory.Read(m_file);
}

ZipResult CZipReader::GetEntry(int nIndex, ZipEntry* pEntry) {
    if (nIndex < -1 || nIndex >= Count())
        return kZipArgs;
    if (nIndex == -1) {
        *pEntry = ZipEntry();
        pEntry->index = Count();
        return kZipOk;
    }
    ZipResult nResult = LoadMember(nIndex);
    if (nResult != kZipOk)
        return nResult;
    if (!m_member.bSafeName) {
        TideLog(4,
                "CZipReader::GetEntry> Member name refused (absolute or \"..\"), Index = %d, "
                "Name = %s",
                nIndex, m_member.entry.name);
        return kZipUnsafeName;
    }
    *pEntry = m_member.entry;
    return kZipOk;
}

ZipResult CZipReader::LoadMember(int nIndex) {
    if (nIndex == m_nCachedIndex)
        return kZipOk;
    m_nCachedIndex = -1;
    CentralRecord rec;
    ZipResult nResult = m_directory.GetRecord(nIndex, &rec);
    if (nResult != kZipOk)
        return nResult;
    if (rec.nMethod != kMethodStored && rec.nMethod != kMethodDeflated)
        return kZipCorrupt;
    if (rec.strStoredName.size() > kMaxNameBytes)
        return kZipCorrupt;
    std::string strName = zipname::DecodeMemberName(rec.strStoredName);
    if (strName.size() > kMaxNameBytes)
        return kZipCorrupt;

    Member member;
    member.nFlags = rec.nFlags;
    member.nMethod = rec.nMethod;
    member.dwCrc = rec.dwCrc;
    member.nCompSize = rec.nCompSize;
    member.nUncSize = rec.nUncSize;
    member.nPermissions = zipattr::PermissionsOf(rec.dwExternalAttr);
    member.bSafeName = zipname::IsSafeMemberName(strName);
    ZipEntry& entry = member.entry;
    entry.index = nIndex;
    std::memcpy(entry.name, strName.data(), strName.size());
    entry.name[strName.size()] = '\0';
    entry.attr = zipattr::AttributesOf(rec.dwExternalAttr, zipname::IsFolderName(strName));
    entry.comp_size = static_cast<int64_t>(rec.nCompSize);
    entry.unc_size = static_cast<int64_t>(rec.nUncSize);
    int64_t nDosTime = zipattr::DosTimeToUnix(rec.nDosDate, rec.nDosTime);
    entry.atime = entry.ctime = entry.mtime = nDosTime;

    nResult = CheckLocalHeader(rec, &member);
    if (nResult != kZipOk)
        return nResult;
    m_member = member;
    m_nCachedIndex = nIndex;
    return kZipOk;
}

// The local header must agree with the directory; its extra field holds
// the full set of "UT" times.
ZipResult CZipReader::CheckLocalHeader(const CentralRecord& rec, Member* pMember) {
    uint64_t nOffset = rec.nLocalOffset;
    uint64_t nEnd = m_directory.Offset();
    if (nOffset > nEnd || nEnd - nOffset < kLocalHeaderSize)
        return kZipCorrupt;
    unsigned char abHeader[kLocalHeaderSize];
    if (!m_file.ReadAt(nOffset, abHeader, sizeof(abHeader)))
        return kZipRead;
    if (Read32(abHeader) != kLocalHeaderSig || Read16(abHeader + kLocMethod) != rec.nMethod ||
        Read16(abHeader + kLocNameLen) != rec.strStoredName.size()) {
        return kZipCorrupt;
    }
    if ((Read16(abHeader + kLocFlags) & kFlagDataDescriptor) == 0) {
        // A 32-bit size of all ones defers to the local zip64 block; the
        // directory's value is the one used.
        uint32_t dwComp = Read32(abHeader + kLocCompSize);
        uint32_t dwUnc = Read32(abHeader + kLocUncSize);
        if (Read32(abHeader + kLocCrc) != rec.dwCrc ||
            (dwComp != kZip64Marker32 && dwComp != rec.nCompSize) ||
            (dwUnc != kZip64Marker32 && dwUnc != rec.nUncSize)) {
            return kZipCorrupt;
        }
    }
    size_t nNameLength = Read16(abHeader + kLocNameLen);
    size_t nExtraLength = Read16(abHeader + kLocExtraLen);
    uint64_t nDataOffset = nOffset + kLocalHeaderSize + nNameLength + nExtraLength;
    if (nDataOffset > nEnd || rec.nCompSize > nEnd - nDataOffset)
        return kZipCorrupt;
    m_vecLocal.resize(nNameLength + nExtraLength);
    if (!m_file.ReadAt(nOffset + kLocalHeaderSize, m_vecLocal.data(), m_vecLocal.size()))
        return kZipRead;
    pMember->nDataOffset = nDataOffset;

    zipextra::Timestamps times;
    if (zipextra::ReadTimestamps(m_vecLocal.data() + nNameLength, nExtraLength, &times)) {
        ZipEntry& entry = pMember->entry;
        if (times.bHasModify)
            entry.mtime = times.nModify;
        if (times.bHasAccess)
            entry.atime = times.nAccess;
        if (times.bHasCreate)
            entry.ctime = times.nCreate;
    }
    return kZipOk;
}

ZipResult CZipReader::Extract(int nIndex, const std::string& strOutPath) {
    if (nIndex < 0 || nIndex >= Count())
        return kZipArgs;
    ZipResult nResult = LoadMember(nIndex);
    if (nResult != kZipOk)
        return nResult;
    if (!m_member.bSafeName) {
        TideLog(4,
                "CZipReader::Extract> Member name refused (absolute or \"..\"), Index = %d, "
                "Name = %s",
                nIndex, m_member.entry.name);
        return kZipUnsafeName;
    }
    if ((m_member.entry.attr & kZipAttrDirectory) != 0) {
        MakeFoldersBelowRoot(m_member.entry.name);
        return kZipOk;
    }
    if (strOutPath.empty())
        return kZipArgs;
    // Without a password an encrypted member cannot be read; nothing is
    // written for it.
    if ((m_member.nFlags & kFlagEncrypted) != 0)
        return kZipPassword;
    return ExtractFile(strOutPath);
}

ZipResult CZipReader::ExtractFile(const std::string& strOutPath) {
    std::string strTarget = strOutPath;
    if (strOutPath[0] != '/') {
        // Relative output paths live below the root folder, which gets the
        // path's folders unless they would climb out of it.
        size_t nSep = strOutPath.rfind('/');
        if (nSep != std::string::npos && zipname::IsSafeMemberName(strOutPath))
            MakeFoldersBelowRoot(strOutPath.substr(0, nSep));
        strTarget = m_strRootFolder + strOutPath;
    }
    ZipResult nResult = PrepareBuffers();
    if (nResult != kZipOk)
        return nResult;

    zipfile::CZipOutputFile out;
    if (!out.Create(strTarget, m_member.nPermissions))
        return kZipNoFile;
    uint32_t dwCrc = 0;
    nResult =
        m_member.nMethod == kMethodStored ? CopyStored(&out, &dwCrc) : CopyDeflated(&out, &dwCrc);
    if (nResult == kZipOk && !out.Finish())
        nResult = kZipWrite;
    if (nResult == kZipWrite) {
        // A full disk or a file size limit: say which, the code alone does not.
        TideLog(4, "CZipReader::ExtractFile> Write failed (%s), Index = %d, Name = %s",
                std::strerror(errno), m_member.entry.index, m_member.entry.name);
    }
    if (nResult == kZipOk && dwCrc != m_member.dwCrc) {
        TideLog(4, "CZipReader::ExtractFile> CRC-32 mismatch, Index = %d, Name = %s",
                m_member.entry.index, m_member.entry.name);
        nResult = kZipCrc;
    }
    if (nResult != kZipOk)
        return nResult;  // the temporary file goes with out

    // Times and attributes go on before the rename, so the target never
    // shows up half done.
    platform::SetFileModifyTime(out.TempPath(), m_member.entry.mtime);
    if ((m_member.entry.attr & kZipAttrReadOnly) != 0)
        platform::SetReadOnly(out.TempPath(), true);
    if (!out.Commit())
        return kZipNoFile;
    return kZipOk;
}

ZipResult CZipReader::PrepareBuffers() {
    if (m_bInflateReady)
        return kZipOk;
    m_pInBuffer.reset(new unsigned char[kInBufferSize]);
    m_pOutBuffer.reset(new unsigned char[kOutBufferSize]);
    m_pStream = std::make_unique<z_stream>();
    if (inflateInit2(m_pStream.get(), kRawDeflateWindowBits) != Z_OK)
        return kZipNoAlloc;
    m_bInflateReady = true;
    return kZipOk;
}

ZipResult CZipReader::CopyStored(zipfile::CZipOutputFile* pOut, uint32_t* pdwCrc) {
    if (m_member.nCompSize != m_member.nUncSize) {
        TideLog(4,
                "CZipReader::CopyStored> Stored size differs from the declared size, "
                "Index = %d",
                m_member.entry.index);
        return kZipSize;
    }
    uLong dwCrc = crc32(0, nullptr, 0);
    uint64_t nPos = m_member.nDataOffset;
    uint64_t nLeft = m_member.nCompSize;
    while (nLeft > 0) {
        size_t nStep = static_cast<size_t>(std::min<uint64_t>(nLeft, kInBufferSize));
        if (!m_file.ReadAt(nPos, m_pInBuffer.get(), nStep))
            return kZipRead;
        dwCrc = crc32(dwCrc, m_pInBuffer.get(), static_cast<uInt>(nStep));
        if (!pOut->Write(m_pInBuffer.get(), nStep))
            return kZipWrite;
        nPos += nStep;
        nLeft -= nStep;
    }
    *pdwCrc = static_cast<uint32_t>(dwCrc);
    return kZipOk;
}

ZipResult CZipReader::CopyDeflated(zipfile::CZipOutputFile* pOut, uint32_t* pdwCrc) {
    z_stream& zs = *m_pStream;
    if (inflateReset(&zs) != Z_OK)
        return kZipFlate;
    zs.avail_in = 0;
    uLong dwCrc = crc32(0, nullptr, 0);
    uint64_t nPos = m_member.nDataOffset;
    uint64_t nLeft = m_member.nCompSize;
    uint64_t nWritten = 0;
    for (;;) {
        if (zs.avail_in == 0 && nLeft > 0) {
            size_t nStep = static_cast<size_t>(std::min<uint64_t>(nLeft, kInBufferSize));
            if (!m_file.ReadAt(nPos, m_pInBuffer.get(), nStep))
                return kZipRead;
            zs.next_in = m_pInBuffer.get();
            zs.avail_in = static_cast<uInt>(nStep);
            nPos += nStep;
            nLeft -= nStep;
        }
        zs.next_out = m_pOutBuffer.get();
        zs.avail_out = static_cast<uInt>(kOutBufferSize);
        int nRet = inflate(&zs, Z_NO_FLUSH);
        size_t nProduced = kOutBufferSize - zs.avail_out;
        if (nProduced > 0) {
            // The declared size bounds what is written: a member that
            // inflates past it stops here.
            if (nProduced > m_member.nUncSize - nWritten) {
                TideLog(4,
                        "CZipReader::CopyDeflated> Data exceeds the declared size %llu, "
                        "Index = %d",
                        static_cast<unsigned long long>(m_member.nUncSize), m_member.entry.index);
                return kZipSize;
            }
            dwCrc = crc32(dwCrc, m_pOutBuffer.get(), static_cast<uInt>(nProduced));
            if (!pOut->Write(m_pOutBuffer.get(), nProduced))
                return kZipWrite;
            nWritten += nProduced;
        }
        if (nRet == Z_STREAM_END)
            break;
        if (nRet == Z_MEM_ERROR)
            return kZipNoAlloc;
        // No progress with all input used means the data ends inside the
        // stream; anything else but Z_OK is bad data.
        bool bInputLeft = zs.avail_in > 0 || nLeft > 0;
        if (nRet != Z_OK && !(nRet == Z_BUF_ERROR && bInputLeft))
            return kZipFlate;
    }
    if (nWritten != m_member.nUncSize) {
        TideLog(4, "CZipReader::CopyDeflated> Data is shorter than the declared size, Index = %d",
                m_member.entry.index);
        return kZipSize;
    }
    *pdwCrc = static_cast<uint32_t>(dwCrc);
    return kZipOk;
}

void CZipReader::MakeFoldersBelowRoot(const std::string& strRelativeFolder) const {
    // Each level in turn; a level that exists or cannot be made is passed
    // over, and the file's own creation reports what matters.
    for (size_t nPos = 0; nPos <= strRelativeFolder.size(); ++nPos) {
        if (nPos == strRelativeFolder.size() || strRelativeFolder[nPos] == '/') {
            if (nPos > 0 && strRelativeFolder[nPos - 1] != '/')
                platform::MakeDirectory(m_strRootFolder + strRelativeFolder.substr(0, nPos));
        }
    }
}
