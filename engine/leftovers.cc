#include "engine/leftovers.h"

#include "log/my_log.h"
#include "platform/file_system.h"

namespace {

// Folder depth the sweep goes down to; deeper trees are not ours to clean.
constexpr int kMaxSweepDepth = 64;

int SweepFolder(const std::string& strDir, int nDepth, const std::set<std::string>& setKeep) {
    std::vector<platform::DirEntry> vecEntries;
    if (!platform::ListDirectory(strDir, &vecEntries))
        return 0;
    int nRemoved = 0;
    for (const platform::DirEntry& entry : vecEntries) {
        std::string strPath = platform::JoinPath(strDir, entry.strName);
        if (entry.bDirectory) {
            if (nDepth > 0 && nDepth < kMaxSweepDepth)
                nRemoved += SweepFolder(strPath, nDepth + 1, setKeep);
            continue;
        }
        if (!IsLeftoverTempName(entry.strName) || setKeep.count(strPath) != 0)
            continue;
        if (platform::DeleteFile(strPath)) {
            TideLog(2, "RemoveLeftoverTempFiles> Removed a leftover of a cut-off run: %s",
                    strPath.c_str());
            ++nRemoved;
        }
    }
    return nRemoved;
}

}  // namespace

bool IsLeftoverTempName(const std::string& strName) {
    if (strName.size() > 1 && strName[0] == '.' &&
        strName.find(".tidewell-part") != std::string::npos) {
        return true;
    }
    if (strName.rfind(".unzip-", 0) == 0 && strName.size() > 12 &&
        strName.compare(strName.size() - 5, 5, ".part") == 0) {
        return true;
    }
    return strName.find(".gztmp") != std::string::npos;
}

int RemoveLeftoverTempFiles(const std::string& strRoot, const std::set<std::string>& setFolders,
                            const std::set<std::string>& setKeep) {
    // Depth 1 walks the tree below the root; depth 0 looks at one folder only.
    int nRemoved = strRoot.empty() ? 0 : SweepFolder(strRoot, 1, setKeep);
    for (const std::string& strDir : setFolders) {
        bool bInTree = !strRoot.empty() && strDir.rfind(strRoot, 0) == 0 &&
                       (strDir.size() == strRoot.size() || strDir[strRoot.size()] == platform::kPathSep);
        if (!bInTree)
            nRemoved += SweepFolder(strDir, 0, setKeep);
    }
    return nRemoved;
}

bool SyncFileSystemsOf(const std::vector<std::string>& vecPaths) {
    std::set<uint64_t> setDone;
    bool bOk = true;
    for (const std::string& strPath : vecPaths) {
        platform::FileStatus status;
        if (!platform::GetFileStatus(strPath, &status) || !setDone.insert(status.nDevice).second)
            continue;
        if (!platform::SyncFileSystemOf(strPath)) {
            TideLog(4, "SyncFileSystemsOf> syncfs(%s) failed", strPath.c_str());
            if (g_pMyLog != nullptr)
                g_pMyLog->LogLastErrorText();
            bOk = false;
        }
    }
    return bOk;
}
