#include "dialogs/qt_front_end.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

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

CQtFrontEnd::CQtFrontEnd() = default;

CQtFrontEnd::~CQtFrontEnd() {
    Shutdown();
}

template <typename Fn>
int CQtFrontEnd::AskOnGuiThread(Fn fn, int nDefault) {
    if (m_bClosing || m_pDlg == nullptr)
        return nDefault;
    if (QThread::currentThread() == m_pDlg->thread())
        return fn();
    int nAnswer = nDefault;
    // The call blocks this worker until the GUI thread has run it; a window
    // destroyed meanwhile drops the call and releases the worker.
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this, fn, nDefault] { return m_bClosing ? nDefault : fn(); },
        Qt::BlockingQueuedConnection, &nAnswer);
    return nAnswer;
}

int CQtFrontEnd::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                unsigned nStyle) {
    if (m_pDlg == nullptr)
        return ShowTideMessageBox(nullptr, strText, strCaption, nStyle);
    return AskOnGuiThread(
        [this, strText, strCaption, nStyle] {
            return ShowTideMessageBox(m_pDlg.data(), strText, strCaption, nStyle);
        },
        NoAnswer(nStyle));
}

int CQtFrontEnd::AskUpdate() {
    return AskOnGuiThread(
        [] {
            // No owner: the prompt stands on its own, as the run's question.
            CUpdateMessageBoxDlg dlg;
            return dlg.Run();
        },
        kIdCancel);
}

void CQtFrontEnd::SetStatusText(const std::string& strText) {
    if (m_pDlg == nullptr)
        return;
    QString str = QString::fromStdString(strText);
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this, str] { m_pDlg->SetStatusText(str); }, Qt::QueuedConnection);
}

void CQtFrontEnd::SetProgress(int nCurrent, int nTotal) {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this, nCurrent, nTotal] { m_pDlg->SetProgress(nCurrent, nTotal); },
        Qt::QueuedConnection);
}

void CQtFrontEnd::AdvanceStage() {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this] { m_pDlg->AdvanceStage(); }, Qt::QueuedConnection);
}

void CQtFrontEnd::ResetProgress() {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this] { m_pDlg->ResetProgress(); }, Qt::QueuedConnection);
}

void CQtFrontEnd::OnButtonStop() {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this] { m_pDlg->OnButtonStop(); }, Qt::QueuedConnection);
}

void CQtFrontEnd::HideWindow() {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this] { m_pDlg->hide(); }, Qt::QueuedConnection);
}

void CQtFrontEnd::PostSyncEnd(int nCode) {
    if (m_pDlg == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_pDlg.data(), [this, nCode] { m_pDlg->OnSyncEnd(nCode); }, Qt::QueuedConnection);
}

const SpecialDirMap& CQtFrontEnd::GetSpecialDirMap() {
    // Loaded before the run starts and left alone while it goes on.
    return m_pDlg != nullptr ? m_pDlg->GetRunController().GetSpecialDirMap() : m_mapEmpty;
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
    CRunController& run = m_pOwnedDlg->GetRunController();
    if (!run.IsWorkerFinished())
        run.RequestStop();
    // Until the worker has returned, the calls it queues are run here and
    // its questions answered at once, so joining it below cannot hang on a
    // question nobody sees. The stop flag ends a run within a few seconds.
    QDeadlineTimer deadline(5000);
    while (!run.IsWorkerFinished() && !deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents(m_pOwnedDlg.get());
        QThread::msleep(10);
    }
    QCoreApplication::sendPostedEvents(m_pOwnedDlg.get());
    run.EndRun();
    m_pDlg = nullptr;
    m_pOwnedDlg.reset();
}
