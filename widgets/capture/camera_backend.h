// The capture operations on top of a camera system: capture windows that
// attach to its cameras, the cameras' own dialogs, and frames handed to the
// desktop clipboard. With the Video4Linux2 system behind it this is what the
// program uses; with the synthetic one, what tests and the benchmark use.
#pragma once

#include "camera/camera.h"
#include "widgets/capture/capture_backend.h"

#include <QImage>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

class CaptureWindow;

class CameraBackend : public CaptureBackend {
public:
    // Puts a picture on the desktop clipboard in place of what it held.
    using PutOnClipboard = std::function<void(const QImage&)>;

    CameraBackend(std::unique_ptr<CameraSystem> cameras, PutOnClipboard putOnClipboard);
    ~CameraBackend() override;

    CaptureHandle createCaptureWindow(const QString& name, std::uint32_t style, int x, int y, int width, int height,
        QWidget* parent, int id) override;
    void driverConnect(CaptureHandle window, int driver) override;
    void driverDisconnect(CaptureHandle window) override;
    void editCopy(CaptureHandle window) override;
    void videoFormatDialog(CaptureHandle window) override;
    void videoSourceDialog(CaptureHandle window) override;
    void getVideoFormat(CaptureHandle window, VideoFormat& buffer) override;
    void grabFrame(CaptureHandle window) override;

    // The window a handle names, or null for 0 and for a window gone.
    CaptureWindow* window(CaptureHandle handle) const;
    CameraSystem& cameras() { return *cameras_; }

protected:
    // The cameras' modal dialogs for a window; the window may be closed by
    // the time they return.
    virtual void showSourceDialog(CaptureWindow& window);
    virtual void showFormatDialog(CaptureWindow& window);

private:
    std::unique_ptr<CameraSystem> cameras_;
    PutOnClipboard putOnClipboard_;
    std::map<CaptureHandle, QPointer<CaptureWindow>> windows_;
    CaptureHandle next_ = 1;
};
