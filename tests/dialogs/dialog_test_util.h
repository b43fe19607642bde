// Helpers shared by the dialog tests: an installation folder with its INI
// file, and answering the modal windows that the code under test opens.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "app/tide_globals.h"
#include "tests/support/temp_dir.h"

// An INI file that passes the configuration check.
inline std::string ValidIni(int nPort, const std::string& strExtra = "") {
    return "[TIDE]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=" + std::to_string(nPort) +
           "\r\nDOWNLOAD_BASE_URL=rel\r\nLIST_FILE_NAME=_listfile.txt\r\n"
           "TIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\nLAST_SETUP_DATE=2026-01-01 00:00:00\r\n" +
           strExtra;
}

// Each time a modal window is on top, hands it to fn (once per window) until
// the watcher is destroyed. Used for boxes that the code opens and runs itself.
class CModalWatcher {
public:
    explicit CModalWatcher(std::function<void(QWidget*)> fn) : m_fn(std::move(fn)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* pModal = QApplication::activeModalWidget();
            if (pModal == nullptr || pModal == m_pLast.data() || !pModal->isVisible())
                return;
            m_pLast = pModal;
            m_fn(pModal);
        });
        m_timer.start(20);
    }

private:
    std::function<void(QWidget*)> m_fn;
    QTimer m_timer;
    QPointer<QWidget> m_pLast;
};

// Closes a message box with its escape answer and remembers its text.
inline void DismissBox(QWidget* pModal, QString* pstrText) {
    if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
        if (pstrText != nullptr)
            *pstrText = pBox->text();
        pBox->reject();
    }
}
