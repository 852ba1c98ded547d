// Keeps child widgets at fixed distances from the edges of their parent they
// are anchored to, the way the window was laid out: a control anchored left
// and right stretches with its parent, one anchored to the bottom only moves.
#pragma once

#include "layer.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

enum Anchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class AnchorLayout : public QObject {
public:
    // designSize is the parent's client size that the design rectangles were
    // given for. With watchParent the layout follows the parent's resizes by
    // itself; otherwise the owner calls apply().
    AnchorLayout(QWidget* parent, QSize designSize, bool watchParent);

    void add(QWidget* child, QRect design, int anchors);
    // Places every child for a parent client area of the given size, shifted
    // by -scroll (content scrolled by that much).
    void apply(QSize size, QPoint scroll = QPoint());

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QWidget* widget;
        QRect design;
        int anchors;
    };
    QWidget* parent_;
    QSize design_;
    std::vector<Item> items_;
};
