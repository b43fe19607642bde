// What the updater's windows should show, rendered offscreen in the test
// process with the dialogs' own code, and the checks that hold a capture
// from the screen against it. GUI thread of the test process only.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <functional>
#include <string>
#include <vector>

// A check of a capture: empty when it holds, else what is wrong.
using Check = std::function<std::string(const QImage&)>;

// Share of the pixels in rc (all of a when empty) that differ visibly; 1
// when the sizes differ.
double DifferentShare(const QImage& a, const QImage& b, QRect rc = QRect());
// The capture shows imgRef in rc (everywhere when empty), within tolerance.
Check Matches(const QImage& imgRef, const QRect& rc = QRect());
Check AllOf(std::vector<Check> vecChecks);

// The update prompt after the given key presses, with the pointer at
// ptPointer (none when negative).
QImage PromptFace(const std::vector<int>& vecKeys = {}, const QPoint& ptPointer = QPoint(-1, -1));
QRect PromptChoice(int nIndex);

// A message box as the front end builds it, and its buttons left to right.
struct BoxFace {
    QImage img;
    std::vector<QRect> vecButtons;
};
BoxFace RenderBox(const std::string& strText, const std::string& strCaption, unsigned nStyle);
// Like Matches, but lets the button row sit a few pixels lower (see .cc).
Check MatchesBox(const BoxFace& face);
// Where a button of the face is on a captured box nHeight pixels high.
QRect BoxButton(const BoxFace& face, size_t nIndex, int nHeight);

// The main window before a run, and where its parts are.
struct MainFace {
    QImage img;
    QRect rcArtwork;  // everything above the start/stop, status and settings row
    QRect rcStartStop, rcBar, rcClose;
};
MainFace RenderMain();
// Idle: the face with the start button. Running: the stop button, and a
// bar that has begun to fill.
Check MainIdle(const MainFace& face);
Check MainRunning(const MainFace& face);
