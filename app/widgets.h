// Small widgets of the window: coloured panels and picture views.
#pragma once

#include "layer.h"

#include "compose/bitmap.h"

#include <QAbstractButton>
#include <QFrame>
#include <QImage>
#include <QWidget>

class QLabel;
class QPushButton;

// A plain coloured rectangle with a raised one-pixel bevel and an optional
// caption centred on it.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);
    TColor color() const { return color_; }
    void setColor(TColor c);
    QString caption() const { return caption_; }
    void setCaption(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor color_ = clWhite;
    QString caption_;
};

// Shows a picture at its top-left corner and owns it. A frame view sizes
// itself to its picture whenever the picture becomes one with both sides
// above 0; the anaglyph's view is sized by whoever fills it.
class TImage : public QWidget {
    Q_OBJECT
public:
    TImage(QWidget* parent, bool autoSize);

    TBitmap& picture() { return picture_; }
    const TBitmap& picture() const { return picture_; }
    // Replaces the picture with the given one.
    void setPicture(TBitmap&& picture);
    // To be called after the picture was changed in place.
    void pictureChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBitmap picture_;
    bool autoSize_;
};

// A picture that works as a link: shown at its own size with the colour of
// its bottom-left pixel left out, so the page shows through there, with the
// hand cursor over it. A click anywhere in its rectangle (transparent parts
// included), or Space with the focus on it, presses it.
class TLogo : public QAbstractButton {
    Q_OBJECT
public:
    TLogo(QWidget* parent, const QImage& picture);
    // The picture as given, with its transparent colour.
    const QImage& picture() const { return picture_; }
    QSize sizeHint() const override { return picture_.size(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QImage shown_; // the picture with its transparent colour left out
};

// A coloured panel and a push button with the object names the wiring and
// caption tables find them by, at r; an empty r leaves them to a layout.
TPanel* makePanel(QWidget* parent, const char* name, TColor color, QRect r = QRect());
QPushButton* makeButton(QWidget* parent, const char* name, QRect r = QRect());

// A label that takes the width of its caption, as the window's labels do.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
