#include "Glyphs.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap draw(Glyph glyph, QColor ink) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 1.4));
    switch (glyph) {
    case Glyph::Web:  // a globe
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawEllipse(QRectF(5, 2, 6, 12));
        p.drawLine(QPointF(2, 8), QPointF(14, 8));
        break;
    case Glyph::Utility:  // a terminal screen with a prompt
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.drawLine(QPointF(4, 6), QPointF(7, 8));
        p.drawLine(QPointF(7, 8), QPointF(4, 10));
        p.drawLine(QPointF(8, 11), QPointF(12, 11));
        break;
    case Glyph::Search:  // a magnifying glass
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.setPen(QPen(ink, 2.2));
        p.drawLine(QPointF(9, 9), QPointF(14, 14));
        break;
    }
    return pm;
}

}  // namespace

QIcon glyphIcon(Glyph glyph) {
    static const QColor enabled[] = {QColor(0, 90, 190), QColor(30, 30, 30), QColor(0, 120, 60)};
    QIcon icon;
    icon.addPixmap(draw(glyph, enabled[static_cast<int>(glyph)]), QIcon::Normal);
    icon.addPixmap(draw(glyph, QColor(160, 160, 160)), QIcon::Disabled);
    return icon;
}
