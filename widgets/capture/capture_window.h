// A capture window: a child of a channel's preview panel that shows the last
// frame fetched for it at the frame's own size from its top-left corner,
// unscaled and clipped by the window. It holds the camera it is attached to,
// shared with every other window attached to the same camera.
#pragma once

#include "camera/camera.h"

#include <QImage>
#include <QWidget>

#include <memory>

class CaptureWindow : public QWidget {
    Q_OBJECT
public:
    CaptureWindow(const QString& name, QWidget* parent);
    ~CaptureWindow() override;

    const std::shared_ptr<Camera>& camera() const { return camera_; }
    void attach(std::shared_ptr<Camera> camera);
    void detach();

    // The frame shown, null before the first one.
    const std::shared_ptr<const TBitmap>& frame() const { return frame_; }
    void showFrame(std::shared_ptr<const TBitmap> frame);
    // A copy of the frame shown, null before the first one.
    QImage frameImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<Camera> camera_;
    std::shared_ptr<const TBitmap> frame_;
};
