// What a member's central record says about the file to make: attribute
// bits, permission bits and the DOS modification time.
#pragma once

#include <cstdint>

namespace zipattr {

// kZipAttr* bits from the external attributes: DOS bits in the low byte,
// Unix mode bits in the high 16 bits. bFolderName: the name ends in "/".
uint32_t AttributesOf(uint32_t dwExternal, bool bFolderName);

// Permission bits for a new file: the stored Unix bits when the member was
// made on Unix (never set-id or sticky bits), else read and write for all.
// Always readable by its owner. Subject to the umask when applied.
unsigned PermissionsOf(uint32_t dwExternal);

// The DOS date and time, a local time, as Unix seconds. Fields out of range
// are clamped; a date that cannot exist gives 1980-01-01 00:00.
int64_t DosTimeToUnix(uint16_t nDosDate, uint16_t nDosTime);

}  // namespace zipattr
