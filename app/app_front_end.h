// What the application shell needs from the front end that runs it (the Qt
// window or the console): message boxes and the modal main dialog.
#pragma once

#include <string>

class CTideApp;

class IAppFrontEnd {
public:
    virtual ~IAppFrontEnd() = default;
    // Shows a modal message box; returns the answer (kIdOk, kIdYes, ...).
    virtual int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                               unsigned nStyle) = 0;
    // Runs the main dialog until it closes; returns the process exit status.
    virtual int RunMainDialog(CTideApp& app) = 0;
};
