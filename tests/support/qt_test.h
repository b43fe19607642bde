// Qt Test helpers: several test classes in one executable, and showing a
// widget as the active window with the focus. The executable's main (from
// qt_test_main.cc) runs the class named by its first argument, or all of
// them; ctest adds one test per class under its own name.
#pragma once

#include <QWidget>
#include <QtTest>
#include <functional>
#include <memory>

using QtTestFactory = std::function<std::unique_ptr<QObject>()>;

// Adds a test class under strName; returns true so that it can initialise
// a static.
bool RegisterQtTest(const char* pszName, QtTestFactory fnMake);

#define TIDEWELL_QT_TEST(Class)                               \
    static const bool s_bRegistered##Class [[maybe_unused]] = \
        RegisterQtTest(#Class, [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); })

// Shows the widget, makes it the active window and gives it the focus, as a
// user would before typing; false when the window never became active.
[[nodiscard]] inline bool ShowActive(QWidget& widget) {
    widget.show();
    widget.activateWindow();
    if (!QTest::qWaitForWindowActive(&widget))
        return false;
    widget.setFocus();
    return true;
}

// What the widget paints, in a format whose pixels compare by value.
inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Takes the pointer off a widget (a new window may appear under it).
inline void SendLeave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &leave);
}
