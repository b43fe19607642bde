// Read-only zip archives: open one, read the count and each member's
// record, extract members to files, close it. Stored and deflated members;
// zip64 archives too. Every operation returns a result code (0 success),
// also kept as the process-wide last result that FormatZipResult(1, ...)
// reports. Nothing throws. One archive is used by one thread at a time.
#pragma once

#include <cstdint>

#include "zip/zip_format.h"

using ZipResult = uint32_t;

// Result codes.
constexpr ZipResult kZipOk = 0x00000000;
constexpr ZipResult kZipDupHandle = 0x00000100;
constexpr ZipResult kZipNoFile = 0x00000200;
constexpr ZipResult kZipNoAlloc = 0x00000300;
constexpr ZipResult kZipWrite = 0x00000400;
constexpr ZipResult kZipNotFound = 0x00000500;
constexpr ZipResult kZipMore = 0x00000600;
constexpr ZipResult kZipCorrupt = 0x00000700;
constexpr ZipResult kZipRead = 0x00000800;
constexpr ZipResult kZipPassword = 0x00001000;
// A member name that is absolute or climbs out with "..": refused.
constexpr ZipResult kZipUnsafeName = 0x00002000;
// The extracted data does not match the member's CRC-32.
constexpr ZipResult kZipCrc = 0x00003000;
// The extracted data is longer or shorter than the member's declared size.
constexpr ZipResult kZipSize = 0x00004000;
constexpr ZipResult kZipArgs = 0x00010000;
constexpr ZipResult kZipNotMemory = 0x00020000;
constexpr ZipResult kZipMemorySize = 0x00030000;
constexpr ZipResult kZipFailed = 0x00040000;
constexpr ZipResult kZipEnded = 0x00050000;
constexpr ZipResult kZipMissize = 0x00060000;
constexpr ZipResult kZipPartlyUnzipped = 0x00070000;
constexpr ZipResult kZipMixedMode = 0x00080000;
constexpr ZipResult kZipNotInited = 0x01000000;
constexpr ZipResult kZipSeek = 0x02000000;
constexpr ZipResult kZipNoChange = 0x04000000;
constexpr ZipResult kZipFlate = 0x05000000;
// Not a result: asks FormatZipResult for the last stored result.
constexpr ZipResult kZipLastResult = 0x00000001;

// Kinds of source and destination; only file names are supported.
constexpr unsigned kZipKindHandle = 1;
constexpr unsigned kZipKindFileName = 2;
constexpr unsigned kZipKindMemory = 3;

// Attribute bits of a member, in the Windows numbering.
constexpr uint32_t kZipAttrReadOnly = 0x01;
constexpr uint32_t kZipAttrHidden = 0x02;
constexpr uint32_t kZipAttrSystem = 0x04;
constexpr uint32_t kZipAttrDirectory = 0x10;
constexpr uint32_t kZipAttrArchive = 0x20;
constexpr uint32_t kZipAttrNormal = 0x80;

// Size of ZipEntry::name, terminator included.
constexpr unsigned kZipNameSize = zipformat::kMaxNameBytes + 1;

// One member's record. Times are Unix seconds.
struct ZipEntry {
    int index = 0;  // the member's index; for index -1, the member count
    // The member's path in UTF-8 with "/" separators; a folder's ends in "/".
    char name[kZipNameSize] = {};
    uint32_t attr = 0;  // kZipAttr* bits
    int64_t atime = 0;
    int64_t ctime = 0;
    int64_t mtime = 0;
    int64_t comp_size = 0;
    int64_t unc_size = 0;
};

struct ZipArchive;
using ZipHandle = ZipArchive*;

// Opens an archive file (nLength 0, nKind kZipKindFileName). Folder members
// and relative output paths are placed below pszRootFolder, or below the
// process's current folder at this call when it is null. Null on failure,
// the reason in the last result (kZipNoFile when the file cannot be opened
// or its directory cannot be read).
ZipHandle OpenZipFile(const char* pszPath, unsigned nLength, unsigned nKind,
                      const char* pszRootFolder = nullptr);

// Fills *pEntry with member nIndex; index -1 fills only the count into
// pEntry->index. kZipArgs for an index out of range, kZipCorrupt for a bad
// record or an unsupported compression method, kZipUnsafeName for a name
// that would leave the extraction folder.
ZipResult GetZipItem(ZipHandle hZip, int nIndex, ZipEntry* pEntry);

// Extracts member nIndex to the file pszPath (nLength 0, nKind
// kZipKindFileName), replacing it. A folder member creates its folder below
// the root folder instead. The data goes to a temporary file beside the
// target first, so a failure leaves the target as it was.
ZipResult UnzipItem(ZipHandle hZip, int nIndex, const char* pszPath, unsigned nLength,
                    unsigned nKind);

// Closes the archive; the handle is invalid afterwards.
ZipResult CloseZipFile(ZipHandle hZip);

// Text of a result code (kZipLastResult: of the last result). Copies at
// most nSize - 1 characters and a terminator into pszBuffer when it is
// given with a non-zero size; returns the length of the full text.
unsigned FormatZipResult(ZipResult nCode, char* pszBuffer, unsigned nSize);
