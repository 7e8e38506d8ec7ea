#pragma once

#include <QString>

namespace tessaly::ui::qt {

class MainDialogView;
class UiScript;

// Walks through the main dialog, the connection check, the About box, the self
// test, the command test editor and its pickers and file dialog, saving each
// window as a PNG in `folder`. Needs a printer (the virtual one) on the first
// serial port of the list.
void AddScreenshotTour(UiScript& script, MainDialogView& view, const QString& folder);

}  // namespace tessaly::ui::qt
