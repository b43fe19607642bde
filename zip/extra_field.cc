#include "zip/extra_field.h"

#include "zip/zip_format.h"

namespace zipextra {

using zipformat::Read16;
using zipformat::Read32;
using zipformat::Read64;

bool FindExtraBlock(const unsigned char* pField, size_t nFieldLength, uint16_t nId,
                    const unsigned char** ppData, size_t* pnDataLength) {
    size_t nPos = 0;
    while (nFieldLength - nPos >= zipformat::kExtraBlockHeader) {
        uint16_t nBlockId = Read16(pField + nPos);
        size_t nSize = Read16(pField + nPos + 2);
        size_t nData = nPos + zipformat::kExtraBlockHeader;
        if (nSize > nFieldLength - nData)
            return false;
        if (nBlockId == nId) {
            *ppData = pField + nData;
            *pnDataLength = nSize;
            return true;
        }
        nPos = nData + nSize;
    }
    return false;
}

bool ReadTimestamps(const unsigned char* pField, size_t nFieldLength, Timestamps* pTimes) {
    const unsigned char* pData = nullptr;
    size_t nLength = 0;
    if (!FindExtraBlock(pField, nFieldLength, zipformat::kExtraTimestamp, &pData, &nLength) ||
        nLength < 1) {
        return false;
    }
    unsigned nFlags = pData[0];
    size_t nPos = 1;
    // The times are signed 32-bit Unix seconds, present in flag-bit order.
    auto take = [&](unsigned nBit, bool* pbHas, int64_t* pnTime) {
        if ((nFlags & nBit) == 0 || nLength - nPos < 4)
            return;
        *pbHas = true;
        *pnTime = static_cast<int32_t>(Read32(pData + nPos));
        nPos += 4;
    };
    take(0x1, &pTimes->bHasModify, &pTimes->nModify);
    take(0x2, &pTimes->bHasAccess, &pTimes->nAccess);
    take(0x4, &pTimes->bHasCreate, &pTimes->nCreate);
    return true;
}

bool ApplyZip64(const unsigned char* pField, size_t nFieldLength, bool bLocalOffset,
                Zip64Values* pValues) {
    bool bUnc = pValues->nUncSize == zipformat::kZip64Marker32;
    bool bComp = pValues->nCompSize == zipformat::kZip64Marker32;
    bool bOffset = bLocalOffset && pValues->nLocalOffset == zipformat::kZip64Marker32;
    if (!bUnc && !bComp && !bOffset)
        return true;
    const unsigned char* pData = nullptr;
    size_t nLength = 0;
    if (!FindExtraBlock(pField, nFieldLength, zipformat::kExtraZip64, &pData, &nLength))
        return false;
    size_t nPos = 0;
    auto take = [&](bool bWanted, uint64_t* pnValue) {
        if (!bWanted)
            return true;
        if (nLength - nPos < 8)
            return false;
        *pnValue = Read64(pData + nPos);
        nPos += 8;
        return true;
    };
    return take(bUnc, &pValues->nUncSize) && take(bComp, &pValues->nCompSize) &&
           take(bOffset, &pValues->nLocalOffset);
}

}  // namespace zipextra
