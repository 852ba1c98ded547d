#include "synthetic_backend.h"

#include "widgets/capture/capture_window.h"

SyntheticBackend::SyntheticBackend(PutOnClipboard putOnClipboard)
    : CameraBackend(std::make_unique<SyntheticCameras>(), std::move(putOnClipboard))
{
}

CaptureHandle SyntheticBackend::createCaptureWindow(const QString& name, std::uint32_t style, int x, int y,
    int width, int height, QWidget* parent, int id)
{
    if (refuseWindows)
        return 0;
    return CameraBackend::createCaptureWindow(name, style, x, y, width, height, parent, id);
}

void SyntheticBackend::restoreDefaults()
{
    switches() = SyntheticSwitches();
    refuseWindows = false;
    sourceDialog = nullptr;
    formatDialog = nullptr;
    sourceDialogs = 0;
    formatDialogs = 0;
}

void SyntheticBackend::showSourceDialog(CaptureWindow& window)
{
    ++sourceDialogs;
    if (sourceDialog)
        sourceDialog(window);
}

void SyntheticBackend::showFormatDialog(CaptureWindow& window)
{
    ++formatDialogs;
    if (formatDialog)
        formatDialog(window);
}
