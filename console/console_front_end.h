// The terminal front end: message boxes and questions on stdin/stderr, the
// main dialog as a headless run. Used with --headless and where no display
// exists.
#pragma once

#include <string>

#include "app/app_front_end.h"

struct ConsoleOptions {
    bool bAssumeYes = false;
    bool bAssumeNo = false;
};

class CConsoleFrontEnd : public IAppFrontEnd {
public:
    explicit CConsoleFrontEnd(const ConsoleOptions& options) : m_options(options) {}

    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override;
    int RunMainDialog(CTideApp& app) override;

private:
    ConsoleOptions m_options;
};
