// Message box styles and answers, with the Windows values so that callers
// keep their meaning on every front end.
#pragma once

#include <string>

enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNoCancel = 0x3,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
    kMbDefButton2 = 0x100,
    kMbButtonMask = 0xF,
    kMbDefButtonMask = 0xF00,
};

enum { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };
