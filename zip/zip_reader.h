// One open archive: reads member records (the last one cached) and
// extracts members. The object behind a ZipHandle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/unzip.h"
#include "zip/zip_directory.h"
#include "zip/zip_file.h"

struct z_stream_s;

class CZipReader {
public:
    CZipReader();
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Opens the archive and reads its directory. strRootFolder receives
    // folder members and relative output paths.
    ZipResult Open(const std::string& strPath, const std::string& strRootFolder);
    int Count() const { return m_directory.Count(); }
    // nIndex from -1 (the count) to Count() - 1.
    ZipResult GetEntry(int nIndex, ZipEntry* pEntry);
    ZipResult Extract(int nIndex, const std::string& strOutPath);

private:
    // A member's record with what extraction needs beyond ZipEntry.
    struct Member {
        ZipEntry entry;
        uint16_t nFlags = 0;
        uint16_t nMethod = 0;
        uint32_t dwCrc = 0;
        uint64_t nCompSize = 0;
        uint64_t nUncSize = 0;
        uint64_t nDataOffset = 0;
        unsigned nPermissions = 0;
        bool bSafeName = false;
    };

    ZipResult LoadMember(int nIndex);
    ZipResult CheckLocalHeader(const CentralRecord& rec, Member* pMember);
    ZipResult ExtractFile(const std::string& strOutPath);
    ZipResult CopyStored(zipfile::CZipOutputFile* pOut, uint32_t* pdwCrc);
    ZipResult CopyDeflated(zipfile::CZipOutputFile* pOut, uint32_t* pdwCrc);
    ZipResult PrepareBuffers();
    // Creates each folder level of a relative path below the root folder.
    void MakeFoldersBelowRoot(const std::string& strRelativeFolder) const;

    zipfile::CZipInputFile m_file;
    CZipDirectory m_directory;
    std::string m_strRootFolder;  // ends in "/"
    int m_nCachedIndex = -1;
    Member m_member;
    std::vector<unsigned char> m_vecLocal;  // a local header with its name and extra field
    // Copy buffers and the inflater, made on the first extraction.
    std::unique_ptr<unsigned char[]> m_pInBuffer;
    std::unique_ptr<unsigned char[]> m_pOutBuffer;
    std::unique_ptr<z_stream_s> m_pStream;
    bool m_bInflateReady = false;
};
