// The list file as the engine reads it once downloaded: the whole-file read,
// the code page, the records and their fields, type fields with options,
// target paths and the resource filter, in the normal run and in both
// resource modes. Checks what every accepted record must look like.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "fuzz/fuzz_scratch.h"

namespace {

// The reader's longest field; a longer one rejects its record.
constexpr size_t kLongestField = 511;

enum class Mode { kNormal, kResourceAnyType, kResourceTypes };

void CheckItem(const FileItem& item, Mode eMode, const CTideApp& app) {
    if (item.m_strSourceFile.empty())
        FuzzFail("record without a source path was accepted");
    if (item.m_strSourceFile.size() > kLongestField || item.m_strTargetRel.size() > kLongestField ||
        item.m_strFileSize.size() > kLongestField || item.m_strModifyTime.size() > kLongestField) {
        FuzzFail("field longer than the limit", item.m_strSourceFile);
    }
    if (item.m_nFileType < kFileTypeNormal || item.m_nFileType > kFileTypeZipReg)
        FuzzFail("unknown file type", std::to_string(item.m_nFileType));
    if (item.m_strModifyTime.find_first_not_of("0123456789") != std::string::npos)
        FuzzFail("time with other bytes than digits", item.m_strModifyTime);
    if (eMode == Mode::kNormal)
        return;
    if (CSyncEngine::IsAllowedResourceFile(item.m_strSourceFile) != 1)
        FuzzFail("resource mode let a program through", item.m_strSourceFile);
    if (eMode == Mode::kResourceAnyType) {
        if (item.m_nSysFlag == 1 ||
            (item.m_nFileType != kFileTypeNormal && item.m_nFileType != kFileTypeZip)) {
            FuzzFail("resource mode let a typed or system record through", item.m_strSourceFile);
        }
        return;
    }
    size_t nDot = item.m_strSourceFile.rfind('.');
    if (nDot == std::string::npos || nDot == 0 ||
        app.IsAllowFileType(item.m_strSourceFile.substr(nDot + 1)) != 1) {
        FuzzFail("resource mode let an unlisted extension through", item.m_strSourceFile);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CFuzzScratch s_scratch;
    static CTideApp s_app(nullptr);
    static CTideCfg s_cfg(s_scratch.Sub("config/Tidewell.ini"));
    s_cfg.m_strLocalBaseDir = s_scratch.Path();
    s_cfg.m_strListFileName = "_listfile.txt";
    s_scratch.Write("_listfile.txt", pData, nSize);

    for (Mode eMode : {Mode::kNormal, Mode::kResourceAnyType, Mode::kResourceTypes}) {
        s_app.m_bResourceMode = eMode == Mode::kNormal ? 0 : 1;
        s_app.m_mapAllowFileType.clear();
        if (eMode == Mode::kResourceTypes)
            s_app.ParseAllowFileType("txt,dll,zip");
        CSyncEngine engine;
        engine.m_pCfg = &s_cfg;
        FileItemList downList;
        FileItemList regList;
        if (engine.GetFileListFileFromFile(downList, regList) != 0)
            continue;
        size_t nRegTyped = 0;
        for (const auto& pItem : downList) {
            CheckItem(*pItem, eMode, s_app);
            nRegTyped += pItem->m_nFileType == kFileTypeReg ? 1 : 0;
        }
        if (regList.size() != nRegTyped)
            FuzzFail("register list does not match the REG records");
    }

    // One type field and one path on their own, as a record would carry them.
    std::string strText(reinterpret_cast<const char*>(pData), nSize);
    FileItem item;
    CSyncEngine::ParseFileTypeField(item, strText);
    if (item.m_nFileType < kFileTypeNormal || item.m_nFileType > kFileTypeZipReg)
        FuzzFail("unknown file type from a type field");
    CSyncEngine::IsAllowedResourceFile(strText);
    return 0;
}
