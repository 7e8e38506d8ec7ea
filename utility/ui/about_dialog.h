#pragma once

#include <string>

namespace tessaly::ui {

// The About box: the application icon, the program's name and version, a year
// line and an OK button.
struct AboutDialog {
    static constexpr const char* kCaption = "About Tessaly";
    static constexpr const char* kVersionLine = "Tessaly Version 1.0.0";
    static constexpr const char* kYearLine = "Copyright (C) 2026";
    static constexpr const char* kOkText = "OK";
    // The menu entry that opens it.
    static constexpr const char* kMenuText = "&About Tessaly...";
};

}  // namespace tessaly::ui
