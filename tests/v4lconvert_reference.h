// libv4lconvert on its own, with no device behind it: the reference our own
// frame conversions are held against, in the tests and the benchmark.
#pragma once

#include "camera/camera.h"

#include <cstdint>
#include <string>
#include <vector>

struct v4lconvert_data;

class V4lconvertReference {
public:
    V4lconvertReference();
    ~V4lconvertReference();
    V4lconvertReference(const V4lconvertReference&) = delete;
    V4lconvertReference& operator=(const V4lconvertReference&) = delete;

    bool ready() const { return converter_ != nullptr; }
    // Converts a frame of that format (stride 0: the format's own) into
    // packed RGB24, rgb resized to fit; false when libv4lconvert fails.
    bool toRgb24(std::uint32_t fourcc, FrameSize size, std::size_t stride, const std::vector<std::uint8_t>& frame,
        std::vector<std::uint8_t>& rgb);
    std::string error() const;

private:
    v4lconvert_data* converter_ = nullptr;
};
