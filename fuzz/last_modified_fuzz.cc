// The Last-Modified header as the HEAD request reads it: every text gives
// a month the server-time text can carry, and the time text fits its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/sync_engine.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string strHeader(reinterpret_cast<const char*>(pData), nSize);
    platform::SystemTime st = CSyncEngine::ParseLastModified(strHeader);
    if (st.nMonth < 1 || st.nMonth > 12)
        FuzzFail("month out of range", std::to_string(st.nMonth));
    // As GetServerFileInfo formats it.
    char szTime[kServerTimeTextSize] = {};
    std::snprintf(szTime, sizeof(szTime), "%04d%02d%02d%02d%02d%02d", st.nYear, st.nMonth, st.nDay,
                  st.nHour, st.nMinute, st.nSecond);
    return 0;
}
