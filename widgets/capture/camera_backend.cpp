#include "camera_backend.h"

#include "widgets/capture/camera_dialogs.h"
#include "widgets/capture/capture_window.h"

#include <QWidget>

CameraBackend::CameraBackend(std::unique_ptr<CameraSystem> cameras, PutOnClipboard putOnClipboard)
    : cameras_(std::move(cameras))
    , putOnClipboard_(std::move(putOnClipboard))
{
}

CameraBackend::~CameraBackend()
{
    // The windows belong to their parents; they only let go of the cameras
    // here, which the system must outlive.
    for (auto& [handle, window] : windows_)
        if (window)
            window->detach();
}

CaptureHandle CameraBackend::createCaptureWindow(const QString& name, std::uint32_t style, int x, int y, int width,
    int height, QWidget* parent, int id)
{
    (void)id;
    if (!parent || !(style & kCaptureChild))
        return 0;
    auto* window = new CaptureWindow(name, parent);
    window->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    window->setVisible(style & kCaptureVisible);
    // Forget windows that are gone, so the table stays as small as the page.
    std::erase_if(windows_, [](const auto& entry) { return entry.second.isNull(); });
    CaptureHandle handle = next_++;
    if (handle == 0)
        handle = next_++;
    windows_[handle] = window;
    return handle;
}

CaptureWindow* CameraBackend::window(CaptureHandle handle) const
{
    const auto found = windows_.find(handle);
    return found == windows_.end() ? nullptr : found->second.data();
}

void CameraBackend::driverConnect(CaptureHandle handle, int driver)
{
    CaptureWindow* w = window(handle);
    if (!w)
        return;
    const std::vector<CameraInfo> list = cameras_->cameras();
    if (driver < 0 || std::size_t(driver) >= list.size())
        throw CaptureError("No camera found");
    w->attach(cameras_->open(list[std::size_t(driver)].id));
}

void CameraBackend::driverDisconnect(CaptureHandle handle)
{
    if (CaptureWindow* w = window(handle))
        w->detach();
}

void CameraBackend::editCopy(CaptureHandle handle)
{
    CaptureWindow* w = window(handle);
    if (!w)
        return;
    // Before the first frame there is nothing to copy, and the clipboard
    // keeps what it held.
    const QImage frame = w->frameImage();
    if (!frame.isNull())
        putOnClipboard_(frame);
}

void CameraBackend::videoFormatDialog(CaptureHandle handle)
{
    if (CaptureWindow* w = window(handle))
        showFormatDialog(*w);
}

void CameraBackend::videoSourceDialog(CaptureHandle handle)
{
    if (CaptureWindow* w = window(handle))
        showSourceDialog(*w);
}

void CameraBackend::getVideoFormat(CaptureHandle handle, VideoFormat& buffer)
{
    CaptureWindow* w = window(handle);
    if (!w || !w->camera())
        return;
    if (const std::optional<FrameSize> size = w->camera()->frameSize())
        buffer = VideoFormat::ofFrame(size->width, size->height);
}

void CameraBackend::grabFrame(CaptureHandle handle)
{
    CaptureWindow* w = window(handle);
    if (!w || !w->camera())
        return;
    if (std::shared_ptr<const TBitmap> frame = w->camera()->fetchFrame())
        w->showFrame(std::move(frame));
}

void CameraBackend::showSourceDialog(CaptureWindow& window)
{
    QPointer<CaptureWindow> guard(&window);
    const auto attach = [this, guard](const CameraInfo& info) {
        std::shared_ptr<Camera> camera = cameras_->open(info.id);
        if (guard)
            guard->attach(camera);
        return camera;
    };
    CameraSourceDialog dialog(*cameras_, window.camera(), attach, window.window());
    dialog.exec();
}

void CameraBackend::showFormatDialog(CaptureWindow& window)
{
    // Without a camera attached there are no formats to offer.
    const std::shared_ptr<Camera> camera = window.camera();
    if (!camera)
        return;
    CameraFormatDialog dialog(*camera, window.window());
    dialog.exec();
}
