// A private X server for the window tests: Xvfb on a display number it
// picks itself, openbox managing the windows, xdotool acting as the user,
// and the screen read back with GetImage on the root window. One object
// per test program; it sets DISPLAY for the programs the test starts.
//
// The root window is read directly rather than with `xwd -root`: on Xvfb
// xwd returns black for a window that lies wholly inside another window
// with the same private colormap (Qt gives all its windows one), though the
// screen and Xvfb's own frame buffer show it painted.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <string>

#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

struct _XDisplay;

class CXDisplay {
public:
    CXDisplay() = default;
    ~CXDisplay();
    CXDisplay(const CXDisplay&) = delete;
    CXDisplay& operator=(const CXDisplay&) = delete;

    // True when Xvfb is installed; the tests are skipped otherwise.
    static bool IsAvailable();
    // Starts Xvfb and openbox and waits until both serve; false with *pstrError set.
    bool Start(std::string* pstrError);
    // ":N", also put into this process's DISPLAY.
    const std::string& Name() const { return m_strName; }

    // Waits up to nTimeoutMs for a visible window titled exactly strTitle; 0 if none came.
    unsigned long WaitForWindow(const std::string& strTitle, int nTimeoutMs);
    // Waits up to nTimeoutMs until the window is no longer visible.
    bool WaitUntilGone(unsigned long nWindow, int nTimeoutMs);
    // The window's rectangle on the screen; empty when it is gone.
    QRect Geometry(unsigned long nWindow);
    // What the screen shows in rc.
    QImage Capture(const QRect& rc);

    // The user's actions, through xdotool; false when xdotool failed.
    bool Keys(unsigned long nWindow, const std::string& strKeys);
    bool Type(unsigned long nWindow, const std::string& strText);
    bool Click(const QPoint& ptScreen);
    // The pointer to a corner no window covers, so that nothing is hovered.
    bool ParkMouse();

private:
    bool Run(const std::string& strArgs);
    bool Activate(unsigned long nWindow);
    bool MoveMouse(const QPoint& ptScreen);

    CTempDir m_dir;
    CChildProcess m_xvfb;
    CChildProcess m_wm;
    _XDisplay* m_pDisplay = nullptr;
    std::string m_strName;
    QSize m_screenSize;
};
