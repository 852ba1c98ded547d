#include "capture_window.h"

#include "widgets/bitmap_image.h"

#include <QPaintEvent>
#include <QPainter>

CaptureWindow::CaptureWindow(const QString& name, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(name);
    setAccessibleName(name);
    setAccessibleDescription(tr("Camera preview"));
    // Video windows are dark until a frame comes; every pixel is painted.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CaptureWindow::~CaptureWindow() = default;

void CaptureWindow::attach(std::shared_ptr<Camera> camera) { camera_ = std::move(camera); }

void CaptureWindow::detach() { camera_.reset(); }

void CaptureWindow::showFrame(std::shared_ptr<const TBitmap> frame)
{
    frame_ = std::move(frame);
    update();
}

QImage CaptureWindow::frameImage() const
{
    if (!frame_ || frame_->empty())
        return QImage();
    return imageViewOf(*frame_).copy();
}

void CaptureWindow::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect area = event->rect();
    if (!frame_ || frame_->empty()) {
        p.fillRect(area, Qt::black);
        return;
    }
    const QImage view = imageViewOf(*frame_);
    const QRect shown = area & view.rect();
    if (!shown.isEmpty())
        p.drawImage(shown.topLeft(), view, shown);
    // Beyond the frame, where the window is larger than it.
    const QRegion rest = QRegion(area).subtracted(view.rect());
    for (const QRect& r : rest)
        p.fillRect(r, Qt::black);
}
