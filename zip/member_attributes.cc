#include "zip/member_attributes.h"

#include <algorithm>

#include "platform/clock.h"
#include "zip/unzip.h"

namespace zipattr {

namespace {

// DOS attribute bits in the low byte of the external attributes.
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosSystem = 0x04;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;
// Unix mode bits, shifted into the high 16 bits.
constexpr uint32_t kUnixDirectory = 0x40000000;  // S_IFDIR
constexpr uint32_t kUnixRegular = 0x80000000;    // S_IFREG
constexpr uint32_t kUnixOwnerWrite = 0x00800000;
constexpr unsigned kUnixShift = 16;
constexpr unsigned kPermissionBits = 0777;
constexpr unsigned kOwnerRead = 0400;
constexpr unsigned kDefaultPermissions = 0666;
constexpr int kDosEpochYear = 1980;

// Unix seconds of a local calendar time: the zone's offset is taken at the
// guess and taken again at the corrected guess, which settles it on both
// sides of a daylight-saving change.
bool LocalToUnix(const platform::SystemTime& stLocal, int64_t* pnUnix) {
    int64_t nAsGmt = 0;
    if (!platform::GmtToUnixSeconds(stLocal, &nAsGmt))
        return false;
    int64_t nGuess = nAsGmt;
    for (int nPass = 0; nPass < 2; ++nPass) {
        platform::SystemTime stAt = platform::ToLocalTime(nGuess * 1000);
        int64_t nLocalAsGmt = 0;
        if (!platform::GmtToUnixSeconds(stAt, &nLocalAsGmt))
            return false;
        nGuess = nAsGmt - (nLocalAsGmt - nGuess);
    }
    *pnUnix = nGuess;
    return true;
}

}  // namespace

uint32_t AttributesOf(uint32_t dwExternal, bool bFolderName) {
    uint32_t dwAttr = kZipAttrNormal;
    if ((dwExternal & kUnixDirectory) != 0 || (dwExternal & kDosDirectory) != 0 || bFolderName)
        dwAttr |= kZipAttrDirectory;
    if ((dwExternal & kDosArchive) != 0)
        dwAttr |= kZipAttrArchive;
    if ((dwExternal & kDosHidden) != 0)
        dwAttr |= kZipAttrHidden;
    if ((dwExternal & kDosSystem) != 0)
        dwAttr |= kZipAttrSystem;
    bool bDosReadOnly = (dwExternal & kDosReadOnly) != 0;
    bool bReadOnly = (dwExternal & kUnixRegular) != 0
                         ? (dwExternal & kUnixOwnerWrite) == 0 || bDosReadOnly
                         : bDosReadOnly;
    if (bReadOnly)
        dwAttr |= kZipAttrReadOnly;
    return dwAttr;
}

unsigned PermissionsOf(uint32_t dwExternal) {
    unsigned nStored = (dwExternal >> kUnixShift) & kPermissionBits;
    if ((dwExternal & kUnixRegular) == 0 || nStored == 0)
        return kDefaultPermissions;
    return nStored | kOwnerRead;
}

int64_t DosTimeToUnix(uint16_t nDosDate, uint16_t nDosTime) {
    platform::SystemTime st;
    st.nYear = kDosEpochYear + (nDosDate >> 9);
    st.nMonth = std::clamp((nDosDate >> 5) & 0x0F, 1, 12);
    st.nDay = std::max(nDosDate & 0x1F, 1);
    st.nHour = std::min(nDosTime >> 11, 23);
    st.nMinute = std::min((nDosTime >> 5) & 0x3F, 59);
    st.nSecond = std::min((nDosTime & 0x1F) * 2, 59);
    int64_t nUnix = 0;
    if (LocalToUnix(st, &nUnix))
        return nUnix;
    platform::SystemTime stEpoch;
    stEpoch.nYear = kDosEpochYear;
    stEpoch.nMonth = 1;
    stEpoch.nDay = 1;
    LocalToUnix(stEpoch, &nUnix);
    return nUnix;
}

}  // namespace zipattr
