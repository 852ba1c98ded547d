// Cameras on Video4Linux2 device nodes (/dev/video*), the back end of
// capture on Linux. Every device node that captures video frames in a stream
// is a camera; its id is the node's path and its name the card name the
// driver gives.
//
// An open camera streams on a thread of its own from the moment it opens: it
// waits for the device's frames and holds the newest out of the device's
// queue as the device delivered it, so fetchFrame() never waits for the
// device. A frame is converted into a bitmap only for a fetch, and at most
// once: a camera nobody looks at costs no conversions. Fetches at a steady
// pace, as a stream's ticks are, find their frame converted on the camera's
// thread just before they come. It captures in the
// device's own YUYV or MJPEG where it can and has libv4l2 convert any other
// format to RGB24. A camera that stops working makes fetchFrame() throw a
// CaptureError saying so, a CameraLostError when its device went away
// (unplugged); closing it or changing its mode never waits for the device.
#pragma once

#include "camera/camera.h"
#include "camera/v4l2_io.h"

#include <cstdint>
#include <memory>
#include <optional>

// The cameras behind `io`: systemV4l2Io() for the machine's own devices.
std::unique_ptr<CameraSystem> v4l2Cameras(std::shared_ptr<V4l2Io> io);

// What an open camera of v4l2Cameras has done with its device's frames so
// far: how many it took from the device (damaged ones left out) and how many
// of them it converted for display, or tried to (an MJPEG frame may turn out
// damaged only then).
struct V4l2FrameCounts {
    std::uint64_t delivered = 0;
    std::uint64_t converted = 0;
};

// Nothing for a camera of any other kind.
std::optional<V4l2FrameCounts> v4l2FrameCounts(const Camera& camera);
