#include "widgets.h"

#include "widgets/bitmap_image.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

TPanel::TPanel(QWidget* parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    // The background role is inherited from the parent unless set; the panel
    // paints its own colour under the Window role.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    setColor(clWhite);
}

void TPanel::setColor(TColor c)
{
    color_ = c;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    setPalette(pal);
    update();
}

void TPanel::setCaption(const QString& text)
{
    caption_ = text;
    update();
}

void TPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter p(this);
    // The caption is drawn in the window's text colour, whatever the panel's
    // own colour is.
    p.setPen(QApplication::palette().color(QPalette::WindowText));
    p.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

TImage::TImage(QWidget* parent, bool autoSize)
    : QWidget(parent)
    , autoSize_(autoSize)
{
    resize(640, 480);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::setPicture(TBitmap&& picture)
{
    picture_ = std::move(picture);
    pictureChanged();
}

void TImage::pictureChanged()
{
    if (autoSize_ && picture_.width() > 0 && picture_.height() > 0)
        resize(picture_.width(), picture_.height());
    update();
}

void TImage::paintEvent(QPaintEvent* event)
{
    if (picture_.empty())
        return;
    // Paint straight from the picture's own store: no copy of the whole
    // picture, only the exposed part is drawn.
    const QImage view = imageViewOf(picture_);
    const QRect area = event->rect() & view.rect();
    if (area.isEmpty())
        return;
    QPainter p(this);
    p.drawImage(area.topLeft(), view, area);
}

TLogo::TLogo(QWidget* parent, const QImage& picture)
    : QAbstractButton(parent)
    , picture_(picture)
{
    shown_ = picture.convertToFormat(QImage::Format_ARGB32);
    if (!shown_.isNull()) {
        const QRgb key = shown_.pixel(0, shown_.height() - 1);
        for (int y = 0; y < shown_.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(shown_.scanLine(y));
            for (int x = 0; x < shown_.width(); ++x)
                if (row[x] == key)
                    row[x] = 0;
        }
    }
    resize(picture.size());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void TLogo::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, shown_);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

TPanel* makePanel(QWidget* parent, const char* name, TColor color, QRect r)
{
    auto* panel = new TPanel(parent);
    panel->setObjectName(QLatin1String(name));
    if (!r.isNull())
        panel->setGeometry(r);
    panel->setColor(color);
    return panel;
}

QPushButton* makeButton(QWidget* parent, const char* name, QRect r)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    if (!r.isNull())
        button->setGeometry(r);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}
