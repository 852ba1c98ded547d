#include "icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QImage appIconImage(int size)
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

QIcon appIcon()
{
    QIcon icon;
    for (int size : kAppIconSizes)
        icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

namespace {

// The colour of the bottom-left pixel is the transparent one, as for the
// button pictures of old.
QIcon withTransparentKey(QImage img)
{
    img = img.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = img.pixel(0, img.height() - 1);
    for (int y = 0; y < img.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (row[x] == key)
                row[x] = qRgba(0, 0, 0, 0);
    }
    return QIcon(QPixmap::fromImage(img));
}

} // namespace

QIcon openFolderGlyph()
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    const QColor outline(120, 90, 0);
    // The folder's back, its tab and its open front.
    p.setPen(outline);
    p.setBrush(QColor(230, 190, 40));
    p.drawRect(1, 5, 11, 9);
    p.drawRect(1, 3, 5, 2);
    p.setBrush(QColor(255, 225, 90));
    p.drawPolygon(QPolygon({ QPoint(1, 14), QPoint(4, 8), QPoint(15, 8), QPoint(12, 14) }));
    // A green arrow rising out of it.
    p.setPen(QColor(0, 110, 0));
    p.setBrush(QColor(0, 170, 0));
    p.drawPolygon(QPolygon({ QPoint(11, 0), QPoint(15, 4), QPoint(13, 4), QPoint(13, 7), QPoint(9, 7), QPoint(9, 4),
        QPoint(7, 4) }));
    p.end();
    return withTransparentKey(img);
}

QIcon floppyGlyph()
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    // A blue disk with a white label and a grey shutter.
    p.setPen(QColor(0, 0, 90));
    p.setBrush(QColor(30, 60, 200));
    p.drawRect(1, 1, 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(3, 2, 10, 6);
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(5, 10, 6, 4);
    p.setBrush(QColor(30, 60, 200));
    p.drawRect(6, 11, 2, 2);
    p.end();
    return withTransparentKey(img);
}
