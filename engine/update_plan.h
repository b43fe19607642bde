// What an update would do, found by the list download and the check pass
// alone (--plan). The engine's worker fills it before it reports the end of
// the run; the front end that asked for it reads it after that and prints it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CSyncEngine;

struct PlannedDownload {
    std::string strPath;    // the list's path on the server
    std::string strTarget;  // where it goes
    int64_t nSize = -1;     // the server's size, -1 unknown
    int nReason = 0;        // kReason... of file_item.h
};

struct PlannedStep {
    std::string strStep;  // "import_registry", "register", "install_font", ...
    std::string strPath;
};

struct UpdatePlan {
    std::vector<PlannedDownload> vecDownloads;
    std::vector<std::string> vecDeletes;  // local files a run would remove
    std::vector<PlannedStep> vecSteps;    // post-processing, in the run's order
    std::vector<std::string> vecUnchecked;
    uint64_t nTotalBytes = 0;  // of the downloads of known size

    // Nothing to download or delete, and every file checked.
    bool IsUpToDate() const;
};

// Fills the plan from an engine whose check pass has run.
void CollectUpdatePlan(const CSyncEngine& engine, UpdatePlan* pPlan);

// One JSON object; texts that are not UTF-8 have their stray bytes replaced
// with U+FFFD.
std::string UpdatePlanToJson(const UpdatePlan& plan);
