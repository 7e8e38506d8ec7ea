#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tessaly::ui::qt {

// Converts the dialog units in which the dialogs are laid out into pixels, from
// the dialog font's metrics: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;
    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

  private:
    int baseX_;
    int baseY_;
};

// The font every dialog of the utility uses.
QFont DialogFont();

}  // namespace tessaly::ui::qt
