// What the updater's windows should show, rendered offscreen in the test
// process with the dialogs' own code, and the checks that hold a capture
// from the screen against it. GUI thread of the test process only.
#pragma once

#include <QImage>
#include <QRect>
#include <functional>
#include <string>
#include <vector>

// A check of a capture: empty when it holds, else what is wrong.
using Check = std::function<std::string(const QImage&)>;

// The capture shows imgRef in rc (everywhere when empty), within tolerance.
Check Matches(const QImage& imgRef, const QRect& rc = QRect());

// The update prompt as it first shows, and where its nIndex-th answer is.
QImage PromptFace();
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

// The main window before a run: everything above its button row, the
// start/stop button and the close button.
struct MainFace {
    QImage img;
    QRect rcArtwork, rcStartStop, rcClose;
};
MainFace RenderMain();
// Idle shows the start button; running, the stop button in its place.
Check MainIdle(const MainFace& face);
Check MainRunning(const MainFace& face);
