// What a Video4Linux2 camera tells about itself: its capabilities, pixel
// formats, frame sizes and rates, and controls, read through V4l2Io. Used by
// the camera back end (v4l2_camera.cpp); not a public interface.
#pragma once

#include "camera/camera.h"
#include "camera/v4l2_io.h"

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

// A device call that failed in a way the caller must report; `error` is its
// errno.
struct DeviceFailure {
    int error;
};

// The call, repeated while a signal interrupts it; -1 with errno on failure.
int deviceCall(V4l2Io& io, int fd, unsigned long request, void* arg);
// The call; throws DeviceFailure when it fails.
void mustCall(V4l2Io& io, int fd, unsigned long request, void* arg);

// The system's text for an errno value.
std::string errorText(int error);

// The device has gone (unplugged, or its driver broke down): every further
// call will fail the same way.
bool deviceGone(int error);

// The capabilities of the node itself (a node of a multi-node device states
// the whole device's in `capabilities` and its own in `device_caps`).
std::uint32_t nodeCapabilities(const v4l2_capability& cap);
// A node that streams video frames: not a metadata-only node, not an output.
bool isStreamingCapture(const v4l2_capability& cap);
std::string cardName(const v4l2_capability& cap);

struct OfferedFormat {
    std::uint32_t fourcc = 0;
    bool emulated = false; // converted by libv4l2 from a native format
};

std::vector<OfferedFormat> offeredFormats(V4l2Io& io, int fd);

// The format to capture in: the device's own YUYV, else its own MJPEG (or
// JPEG), both converted by our code; else RGB24, which libv4l2 converts to
// from whatever the device has. 0 when there is none of these.
std::uint32_t choosePixelFormat(const std::vector<OfferedFormat>& formats);

// The frame sizes offered in that format, each with its frame intervals. A
// stepwise or continuous range becomes a short list of common sizes within
// it. Empty when the device does not enumerate sizes.
std::vector<CameraMode> offeredModes(V4l2Io& io, int fd, std::uint32_t fourcc);

// The size to start with: the current one when it is offered, else the
// largest offered not above 1280 x 720, else the smallest offered; the
// current one when nothing is offered.
FrameSize defaultSize(const std::vector<CameraMode>& modes, FrameSize current);

// The controls a user can set, with their current values.
std::vector<CameraControl> deviceControls(V4l2Io& io, int fd);
