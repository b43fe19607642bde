#include "dialogs/tide_message_box.h"

#include <QAbstractButton>
#include <QPushButton>

#include "app/message_box.h"

namespace {

struct ButtonSpec {
    const char* pText;
    int nAnswer;
    QMessageBox::ButtonRole nRole;
};

// Korean captions of the standard buttons, in their order on the box.
std::vector<ButtonSpec> ButtonsFor(unsigned nStyle) {
    switch (nStyle & kMbButtonMask) {
        case kMbOkCancel:
            return {{"확인", kIdOk, QMessageBox::AcceptRole},
                    {"취소", kIdCancel, QMessageBox::RejectRole}};
        case kMbYesNoCancel:
            return {{"예(&Y)", kIdYes, QMessageBox::YesRole},
                    {"아니요(&N)", kIdNo, QMessageBox::NoRole},
                    {"취소", kIdCancel, QMessageBox::RejectRole}};
        case kMbYesNo:
            return {{"예(&Y)", kIdYes, QMessageBox::YesRole},
                    {"아니요(&N)", kIdNo, QMessageBox::NoRole}};
        default:
            return {{"확인", kIdOk, QMessageBox::AcceptRole}};
    }
}

int EscapeAnswer(unsigned nStyle) {
    switch (nStyle & kMbButtonMask) {
        case kMbOkCancel:
        case kMbYesNoCancel:
            return kIdCancel;
        case kMbYesNo:
            return kIdNo;
        default:
            return kIdOk;
    }
}

}  // namespace

QMessageBox* CreateTideMessageBox(QWidget* pOwner, const std::string& strText,
                                  const std::string& strCaption, unsigned nStyle) {
    auto* pBox = new QMessageBox(pOwner);
    pBox->setWindowTitle(QString::fromStdString(strCaption));
    // Line breaks come as "\r\n" from some callers.
    pBox->setText(QString::fromStdString(strText).remove(QLatin1Char('\r')));
    switch (nStyle & 0xF0) {
        case kMbIconError:
            pBox->setIcon(QMessageBox::Critical);
            break;
        case kMbIconQuestion:
            pBox->setIcon(QMessageBox::Question);
            break;
        case kMbIconWarning:
            pBox->setIcon(QMessageBox::Warning);
            break;
        case kMbIconInformation:
            pBox->setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }
    std::vector<ButtonSpec> vecButtons = ButtonsFor(nStyle);
    int nDefault = (nStyle & kMbDefButtonMask) >> 8;
    for (size_t i = 0; i < vecButtons.size(); ++i) {
        QPushButton* pButton =
            pBox->addButton(QString::fromUtf8(vecButtons[i].pText), vecButtons[i].nRole);
        pButton->setProperty("tideAnswer", vecButtons[i].nAnswer);
        if (static_cast<int>(i) == nDefault)
            pBox->setDefaultButton(pButton);
        if (vecButtons[i].nAnswer == EscapeAnswer(nStyle))
            pBox->setEscapeButton(pButton);
    }
    return pBox;
}

int TideMessageBoxAnswer(QMessageBox* pBox, unsigned nStyle) {
    QAbstractButton* pButton = pBox->clickedButton();
    if (pButton == nullptr)
        return EscapeAnswer(nStyle);
    return pButton->property("tideAnswer").toInt();
}

int ShowTideMessageBox(QWidget* pOwner, const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) {
    QMessageBox* pBox = CreateTideMessageBox(pOwner, strText, strCaption, nStyle);
    pBox->exec();
    int nAnswer = TideMessageBoxAnswer(pBox, nStyle);
    delete pBox;
    return nAnswer;
}
