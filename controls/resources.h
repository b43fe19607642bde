// The program's pictures, embedded by numeric id, and the few cursors the
// controls show. Nothing here touches the core: the core never sees Qt.
#pragma once

#include <QCursor>
#include <QImage>

// Picture ids shared by the dialogs and controls.
enum EPictureId {
    kPngAppIcon = 128,
    kPngCaptionClose = 151,  // 80 x 16, five cells
    kPngMainPanel = 171,
    kPngSetup = 172,
    kPngSetupHot = 173,
    kPngClose = 174,
    kPngBarFullLeft = 175,
    kPngBarFullRight = 176,
    kPngBarFullSlice = 177,
    kPngBarEmptyLeft = 178,
    kPngBarEmptyRight = 179,
    kPngBarEmptySlice = 180,
    kPngStart = 181,
    kPngStop = 182,
    kPngStartHot = 184,
    kPngStopHot = 185,
    kPngPromptBack = 188,
    kPngChoice = 189,
    kPngChoiceHot = 190,
    kPngChoiceSelected = 191,
    kPngChoiceSelectedHot = 192,
    kPngMainBack = 193,
    kPngMarkersLight = 695,
    kPngMarkersDark = 934,
};

// The hand cursor resource of the program.
constexpr int kCursorHand = 266;

// The picture of that id, 32-bit with alpha; a null image when there is none
// or it does not decode. With nScale 2 the picture drawn for a device-pixel
// ratio of 2 (its ratio set, so it paints at the same logical size) where
// there is one, else the normal picture. Safe from any thread.
QImage LoadPngResource(int nId, int nScale = 1);

// Cursor for a cursor resource id; the arrow for ids the program lacks.
QCursor CursorFromId(int nId);
