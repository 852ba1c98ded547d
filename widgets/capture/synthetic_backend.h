// The capture back end over synthetic cameras, for tests and the benchmark.
// Besides the cameras' own switches it can refuse to make capture windows,
// and its dialogs run a given action instead of waiting for a user.
#pragma once

#include "widgets/capture/camera_backend.h"
#include "camera/synthetic_camera.h"

#include <functional>

class SyntheticBackend final : public CameraBackend {
public:
    explicit SyntheticBackend(PutOnClipboard putOnClipboard);

    SyntheticCameras& synthetic() { return static_cast<SyntheticCameras&>(cameras()); }
    SyntheticSwitches& switches() { return synthetic().switches(); }

    // createCaptureWindow gives 0 and makes nothing.
    bool refuseWindows = false;
    // What "showing" each dialog does; nothing when empty. An action may throw,
    // as a failing dialog would.
    std::function<void(CaptureWindow&)> sourceDialog;
    std::function<void(CaptureWindow&)> formatDialog;
    int sourceDialogs = 0;
    int formatDialogs = 0;

    CaptureHandle createCaptureWindow(const QString& name, std::uint32_t style, int x, int y, int width, int height,
        QWidget* parent, int id) override;

    // Back to a fresh start: one camera at 640 x 480, no switch set, no
    // dialog actions.
    void restoreDefaults();

protected:
    void showSourceDialog(CaptureWindow& window) override;
    void showFormatDialog(CaptureWindow& window) override;
};
