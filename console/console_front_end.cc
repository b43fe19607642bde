#include "console/console_front_end.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_globals.h"
#include "engine/update_plan.h"
#include "log/my_log.h"
#include "platform/file_system.h"

namespace {

constexpr int kBarWidth = 40;
constexpr int kStopPollMs = 50;
// Longest answer kept from the terminal; the rest of the line is dropped.
constexpr size_t kMaxAnswerBytes = 256;

// The update prompt's three answers, in their order on the window.
const char* const kAnswerYes = "예";
const char* const kAnswerNo = "아니오";
const char* const kAnswerCancel = "취소";

}  // namespace

CConsoleFrontEnd::CConsoleFrontEnd(const ConsoleOptions& options)
    : m_options(options),
      m_bInteractive(isatty(STDIN_FILENO) != 0),
      m_bTerminalOut(isatty(STDERR_FILENO) != 0) {}

CConsoleFrontEnd::~CConsoleFrontEnd() = default;

void CConsoleFrontEnd::Redraw() {
    if (m_bTerminalOut) {
        int nFilled = m_nProgress * kBarWidth / 100;
        std::string strBar(static_cast<size_t>(nFilled), '#');
        strBar.append(static_cast<size_t>(kBarWidth - nFilled), '-');
        fprintf(stderr, "\r\033[K[%s] %3d%%  %d / 2  %s", strBar.c_str(), m_nProgress, m_nStep,
                m_strStatus.c_str());
        m_bLineOpen = true;
    }
    fflush(stderr);
}

std::string CConsoleFrontEnd::AskLine(const std::string& strPrompt) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bLineOpen) fputc('\n', stderr);
        m_bLineOpen = false;
        fprintf(stderr, "%s", strPrompt.c_str());
        fflush(stderr);
    }
    // Read byte by byte with a short poll, so that Ctrl-C during a question
    // answers it like end of input instead of leaving the run waiting.
    std::string strAnswer;
    for (;;) {
        if (m_bStopRequested != 0 || m_bStopping != 0) return std::string("\x04");
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        int nReady = poll(&pfd, 1, kStopPollMs);
        if (nReady < 0 && errno == EINTR) continue;
        if (nReady < 0) return std::string("\x04");
        if (nReady == 0) continue;
        char c = 0;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return strAnswer.empty() ? std::string("\x04") : strAnswer;
        if (c == '\n') return strAnswer;
        if (strAnswer.size() < kMaxAnswerBytes) strAnswer += c;
    }
}

int CConsoleFrontEnd::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                     unsigned nStyle) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bLineOpen) fputc('\n', stderr);
        m_bLineOpen = false;
        fprintf(stderr, "[%s]\n%s\n", strCaption.c_str(), strText.c_str());
        fflush(stderr);
    }
    unsigned nButtons = nStyle & kMbButtonMask;
    if (nButtons == kMbOk) return kIdOk;
    int nYes = nButtons == kMbOkCancel ? kIdOk : kIdYes;
    int nNo = nButtons == kMbOkCancel ? kIdCancel : kIdNo;
    if (m_options.bAssumeYes) return nYes;
    if (m_options.bAssumeNo || !m_bInteractive) return nNo;
    bool bDefaultNo = (nStyle & kMbDefButtonMask) == kMbDefButton2;
    for (;;) {
        std::string strAnswer = AskLine(bDefaultNo ? "(y/N) " : "(Y/n) ");
        if (strAnswer == "\x04") return nNo;
        if (strAnswer.empty()) return bDefaultNo ? nNo : nYes;
        if (strAnswer == "y" || strAnswer == "Y") return nYes;
        if (strAnswer == "n" || strAnswer == "N") return nNo;
    }
}

int CConsoleFrontEnd::AskUpdate() {
    if (m_options.bAssumeNo) return kIdNo;
    if (m_options.bAssumeYes || !m_bInteractive) return kIdYes;
    std::string strPrompt = std::string("업데이트할 파일이 있습니다. 1) ") + kAnswerYes + "  2) " +
                            kAnswerNo + "  3) " + kAnswerCancel + " [1] ";
    for (;;) {
        std::string strAnswer = AskLine(strPrompt);
        if (strAnswer == "\x04" || strAnswer == "3" || strAnswer == kAnswerCancel) return kIdCancel;
        if (strAnswer.empty() || strAnswer == "1" || strAnswer == kAnswerYes) return kIdYes;
        if (strAnswer == "2" || strAnswer == kAnswerNo) return kIdNo;
    }
}

void CConsoleFrontEnd::SetStatusText(const std::string& strText) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (strText == m_strStatus) return;
    m_strStatus = strText;
    if (!m_bTerminalOut && !strText.empty()) fprintf(stderr, "%s\n", strText.c_str());
    Redraw();
}

void CConsoleFrontEnd::SetProgress(int nCurrent, int nTotal) {
    int nPercent = 0;
    if (nCurrent == 1 && nTotal == 1) {
        nPercent = 100;
    } else if (nTotal > 0) {
        nPercent = static_cast<int>(static_cast<long long>(nCurrent) * 100 / nTotal);
    }
    if (nPercent < 0 || nPercent > 100) nPercent = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nPercent == m_nProgress) return;
    m_nProgress = nPercent;
    Redraw();
}

void CConsoleFrontEnd::AdvanceStage() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nStep;
    if (!m_bTerminalOut) fprintf(stderr, "%d / 2\n", m_nStep);
    Redraw();
}

void CConsoleFrontEnd::ResetProgress() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nProgress = 0;
    m_strStatus.clear();
    Redraw();
}

void CConsoleFrontEnd::OnButtonStop() {
    m_run.RequestStop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cvEnd.notify_all();
}

void CConsoleFrontEnd::RequestStop() { m_bStopRequested = 1; }

void CConsoleFrontEnd::HideWindow() {}

void CConsoleFrontEnd::PostSyncEnd(int nCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nSyncEnd = nCode;
    m_cvEnd.notify_all();
}

int CConsoleFrontEnd::WaitForRunEnd() {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto stopDeadline = std::chrono::steady_clock::time_point::max();
    for (;;) {
        if (m_nSyncEnd >= 0) return m_nSyncEnd;
        if (m_run.IsWorkerFinished()) return -1;
        if (m_bStopRequested.exchange(0) != 0) {
            m_bStopping = 1;
            stopDeadline = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(CRunController::kEndRunWaitMs);
            lock.unlock();
            OnButtonStop();
            lock.lock();
        }
        // A stopped worker that does not end is given up by EndRun.
        if (std::chrono::steady_clock::now() >= stopDeadline) return -1;
        m_cvEnd.wait_for(lock, std::chrono::milliseconds(kStopPollMs));
    }
}

int CConsoleFrontEnd::StartDevelopmentTool(CTideApp& app) {
    if (m_run.StartDevelopmentTool(app) != 0)
        ShowMessageBox(CRunController::ToolNotStartedText(app), kUpdaterCaption,
                       kMbOk | kMbIconError);
    return kExitDone;
}

int CConsoleFrontEnd::RunMainDialog(CTideApp& app) {
    m_run.LoadSettings(app);
    // Without a window there is no settings dialog to fill in first.
    if (!m_run.IniExisted()) {
        ShowMessageBox("'" + m_run.GetIniPath() +
                           "' 설정 파일이 없습니다. 서버 정보를 설정한 후 다시 실행하세요.",
                       kUpdaterCaption, kMbOk | kMbIconError);
        return kExitStartFailure;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nStep = 0;
    }
    UpdatePlan plan;
    if (m_run.StartRun(app, this, m_options.bPlan ? &plan : nullptr) != CRunController::kStarted)
        return kExitStartFailure;

    int nCode = WaitForRunEnd();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bLineOpen) fputc('\n', stderr);
        m_bLineOpen = false;
    }
    int nExit = kExitNoEnd;
    if (nCode == kSyncEndDone) {
        nExit = kExitDone;
        if (m_options.bPlan) {
            // The worker filled the plan before it reported the end.
            fputs(UpdatePlanToJson(plan).c_str(), stdout);
            fflush(stdout);
        } else if (app.m_bResourceMode == 0) {
            StartDevelopmentTool(app);
        }
    } else if (nCode == kSyncEndNoListFile) {
        nExit = kExitNoListFile;
    } else if (nCode == kSyncEndUserAbort) {
        nExit = kExitUserAbort;
    }
    m_run.EndRun(CRunController::kEndRunWaitMs, nExit);
    return nExit;
}
