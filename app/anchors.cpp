#include "anchors.h"

#include <QEvent>
#include <QWidget>

AnchorLayout::AnchorLayout(QWidget* parent, QSize designSize, bool watchParent)
    : QObject(parent)
    , parent_(parent)
    , design_(designSize)
{
    if (watchParent)
        parent->installEventFilter(this);
}

void AnchorLayout::add(QWidget* child, QRect design, int anchors)
{
    items_.push_back({ child, design, anchors });
    child->setGeometry(design);
}

void AnchorLayout::apply(QSize size, QPoint scroll)
{
    const int growX = size.width() - design_.width();
    const int growY = size.height() - design_.height();
    for (const Item& it : items_) {
        QRect r = it.design;
        // Anchored to both sides: stretch; to the far side only: move.
        if (it.anchors & akRight) {
            if (it.anchors & akLeft)
                r.setWidth(r.width() + growX);
            else
                r.translate(growX, 0);
        }
        if (it.anchors & akBottom) {
            if (it.anchors & akTop)
                r.setHeight(r.height() + growY);
            else
                r.translate(0, growY);
        }
        r.setWidth(std::max(r.width(), 0));
        r.setHeight(std::max(r.height(), 0));
        it.widget->setGeometry(r.translated(-scroll));
    }
}

bool AnchorLayout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent_ && event->type() == QEvent::Resize)
        apply(parent_->size());
    return QObject::eventFilter(watched, event);
}
