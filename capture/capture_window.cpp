#include "capture_window.h"

#include <QPaintEvent>
#include <QPainter>

#include <cstring>

namespace {

// The frame's own pixels seen as an image, without a copy.
QImage viewOf(const TBitmap& frame)
{
    return QImage(reinterpret_cast<const uchar*>(frame.bits()), frame.width(), frame.height(),
        qsizetype(frame.width()) * 4, QImage::Format_RGB32);
}

} // namespace

TBitmap bitmapOfImage(const QImage& image)
{
    TBitmap bitmap;
    if (image.isNull())
        return bitmap;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    bitmap.allocateUninitialized(rgb.width(), rgb.height());
    const std::size_t rowBytes = std::size_t(rgb.width()) * 4;
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(bitmap.scanLine(y), rgb.constScanLine(y), rowBytes);
    return bitmap;
}

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
    return viewOf(*frame_).copy();
}

void CaptureWindow::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect area = event->rect();
    if (!frame_ || frame_->empty()) {
        p.fillRect(area, Qt::black);
        return;
    }
    const QImage view = viewOf(*frame_);
    const QRect shown = area & view.rect();
    if (!shown.isEmpty())
        p.drawImage(shown.topLeft(), view, shown);
    // Beyond the frame, where the window is larger than it.
    const QRegion rest = QRegion(area).subtracted(view.rect());
    for (const QRect& r : rest)
        p.fillRect(r, Qt::black);
}
