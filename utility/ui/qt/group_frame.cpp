#include "group_frame.h"

#include <QPainter>

namespace tessaly::ui::qt {

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics metrics(font());
    const int top = title_.isEmpty() ? 0 : metrics.height() / 2;
    const QRect frame(0, top, width() - 2, height() - top - 2);
    // Etched: a dark line with a light one one pixel below and to the right.
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.translated(1, 1));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(frame);
    if (title_.isEmpty()) return;
    const int indent = metrics.averageCharWidth() * 3 / 2;
    const QRect text(indent, 0, metrics.horizontalAdvance(title_) + 4, metrics.height());
    p.fillRect(text, palette().color(QPalette::Window));
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(text, Qt::AlignCenter, title_);
}

}  // namespace tessaly::ui::qt
