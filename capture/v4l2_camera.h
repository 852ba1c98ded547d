// Cameras on Video4Linux2 device nodes (/dev/video*), the back end of
// capture on Linux. Every device node that captures video frames in a stream
// is a camera; its id is the node's path and its name the card name the
// driver gives.
//
// An open camera streams on a thread of its own from the moment it opens: it
// waits for the device's frames, converts each into a bitmap and keeps the
// newest, so fetchFrame() never waits for the device. It captures in the
// device's own YUYV or MJPEG where it can and has libv4l2 convert any other
// format to RGB24. A camera that stops working (unplugged, or its driver
// gave up) makes fetchFrame() throw a CaptureError saying so; closing it
// never waits for the device.
#pragma once

#include "capture/camera.h"
#include "capture/v4l2_io.h"

#include <memory>

// The cameras behind `io`: systemV4l2Io() for the machine's own devices.
std::unique_ptr<CameraSystem> v4l2Cameras(std::shared_ptr<V4l2Io> io);
