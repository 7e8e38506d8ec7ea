#include "app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessaly::ui::qt {

QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // The slip, with printed lines, rising out of the printer's mouth.
    QPainterPath slip;
    slip.moveTo(18, 30);
    slip.lineTo(18, 6);
    for (int i = 0; i < 6; ++i) {  // torn edge
        slip.lineTo(18 + i * 4.67 + 2.33, 3);
        slip.lineTo(18 + (i + 1) * 4.67, 6);
    }
    slip.lineTo(46, 30);
    slip.closeSubpath();
    p.setPen(QPen(QColor(0x5a, 0x64, 0x70), 1.2));
    p.setBrush(QColor(0xfc, 0xfc, 0xf6));
    p.drawPath(slip);
    p.setPen(QPen(QColor(0x2f, 0x6f, 0xd6), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(23, 12), QPointF(41, 12));
    p.drawLine(QPointF(23, 18), QPointF(36, 18));
    p.drawLine(QPointF(23, 24), QPointF(39, 24));

    // The printer body.
    QLinearGradient body(0, 28, 0, 58);
    body.setColorAt(0, QColor(0x4b, 0x55, 0x63));
    body.setColorAt(1, QColor(0x23, 0x2a, 0x33));
    p.setPen(QPen(QColor(0x16, 0x1b, 0x22), 1.2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(6, 28, 52, 30), 6, 6);
    // Paper mouth.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x13, 0x18));
    p.drawRoundedRect(QRectF(14, 31, 36, 4), 2, 2);
    // Status light and feed button.
    p.setBrush(QColor(0x3c, 0xd0, 0x70));
    p.drawEllipse(QPointF(48, 48), 3, 3);
    p.setBrush(QColor(0xee, 0xf1, 0x8d));
    p.drawRoundedRect(QRectF(14, 45, 16, 6), 3, 3);
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
    return icon;
}

}  // namespace tessaly::ui::qt
