#include "icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QImage drawGlasses(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    const QColor frame(40, 40, 48);
    // Bridge between the lenses, drawn first so the rims cover its ends.
    QPainterPath bridge;
    bridge.moveTo(20, 22);
    bridge.quadTo(24, 16, 28, 22);
    p.setPen(QPen(frame, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(bridge);

    const QRectF left(2, 14, 19, 19);
    const QRectF right(27, 14, 19, 19);
    p.setPen(QPen(frame, 3));
    p.setBrush(QColor(230, 30, 30));
    p.drawEllipse(left);
    p.setBrush(QColor(20, 220, 230));
    p.drawEllipse(right);

    // A small highlight on each lens keeps them reading as glass at 48 px.
    if (size >= 32) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 110));
        p.drawEllipse(QRectF(6, 18, 6, 4));
        p.drawEllipse(QRectF(31, 18, 6, 4));
    }
    return img;
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48 })
        icon.addPixmap(QPixmap::fromImage(drawGlasses(size)));
    return icon;
}
