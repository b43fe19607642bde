// CCorvidFlxEditEx: text exchange, Korean input through the input method,
// the clipboard, and the themed colours by state.
#include <QInputMethodEvent>
#include <QtTest>

#include "controls/flx_edit.h"
#include "widget_test_util.h"

class CFlxEditTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void TextGoesInAndOut();
    void InputMethodCommitsKorean();
    void ClipboardCopiesAndPastes();
    void ColoursFollowTheState();
};

void CFlxEditTest::TextGoesInAndOut() {
    CCorvidFlxEditEx edit;
    edit.setText(QStringLiteral(u"업데이트 서버"));
    QCOMPARE(edit.text(), QStringLiteral(u"업데이트 서버"));
    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    edit.end(false);
    QTest::keyClicks(&edit, QStringLiteral("80"));
    QCOMPARE(edit.text(), QStringLiteral(u"업데이트 서버80"));
}

void CFlxEditTest::InputMethodCommitsKorean() {
    CCorvidFlxEditEx edit;
    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    QVERIFY(edit.testAttribute(Qt::WA_InputMethodEnabled));
    QInputMethodEvent preedit(QStringLiteral(u"한"), {});
    QCoreApplication::sendEvent(&edit, &preedit);
    QCOMPARE(edit.text(), QString());  // composing: not yet text
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral(u"한글"));
    QCoreApplication::sendEvent(&edit, &commit);
    QCOMPARE(edit.text(), QStringLiteral(u"한글"));
}

void CFlxEditTest::ClipboardCopiesAndPastes() {
    CCorvidFlxEditEx edit;
    edit.setText(QStringLiteral(u"리스트"));
    edit.selectAll();
    edit.copy();
    edit.clear();
    edit.paste();
    edit.paste();
    QCOMPARE(edit.text(), QStringLiteral(u"리스트리스트"));
}

void CFlxEditTest::ColoursFollowTheState() {
    CCorvidFlxEditEx edit;
    edit.resize(120, 22);
    QImage img = Grab(edit);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(26));
    QCOMPARE(img.pixelColor(60, 11), GetThemeColor(20));

    edit.EnableWindow(false);
    img = Grab(edit);
    QCOMPARE(img.pixelColor(60, 11), GetThemeColor(22));
    edit.setText(QStringLiteral(u"C:/설치"));
    QVERIFY(Near(Darkest(Grab(edit), QRect(2, 2, 116, 18)), GetThemeColor(23)));
    edit.EnableWindow(true);
    QVERIFY(Near(Darkest(Grab(edit), QRect(2, 2, 116, 18)), GetThemeColor(21)));

    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    QCOMPARE(edit.GetBorderColor(), GetThemeColor(24));
    img = Grab(edit);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(24));
    QCOMPARE(img.pixelColor(110, 11), GetThemeColor(25));
}

QTEST_MAIN(CFlxEditTest)
#include "flx_edit_test.moc"
