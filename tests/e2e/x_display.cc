#include "tests/e2e/x_display.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/process.h"

// Xlib last: its macros (None, Bool, Status...) must not reach Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
// Bounds every xdotool call, so that a window manager that never answers
// cannot hold a test.
constexpr int kToolTimeoutSeconds = 10;

std::string Quote(const std::string& str) {
    std::string strOut = "'";
    for (char c : str) {
        if (c == '\'') {
            strOut += "'\\''";
        } else {
            strOut += c;
        }
    }
    return strOut + "'";
}

void Sleep(int nMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// X errors (a window that went away between two calls) are expected here.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

CXDisplay::~CXDisplay() {
    if (m_pDisplay != nullptr)
        XCloseDisplay(m_pDisplay);
    m_wm.Stop();
    m_xvfb.Stop();
}

bool CXDisplay::IsAvailable() {
    return !platform::FindProgramInPath("Xvfb").empty();
}

bool CXDisplay::Start(std::string* pstrError) {
    // Xvfb picks a free display number and writes it out. The screen has the
    // offscreen platform's size, so that both lay the dialogs out alike.
    std::string strNumber;
    if (!m_xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp",
                       "-noreset"},
                      m_dir.Sub("xvfb.log")) ||
        !WaitForNumberLine(m_dir.Sub("xvfb.log"), "", kStartTimeoutMs, &strNumber)) {
        *pstrError = "Xvfb named no display: " + ReadWholeFile(m_dir.Sub("xvfb.log"));
        return false;
    }
    m_strName = ":" + strNumber;
    setenv("DISPLAY", m_strName.c_str(), 1);
    XSetErrorHandler(IgnoreXError);
    m_pDisplay = XOpenDisplay(m_strName.c_str());
    if (m_pDisplay == nullptr) {
        *pstrError = "cannot open display " + m_strName;
        return false;
    }
    m_screenSize = QSize(DisplayWidth(m_pDisplay, DefaultScreen(m_pDisplay)),
                         DisplayHeight(m_pDisplay, DefaultScreen(m_pDisplay)));
    if (!m_wm.Start({"openbox", "--sm-disable"}, m_dir.Sub("openbox.log"))) {
        *pstrError = "openbox could not be started";
        return false;
    }
    // The window manager is ready once it has announced itself on the root.
    Atom atomCheck = XInternAtom(m_pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
    for (int nWaited = 0; nWaited < kStartTimeoutMs; nWaited += 50) {
        Atom atomType = 0;
        int nFormat = 0;
        unsigned long nItems = 0, nAfter = 0;
        unsigned char* pData = nullptr;
        XGetWindowProperty(m_pDisplay, DefaultRootWindow(m_pDisplay), atomCheck, 0, 1, False,
                           AnyPropertyType, &atomType, &nFormat, &nItems, &nAfter, &pData);
        if (pData != nullptr)
            XFree(pData);
        if (nItems > 0) {
            if (ParkMouse())
                return true;
            *pstrError = "xdotool cannot move the pointer";
            return false;
        }
        Sleep(50);
    }
    *pstrError = "openbox did not start: " + ReadWholeFile(m_dir.Sub("openbox.log"));
    return false;
}

bool CXDisplay::Run(const std::string& strArgs) {
    return RunShell("timeout " + std::to_string(kToolTimeoutSeconds) + " xdotool " + strArgs +
                    " >/dev/null 2>&1") == 0;
}

unsigned long CXDisplay::WaitForWindow(const std::string& strTitle, int nTimeoutMs) {
    // The titles hold no characters special to the pattern.
    std::string strCommand = "timeout " + std::to_string(kToolTimeoutSeconds) +
                             " xdotool search --onlyvisible --name " + Quote("^" + strTitle + "$") +
                             " 2>/dev/null";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    do {
        FILE* pPipe = popen(strCommand.c_str(), "r");
        unsigned long nId = 0, nFound = 0;
        while (pPipe != nullptr && fscanf(pPipe, "%lu", &nId) == 1)
            nFound = nFound == 0 && !Geometry(nId).isEmpty() ? nId : nFound;
        if (pPipe != nullptr)
            pclose(pPipe);
        if (nFound != 0)
            return nFound;
        Sleep(50);
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

bool CXDisplay::WaitUntilGone(unsigned long nWindow, int nTimeoutMs) {
    for (int nWaited = 0; nWaited < nTimeoutMs; nWaited += 50) {
        if (Geometry(nWindow).isEmpty())
            return true;
        Sleep(50);
    }
    return false;
}

QRect CXDisplay::Geometry(unsigned long nWindow) {
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(m_pDisplay, nWindow, &attrs) || attrs.map_state != IsViewable)
        return QRect();
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(m_pDisplay, nWindow, DefaultRootWindow(m_pDisplay), 0, 0, &x, &y,
                               &child)) {
        return QRect();
    }
    return QRect(x, y, attrs.width, attrs.height);
}

QImage CXDisplay::Capture(const QRect& rc) {
    QRect rcScreen = rc.intersected(QRect(QPoint(0, 0), m_screenSize));
    if (rcScreen.isEmpty())
        return QImage();
    XImage* pImage =
        XGetImage(m_pDisplay, DefaultRootWindow(m_pDisplay), rcScreen.x(), rcScreen.y(),
                  rcScreen.width(), rcScreen.height(), AllPlanes, ZPixmap);
    if (pImage == nullptr)
        return QImage();
    // The server's screen is 24-bit TrueColor: red, green, blue masks as read.
    QImage img(rcScreen.size(), QImage::Format_RGB32);
    for (int y = 0; y < rcScreen.height(); ++y) {
        auto* pLine = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < rcScreen.width(); ++x) {
            unsigned long nPixel = XGetPixel(pImage, x, y);
            pLine[x] = qRgb(static_cast<int>((nPixel & pImage->red_mask) >> 16),
                            static_cast<int>((nPixel & pImage->green_mask) >> 8),
                            static_cast<int>(nPixel & pImage->blue_mask));
        }
    }
    XDestroyImage(pImage);
    return img;
}

bool CXDisplay::Activate(unsigned long nWindow) {
    return Run("windowactivate --sync " + std::to_string(nWindow));
}

bool CXDisplay::Keys(unsigned long nWindow, const std::string& strKeys) {
    return Activate(nWindow) && Run("key --clearmodifiers --delay 50 " + strKeys);
}

bool CXDisplay::Type(unsigned long nWindow, const std::string& strText) {
    return Activate(nWindow) && Run("type --delay 20 " + Quote(strText));
}

bool CXDisplay::Click(const QPoint& ptScreen) {
    return MoveMouse(ptScreen) && Run("click 1");
}

bool CXDisplay::MoveMouse(const QPoint& ptScreen) {
    // Not xdotool's --sync: it waits for a motion that never comes when the
    // pointer is there already.
    if (!Run("mousemove " + std::to_string(ptScreen.x()) + " " + std::to_string(ptScreen.y())))
        return false;
    for (int nWaited = 0; nWaited < kStartTimeoutMs; nWaited += 10) {
        Window root = 0, child = 0;
        int x = 0, y = 0, nWinX = 0, nWinY = 0;
        unsigned int nMask = 0;
        XQueryPointer(m_pDisplay, DefaultRootWindow(m_pDisplay), &root, &child, &x, &y, &nWinX,
                      &nWinY, &nMask);
        if (QPoint(x, y) == ptScreen)
            return true;
        Sleep(10);
    }
    return false;
}

bool CXDisplay::ParkMouse() {
    return MoveMouse(QPoint(m_screenSize.width() - 1, m_screenSize.height() - 1));
}
