#include "dialog_units.h"

#include <QFontMetrics>

namespace tessaly::ui::qt {
namespace {

// Rounds a * b / c to the nearest integer.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + (product >= 0 ? c / 2 : -c / 2)) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average width over both cases, rounded.
    baseX_ = std::max(1, (alphabet / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const {
    return MulDiv(units, baseX_, 4);
}

int DialogUnits::y(int units) const {
    return MulDiv(units, baseY_, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const {
    return {x(width), y(height)};
}

QFont DialogFont() {
    QFont font(QStringLiteral("Arial"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace tessaly::ui::qt
