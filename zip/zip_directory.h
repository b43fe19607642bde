// The archive's central directory: found through the end record (zip64
// too), read in one piece when the archive is opened, and handed out one
// member record at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "zip/unzip.h"
#include "zip/zip_file.h"

// One member's central record, sizes and offset already widened by the
// zip64 block. The views point into the directory and live as long as it.
struct CentralRecord {
    uint16_t nVersionMadeBy = 0;
    uint16_t nFlags = 0;
    uint16_t nMethod = 0;
    uint16_t nDosTime = 0;
    uint16_t nDosDate = 0;
    uint32_t dwCrc = 0;
    uint32_t dwExternalAttr = 0;
    uint64_t nCompSize = 0;
    uint64_t nUncSize = 0;
    uint64_t nLocalOffset = 0;
    std::string_view strStoredName;
    const unsigned char* pExtra = nullptr;
    size_t nExtraLength = 0;
};

class CZipDirectory {
public:
    // Finds the end record and reads the directory: kZipOk, or kZipNoFile
    // when there is no directory within bounds (not a zip file, truncated,
    // multi-disk, over the limits).
    ZipResult Read(const zipfile::CZipInputFile& file);
    int Count() const { return m_nCount; }
    // Where the directory starts; member data must end before it.
    uint64_t Offset() const { return m_nOffset; }
    // kZipCorrupt when the record of that member cannot be walked to or a
    // zip64 value it refers to is missing.
    ZipResult GetRecord(int nIndex, CentralRecord* pRecord) const;

private:
    // What the end records say.
    struct EndInfo {
        uint64_t nEntries = 0;
        uint64_t nSize = 0;
        uint64_t nOffset = 0;
    };

    // True for a sound end record within the limits; *pbOverLimits is set
    // for one that is sound but names more than the limits allow.
    bool ReadEndAt(const zipfile::CZipInputFile& file, uint64_t nPos, const unsigned char* pEnd,
                   EndInfo* pInfo, bool* pbOverLimits) const;
    bool ReadZip64End(const zipfile::CZipInputFile& file, uint64_t nLocatorPos,
                      EndInfo* pInfo) const;
    void IndexRecords();

    std::vector<unsigned char> m_vecData;
    // Start of each record that could be walked to, in member order.
    std::vector<size_t> m_vecRecordStart;
    int m_nCount = 0;
    uint64_t m_nOffset = 0;
};
