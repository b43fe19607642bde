#include "dialogs/about_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/resources.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Tide 정보"));
    auto* pIcon = new QLabel(this);
    pIcon->setPixmap(QPixmap::fromImage(LoadPngResource(kPngAppIcon)));
    auto* pText = new QLabel(QStringLiteral("Tide 버전 1.0"), this);
    auto* pOk = new QPushButton(QStringLiteral("확인"), this);
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(pIcon);
    pRow->addWidget(pText, 1);
    pRow->addWidget(pOk, 0, Qt::AlignTop);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pRow);
}
