// A front end for engine tests: records every call in order and answers
// questions from scripted queues (default: yes to message boxes, "update
// now" to the prompt). Safe to call from the engine's worker thread.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/sync_front_end.h"

class CRecordingFrontEnd : public ISyncFrontEnd {
public:
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nCurrent, int nTotal) override;
    void AdvanceStage() override;
    void ResetProgress() override;
    void OnButtonStop() override;
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override;
    int AskUpdate() override;
    void HideWindow() override;
    void PostSyncEnd(int nCode) override;
    const SpecialDirMap& GetSpecialDirMap() override { return m_mapSpecialDir; }

    // Answers for the next message boxes / update prompts, in order.
    void QueueMessageBoxAnswer(int nAnswer);
    void QueueUpdateAnswer(int nAnswer);
    // Every call as one line, e.g. "SetStatusText:text", "MessageBox:caption:text".
    std::vector<std::string> Calls() const;
    std::vector<std::string> MessageBoxes() const;
    int SyncEndCode() const { return m_nSyncEnd; }  // -1 when PostSyncEnd was not called
    // The stop flag OnButtonStop raises; null leaves it alone.
    void SetStopFlag(std::atomic<int>* pFlag) { m_pStopFlag = pFlag; }

    SpecialDirMap m_mapSpecialDir;

private:
    void Record(std::string strCall);
    // The queue's next answer, else nDefault; with m_mutex held.
    static int Next(std::deque<int>* pQueue, int nDefault);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_vecCalls;
    std::vector<std::string> m_vecMessageBoxes;
    std::deque<int> m_queMessageBoxAnswers;
    std::deque<int> m_queUpdateAnswers;
    std::atomic<int> m_nSyncEnd = -1;
    std::atomic<int>* m_pStopFlag = nullptr;
};
