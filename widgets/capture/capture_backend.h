// The capture operations the webcam page reaches cameras through. Each
// channel owns capture windows made here; every request names one by its
// handle, runs synchronously on the user-interface thread and returns when
// the back end has done it. A request to handle 0 (no window was made) or to
// a window that no longer exists does nothing.
#pragma once

#include "camera/video_format.h"

#include <QString>

#include <cstdint>

class QWidget;

// A capture window's handle; 0 is none.
using CaptureHandle = std::uint32_t;

// Style bits of a capture window: a visible child of its parent.
inline constexpr std::uint32_t kCaptureChild = 0x40000000;
inline constexpr std::uint32_t kCaptureVisible = 0x10000000;

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // Makes a capture window, a child of parent at (x, y) with that size,
    // which shows the frames its channel fetches. Returns its handle, or 0
    // when no window could be made.
    virtual CaptureHandle createCaptureWindow(const QString& name, std::uint32_t style, int x, int y, int width,
        int height, QWidget* parent, int id)
        = 0;

    // Attaches capture driver `driver` to the window. Throws when it cannot.
    virtual void driverConnect(CaptureHandle window, int driver) = 0;
    // Detaches the window's driver.
    virtual void driverDisconnect(CaptureHandle window) = 0;
    // Puts the frame the window holds on the desktop clipboard; fetches none.
    virtual void editCopy(CaptureHandle window) = 0;
    // The driver's modal dialogs; each returns when the user closes it.
    virtual void videoFormatDialog(CaptureHandle window) = 0;
    virtual void videoSourceDialog(CaptureHandle window) = 0;
    // Copies the first 44 bytes of the window's video format into buffer;
    // leaves it as it was when there is no format to read.
    virtual void getVideoFormat(CaptureHandle window, VideoFormat& buffer) = 0;
    // Fetches one new frame into the window and shows it.
    virtual void grabFrame(CaptureHandle window) = 0;
};
