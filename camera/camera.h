// The device side of capture: cameras as the capture windows see them, free
// of Qt. A CameraSystem lists the cameras plugged in and opens them; an open
// Camera gives its current frame size, its newest frame, the modes and
// controls it enumerates, and takes a new mode or control value.
//
// Every capture window that connects to the same camera shares one open
// Camera: a second connect is not refused as busy. The camera closes when the
// last window lets go of it.
#pragma once

#include "compose/bitmap.h"
#include "compose/errors.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An error of a camera (it cannot be opened, it was unplugged, it refused a
// request). The message is shown to the user as it stands.
class CaptureError : public EOrvantaError {
public:
    using EOrvantaError::EOrvantaError;
};

// The camera is gone (unplugged, or its driver let go of it): every later
// request fails the same way until it is opened again.
class CameraLostError : public CaptureError {
public:
    using CaptureError::CaptureError;
};

struct FrameSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

// Seconds per frame as a fraction, the way cameras state their rates:
// 1/30 is thirty frames a second. 0/0 when the camera does not say.
struct FrameInterval {
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 0;
    friend bool operator==(const FrameInterval&, const FrameInterval&) = default;
};

// One frame size a camera offers, with the frame intervals it offers at that
// size (empty when it does not enumerate them).
struct CameraMode {
    FrameSize size;
    std::vector<FrameInterval> intervals;
};

// One of the device's own settings (brightness, contrast, white balance,
// exposure...), as the device enumerates it.
struct CameraControl {
    enum class Kind { Integer, Boolean, Menu, Button };
    std::uint32_t id = 0;
    std::string name;
    Kind kind = Kind::Integer;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::int32_t value = 0;
    // For Menu: each item's value and label, in the device's order.
    std::vector<std::pair<std::int32_t, std::string>> menu;
    // The device ignores the value for now (a manual white balance while the
    // automatic one is on, for instance).
    bool inactive = false;
};

struct CameraInfo {
    std::string id; // what open() takes: a device path, for instance
    std::string name; // what the user reads: the camera's own name
    friend bool operator==(const CameraInfo&, const CameraInfo&) = default;
};

class Camera {
public:
    virtual ~Camera() = default;

    virtual CameraInfo info() const = 0;

    // The size of the frames the camera now delivers, or nothing when it has
    // no format to give.
    virtual std::optional<FrameSize> frameSize() = 0;

    // The newest frame, as 0xFFRRGGBB pixels; null while none has arrived.
    // Returns at once: a camera that streams on a thread of its own hands over
    // the newest frame it has. The frame is never changed afterwards, so the
    // caller may keep it as long as it likes. Throws CaptureError when the
    // camera has failed, on this and every later call: CameraLostError when
    // the device itself is gone (unplugged while streaming, for instance).
    virtual std::shared_ptr<const TBitmap> fetchFrame() = 0;

    // The frame sizes (and rates) the camera offers, and the one in use.
    virtual std::vector<CameraMode> modes() = 0;
    virtual FrameInterval frameInterval() = 0;
    // Switches to a mode the camera offered; a zero interval keeps the
    // camera's choice. Frames of the new size follow. Throws CaptureError.
    virtual void setMode(FrameSize size, FrameInterval interval) = 0;

    // The device's controls with their current values, and a new value for
    // one, which takes effect at once. Throws CaptureError.
    virtual std::vector<CameraControl> controls() = 0;
    virtual void setControl(std::uint32_t id, std::int32_t value) = 0;
};

class CameraSystem {
public:
    virtual ~CameraSystem() = default;

    // The cameras plugged in now, capture devices only; the first is the one
    // a capture window connects to (driver 0).
    virtual std::vector<CameraInfo> cameras() = 0;

    // Opens the camera with that id, or gives the one already open with it
    // unless that one is lost (its device went away): a camera plugged back
    // in is then opened afresh. Throws CaptureError when it cannot be opened.
    virtual std::shared_ptr<Camera> open(const std::string& id) = 0;
};
