// On-disk layout of the zip records the reader uses, little-endian field
// readers, and the limits put on untrusted archives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zipformat {

// Record signatures ("PK" followed by two kind bytes).
constexpr uint32_t kLocalHeaderSig = 0x04034B50;
constexpr uint32_t kCentralHeaderSig = 0x02014B50;
constexpr uint32_t kEndOfDirSig = 0x06054B50;
constexpr uint32_t kZip64EndOfDirSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;

// Fixed sizes of the records, without their variable parts.
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndOfDirSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndOfDirSize = 56;
// The end record's comment is at most 65535 bytes, so the record starts
// within this many bytes of the end of the file.
constexpr size_t kEndOfDirSearch = kEndOfDirSize + 0xFFFF;

// Field offsets in a central directory record.
constexpr size_t kCenVersionMadeBy = 4;
constexpr size_t kCenFlags = 8;
constexpr size_t kCenMethod = 10;
constexpr size_t kCenTime = 12;
constexpr size_t kCenDate = 14;
constexpr size_t kCenCrc = 16;
constexpr size_t kCenCompSize = 20;
constexpr size_t kCenUncSize = 24;
constexpr size_t kCenNameLen = 28;
constexpr size_t kCenExtraLen = 30;
constexpr size_t kCenCommentLen = 32;
constexpr size_t kCenDiskStart = 34;
constexpr size_t kCenExternalAttr = 38;
constexpr size_t kCenLocalOffset = 42;

// Field offsets in a local header.
constexpr size_t kLocFlags = 6;
constexpr size_t kLocMethod = 8;
constexpr size_t kLocCrc = 14;
constexpr size_t kLocCompSize = 18;
constexpr size_t kLocUncSize = 22;
constexpr size_t kLocNameLen = 26;
constexpr size_t kLocExtraLen = 28;

// Field offsets in the end of central directory record.
constexpr size_t kEndDisk = 4;
constexpr size_t kEndDirDisk = 6;
constexpr size_t kEndEntriesHere = 8;
constexpr size_t kEndEntriesTotal = 10;
constexpr size_t kEndDirSize = 12;
constexpr size_t kEndDirOffset = 16;

// Field offsets in the zip64 locator and zip64 end record.
constexpr size_t kLoc64Disk = 4;
constexpr size_t kLoc64Offset = 8;
constexpr size_t kLoc64Disks = 16;
constexpr size_t kEnd64Disk = 16;
constexpr size_t kEnd64DirDisk = 20;
constexpr size_t kEnd64EntriesHere = 24;
constexpr size_t kEnd64EntriesTotal = 32;
constexpr size_t kEnd64DirSize = 40;
constexpr size_t kEnd64DirOffset = 48;

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8Name = 0x0800;

// Compression methods the reader extracts.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Extra field block ids.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraTimestamp = 0x5455;  // "UT"
constexpr size_t kExtraBlockHeader = 4;       // id and 16-bit size

// A 32-bit field holding this value defers to the zip64 extra block.
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
constexpr uint16_t kZip64Marker16 = 0xFFFF;

// Limits on untrusted archives. The directory is read whole, so its size
// bounds the memory an archive can take.
constexpr uint64_t kMaxMembers = 100000;
constexpr uint64_t kMaxCentralDirBytes = 16ull * 1024 * 1024;
// Longest member name, in bytes, as stored and after conversion to UTF-8.
constexpr size_t kMaxNameBytes = 1023;

inline uint16_t Read16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Read32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t Read64(const unsigned char* p) {
    return static_cast<uint64_t>(Read32(p)) | (static_cast<uint64_t>(Read32(p + 4)) << 32);
}

}  // namespace zipformat
