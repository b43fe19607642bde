// Helpers shared by the dialog tests: comparing paintings, an INI file that
// passes the check, a stand-in tool, and answering the modal windows that the
// code under test opens and runs itself.
#pragma once

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/tide_globals.h"
#include "tests/support/image_diff.h"
#include "tests/support/temp_dir.h"

// A window's Render(2.0) is drawn for the ratio: reduced, it is the ratio-1
// face (within dTolerance); in each of vecAreas it differs visibly from the
// ratio-1 face enlarged (smoothly or pixel by pixel), which a 1x picture
// merely scaled up would not.
template <class Dlg>
void ExpectDrawnForRatioTwo(Dlg& dlg, const std::vector<QRect>& vecAreas, double dTolerance) {
    const QImage imgOne = dlg.Render(1.0);
    const QImage imgTwo = dlg.Render(2.0);
    QVERIFY(DifferentShare(
                imgTwo.scaled(imgOne.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                imgOne, imgOne.rect()) < dTolerance);
    for (const QRect& rcArea : vecAreas) {
        double dDetail = 1.0;
        for (Qt::TransformationMode eMode : {Qt::SmoothTransformation, Qt::FastTransformation}) {
            QImage imgUp = imgOne.scaled(imgTwo.size(), Qt::IgnoreAspectRatio, eMode);
            dDetail = std::min(
                dDetail,
                DifferentShare(imgTwo, imgUp, QRect(rcArea.topLeft() * 2, rcArea.size() * 2)));
        }
        QVERIFY2(dDetail > 0.02,
                 qPrintable(QStringLiteral("%1,%2").arg(rcArea.x()).arg(rcArea.y())));
    }
}

inline std::string ValidIni(int nPort, const std::string& strExtra = "") {
    return "[TIDE]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=" + std::to_string(nPort) +
           "\r\nDOWNLOAD_BASE_URL=rel\r\nLIST_FILE_NAME=_listfile.txt\r\n"
           "TIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\nLAST_SETUP_DATE=2026-01-01 00:00:00\r\n" +
           strExtra;
}

// The development tool's stand-in: writes "tool-started" next to itself
// holding its first argument.
inline const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

// Each time a modal window is on top, hands it to fn (once per window) until
// the watcher is destroyed.
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
