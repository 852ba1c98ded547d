#include "logos.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kFrame(40, 40, 48);
const QColor kRed(230, 30, 30);
const QColor kCyan(20, 220, 230);

// Glasses seen from the front, with their arms going back, in a 140 x 100
// box.
void drawGlasses(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kFrame, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    // The arms, drawn first so the rims cover their ends.
    p.drawLine(QPointF(12, 42), QPointF(4, 30));
    p.drawLine(QPointF(128, 42), QPointF(136, 30));
    QPainterPath bridge;
    bridge.moveTo(60, 44);
    bridge.quadTo(70, 32, 80, 44);
    p.drawPath(bridge);
    const QRectF left(12, 30, 50, 40);
    const QRectF right(78, 30, 50, 40);
    p.setBrush(kRed);
    p.drawRoundedRect(left, 12, 12);
    p.setBrush(kCyan);
    p.drawRoundedRect(right, 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(QRectF(20, 36, 14, 8));
    p.drawEllipse(QRectF(86, 36, 14, 8));
}

} // namespace

QImage glassesLogo()
{
    QImage canvas(140, 100, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        drawGlasses(p);
        // A red and a cyan shadow of one word, the way an anaglyph looks
        // without glasses.
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(16);
        font.setBold(true);
        p.setFont(font);
        const QRect line(0, 76, 140, 20);
        p.setPen(kRed);
        p.drawText(line.translated(-2, 0), Qt::AlignCenter, QStringLiteral("3D"));
        p.setPen(kCyan);
        p.drawText(line.translated(2, 0), Qt::AlignCenter, QStringLiteral("3D"));
    }
    // White stays white in the colour table, so it is still the colour left
    // out once the picture is shown.
    return canvas.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

QImage titleLogo()
{
    QImage canvas(100, 50, QImage::Format_RGB888);
    canvas.fill(QColor(192, 192, 192));
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    // Two overlapping frames, red to the left and cyan to the right: the two
    // pictures an anaglyph is made of.
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(8, 8, 52, 34), 6, 6);
    p.setBrush(QColor(kCyan.red(), kCyan.green(), kCyan.blue(), 200));
    p.drawRoundedRect(QRectF(40, 8, 52, 34), 6, 6);
    p.setPen(QPen(kFrame, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(40, 8, 20, 34), 4, 4);
    return canvas;
}
