// The blocks of a member's extra field that the reader uses: the extended
// timestamp ("UT") and the zip64 sizes. Each block is a 16-bit id, a 16-bit
// little-endian size and that many data bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zipextra {

// Finds the first block with the id; false when there is none or the walk
// meets a block that runs past the end of the field.
bool FindExtraBlock(const unsigned char* pField, size_t nFieldLength, uint16_t nId,
                    const unsigned char** ppData, size_t* pnDataLength);

// Times of the extended timestamp block, Unix seconds. A flag bit without
// its 4 bytes of data counts as absent (the central copy of the block
// carries only the modification time).
struct Timestamps {
    bool bHasModify = false;
    bool bHasAccess = false;
    bool bHasCreate = false;
    int64_t nModify = 0;
    int64_t nAccess = 0;
    int64_t nCreate = 0;
};
bool ReadTimestamps(const unsigned char* pField, size_t nFieldLength, Timestamps* pTimes);

// Sizes and offset of a member; the zip64 block replaces the 32-bit fields
// that hold 0xFFFFFFFF, in this order. False when the block lacks a value
// it must supply.
struct Zip64Values {
    uint64_t nUncSize = 0;
    uint64_t nCompSize = 0;
    uint64_t nLocalOffset = 0;
};
bool ApplyZip64(const unsigned char* pField, size_t nFieldLength, bool bLocalOffset,
                Zip64Values* pValues);

}  // namespace zipextra
