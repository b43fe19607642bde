#include "dialogs/qt_front_end.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/message_box.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/tide_message_box.h"
#include "dialogs/update_prompt_dlg.h"

namespace {

// The answer a box gives when nobody is there to answer it.
int NoAnswer(unsigned nStyle) {
    switch (nStyle & kMbButtonMask) {
        case kMbOk:
            return kIdOk;
        case kMbYesNo:
            return kIdNo;
        default:
            return kIdCancel;
    }
}

}  // namespace

// What one run's engine reports to: the front end, with the run's number.
class CQtFrontEnd::CRunChannel : public ISyncFrontEnd {
public:
    CRunChannel(CQtFrontEnd& owner, unsigned nRun) : m_owner(owner), m_nRun(nRun) {}

    void SetStatusText(const std::string& strText) override {
        QString str = QString::fromStdString(strText);
        m_owner.Post(m_nRun, [this, str] { m_owner.m_pDlg->SetStatusText(str); });
    }
    void SetProgress(int nCurrent, int nTotal) override {
        m_owner.Post(m_nRun,
                     [this, nCurrent, nTotal] { m_owner.m_pDlg->SetProgress(nCurrent, nTotal); });
    }
    void AdvanceStage() override {
        m_owner.Post(m_nRun, [this] { m_owner.m_pDlg->AdvanceStage(); });
    }
    void ResetProgress() override {
        m_owner.Post(m_nRun, [this] { m_owner.m_pDlg->ResetProgress(); });
    }
    void OnButtonStop() override {
        m_owner.Post(m_nRun, [this] { m_owner.m_pDlg->OnButtonStop(); });
    }
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override {
        return m_owner.ShowBox(m_nRun, strText, strCaption, nStyle);
    }
    int AskUpdate() override { return m_owner.ShowPrompt(m_nRun); }
    void HideWindow() override {
        m_owner.Post(m_nRun, [this] { m_owner.m_pDlg->hide(); });
    }
    void PostSyncEnd(int nCode) override {
        m_owner.Post(m_nRun, [this, nCode] { m_owner.m_pDlg->OnSyncEnd(nCode); });
    }
    const SpecialDirMap& GetSpecialDirMap() override { return m_owner.GetSpecialDirMap(); }

private:
    CQtFrontEnd& m_owner;
    const unsigned m_nRun;
};

// Lives on the GUI thread; each event it gets runs the queued calls.
class CQtFrontEnd::CCallWaker : public QObject {
public:
    explicit CCallWaker(CQtFrontEnd& owner) : m_owner(owner) {}

protected:
    bool event(QEvent* pEvent) override {
        m_owner.RunQueuedCalls();
        return QObject::event(pEvent);
    }

private:
    CQtFrontEnd& m_owner;
};

CQtFrontEnd::CQtFrontEnd() : m_pWaker(std::make_unique<CCallWaker>(*this)) {}

CQtFrontEnd::~CQtFrontEnd() {
    Shutdown();
}

namespace {

// The answer to one question asked from the worker: set on the GUI thread,
// waited for on the worker's. A standard lock rather than Qt's blocking
// call, whose futex-based semaphore ThreadSanitizer cannot see.
class CAnswer {
public:
    explicit CAnswer(int nDefault) : m_nAnswer(nDefault) {}
    void Set(int nAnswer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nAnswer = nAnswer;
    }
    void Finish() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
        m_cvDone.notify_all();
    }
    int Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cvDone.wait(lock, [this] { return m_bDone; });
        return m_nAnswer;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cvDone;
    int m_nAnswer;
    bool m_bDone = false;
};

// Held only by the queued call: when the call is gone, run or dropped with
// its window, the worker is released.
class CAnswerRelease {
public:
    explicit CAnswerRelease(std::shared_ptr<CAnswer> pAnswer) : m_pAnswer(std::move(pAnswer)) {}
    ~CAnswerRelease() { m_pAnswer->Finish(); }
    CAnswerRelease(const CAnswerRelease&) = delete;
    CAnswerRelease& operator=(const CAnswerRelease&) = delete;
    CAnswer& Answer() { return *m_pAnswer; }

private:
    std::shared_ptr<CAnswer> m_pAnswer;
};

}  // namespace

void CQtFrontEnd::Queue(std::function<void()> fnCall) {
    {
        std::lock_guard<std::mutex> lock(m_callMutex);
        m_dequeCalls.push_back(std::move(fnCall));
    }
    QCoreApplication::postEvent(m_pWaker.get(), new QEvent(QEvent::User));
}

void CQtFrontEnd::RunQueuedCalls() {
    // One at a time: a question's own event loop runs the calls after it.
    for (;;) {
        std::function<void()> fnCall;
        {
            std::lock_guard<std::mutex> lock(m_callMutex);
            if (m_dequeCalls.empty())
                return;
            fnCall = std::move(m_dequeCalls.front());
            m_dequeCalls.pop_front();
        }
        if (m_pDlg != nullptr)
            fnCall();
    }
}

template <typename Fn>
void CQtFrontEnd::Post(unsigned nRun, Fn fn) {
    if (m_pDlg == nullptr)
        return;
    Queue([this, nRun, fn] {
        if (!IsEnded(nRun))
            fn();
    });
}

template <typename Fn>
int CQtFrontEnd::Ask(unsigned nRun, Fn fn, int nDefault) {
    if (m_bClosing || m_pDlg == nullptr)
        return nDefault;
    auto ask = [this, nRun, fn, nDefault] {
        if (m_bClosing || IsEnded(nRun))
            return nDefault;
        int nAnswer = fn();
        // Given up while it was open: its answer no longer counts.
        return m_bClosing || IsEnded(nRun) ? nDefault : nAnswer;
    };
    if (QThread::currentThread() == m_pDlg->thread())
        return ask();
    // The worker waits until the GUI thread has run the call; a window
    // destroyed meanwhile drops the call and so releases the worker.
    auto pAnswer = std::make_shared<CAnswer>(nDefault);
    auto pRelease = std::make_shared<CAnswerRelease>(pAnswer);
    Queue([ask, pRelease] { pRelease->Answer().Set(ask()); });
    pRelease.reset();
    return pAnswer->Wait();
}

int CQtFrontEnd::ShowBox(unsigned nRun, const std::string& strText, const std::string& strCaption,
                         unsigned nStyle) {
    if (m_pDlg == nullptr)
        return ShowTideMessageBox(nullptr, strText, strCaption, nStyle);
    return Ask(
        nRun,
        [this, strText, strCaption, nStyle] {
            std::unique_ptr<QMessageBox> pBox(
                CreateTideMessageBox(m_pDlg.data(), strText, strCaption, nStyle));
            m_pQuestion = pBox.get();
            pBox->exec();
            return TideMessageBoxAnswer(pBox.get(), nStyle);
        },
        NoAnswer(nStyle));
}

int CQtFrontEnd::ShowPrompt(unsigned nRun) {
    return Ask(
        nRun,
        [this] {
            // No owner: the prompt stands on its own, as the run's question.
            CUpdateMessageBoxDlg dlg;
            m_pQuestion = &dlg;
            return dlg.Run();
        },
        kIdCancel);
}

int CQtFrontEnd::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                unsigned nStyle) {
    return ShowBox(kCurrentRun, strText, strCaption, nStyle);
}

int CQtFrontEnd::AskUpdate() {
    return ShowPrompt(kCurrentRun);
}

void CQtFrontEnd::SetStatusText(const std::string& strText) {
    QString str = QString::fromStdString(strText);
    Post(kCurrentRun, [this, str] { m_pDlg->SetStatusText(str); });
}

void CQtFrontEnd::SetProgress(int nCurrent, int nTotal) {
    Post(kCurrentRun, [this, nCurrent, nTotal] { m_pDlg->SetProgress(nCurrent, nTotal); });
}

void CQtFrontEnd::AdvanceStage() {
    Post(kCurrentRun, [this] { m_pDlg->AdvanceStage(); });
}

void CQtFrontEnd::ResetProgress() {
    Post(kCurrentRun, [this] { m_pDlg->ResetProgress(); });
}

void CQtFrontEnd::OnButtonStop() {
    Post(kCurrentRun, [this] { m_pDlg->OnButtonStop(); });
}

void CQtFrontEnd::HideWindow() {
    Post(kCurrentRun, [this] { m_pDlg->hide(); });
}

void CQtFrontEnd::PostSyncEnd(int nCode) {
    Post(kCurrentRun, [this, nCode] { m_pDlg->OnSyncEnd(nCode); });
}

const SpecialDirMap& CQtFrontEnd::GetSpecialDirMap() {
    // Loaded before the run starts and left alone while it goes on.
    return m_pDlg != nullptr ? m_pDlg->GetRunController().GetSpecialDirMap() : m_mapEmpty;
}

ISyncFrontEnd* CQtFrontEnd::BeginRun() {
    AbandonRun();
    m_vecChannels.push_back(std::make_unique<CRunChannel>(*this, m_nRun));
    return m_vecChannels.back().get();
}

void CQtFrontEnd::AbandonRun() {
    ++m_nRun;
    if (m_nRun == kCurrentRun)
        ++m_nRun;
    // Its question closes with its "no" answer, which releases the worker.
    if (m_pQuestion != nullptr)
        m_pQuestion->reject();
}

CTideDlg* CQtFrontEnd::CreateMainDialog(CTideApp& app) {
    m_bClosing = false;
    m_pOwnedDlg = std::make_unique<CTideDlg>(app, this);
    m_pDlg = m_pOwnedDlg.get();
    return m_pDlg;
}

int CQtFrontEnd::RunMainDialog(CTideApp& app) {
    CTideDlg* pDlg = CreateMainDialog(app);
    pDlg->InitDialog(true);
    pDlg->DoModal();
    Shutdown();
    return 0;
}

void CQtFrontEnd::Shutdown() {
    if (m_pOwnedDlg == nullptr)
        return;
    m_bClosing = true;
    if (m_pQuestion != nullptr)
        m_pQuestion->reject();
    CRunController& run = m_pOwnedDlg->GetRunController();
    if (!run.IsWorkerFinished())
        run.RequestStop();
    // Until the worker has returned, the calls it queues are run here and
    // its questions answered at once, so it is never left waiting on a
    // window that is gone. The stop flag ends a run within moments; a worker
    // stuck beyond that ends the process (EndRun).
    QDeadlineTimer deadline(CRunController::kEndRunWaitMs);
    while (!run.IsWorkerFinished() && !deadline.hasExpired()) {
        RunQueuedCalls();
        QThread::msleep(10);
    }
    RunQueuedCalls();
    run.EndRun(0, 4);
    m_pDlg = nullptr;
    m_pOwnedDlg.reset();
    RunQueuedCalls();
}
