#include "tests/support/recording_front_end.h"

#include "app/message_box.h"

void CRecordingFrontEnd::Record(std::string strCall) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vecCalls.push_back(std::move(strCall));
}

void CRecordingFrontEnd::SetStatusText(const std::string& strText) {
    Record("SetStatusText:" + strText);
}

void CRecordingFrontEnd::SetProgress(int nCurrent, int nTotal) {
    Record("SetProgress:" + std::to_string(nCurrent) + "/" + std::to_string(nTotal));
}

void CRecordingFrontEnd::AdvanceStage() {
    Record("AdvanceStage");
}

void CRecordingFrontEnd::ResetProgress() {
    Record("ResetProgress");
}

void CRecordingFrontEnd::OnButtonStop() {
    Record("OnButtonStop");
    if (m_pStopFlag != nullptr)
        *m_pStopFlag = 1;
}

int CRecordingFrontEnd::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                       unsigned nStyle) {
    Record("MessageBox:" + strCaption + ":" + strText);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vecMessageBoxes.push_back(strText);
    return Next(&m_queMessageBoxAnswers, (nStyle & kMbButtonMask) == kMbOk ? kIdOk : kIdYes);
}

int CRecordingFrontEnd::AskUpdate() {
    Record("AskUpdate");
    std::lock_guard<std::mutex> lock(m_mutex);
    return Next(&m_queUpdateAnswers, kIdYes);
}

int CRecordingFrontEnd::Next(std::deque<int>* pQueue, int nDefault) {
    if (pQueue->empty())
        return nDefault;
    int nAnswer = pQueue->front();
    pQueue->pop_front();
    return nAnswer;
}

void CRecordingFrontEnd::HideWindow() {
    Record("HideWindow");
}

void CRecordingFrontEnd::PostSyncEnd(int nCode) {
    m_nSyncEnd = nCode;
    Record("PostSyncEnd:" + std::to_string(nCode));
}

void CRecordingFrontEnd::QueueMessageBoxAnswer(int nAnswer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queMessageBoxAnswers.push_back(nAnswer);
}

void CRecordingFrontEnd::QueueUpdateAnswer(int nAnswer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queUpdateAnswers.push_back(nAnswer);
}

std::vector<std::string> CRecordingFrontEnd::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecCalls;
}

std::vector<std::string> CRecordingFrontEnd::MessageBoxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecMessageBoxes;
}
