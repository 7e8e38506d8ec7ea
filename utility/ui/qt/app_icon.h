#pragma once

#include <QIcon>
#include <QImage>

namespace tessaly::ui::qt {

// The utility's icon: a receipt printer with a slip coming out of it, drawn here
// at any size (the same picture as tessaly.svg, which the desktop uses).
QImage DrawAppIcon(int size);
QIcon AppIcon();

}  // namespace tessaly::ui::qt
