#pragma once

#include <QDialog>

namespace tessaly::ui::qt {

// Enter presses the push button that has keyboard focus, as Space does. With no
// button focused, Enter goes on to the dialog: to its default button, if it has
// one. Call it once the dialog's buttons exist.
void PressFocusedButtonOnEnter(QDialog& dialog);

}  // namespace tessaly::ui::qt
