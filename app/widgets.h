// Small widgets of the window: coloured panels and picture views.
#pragma once

#include "layer.h"

#include "compose/bitmap.h"

#include <QFrame>
#include <QWidget>

class QLabel;

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

// A label that takes the width of its caption, as the window's labels do.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
