// The webcam page's cases: how long a stream tick holds the user-interface
// thread and how long a grab into a frame takes, with synthetic cameras and
// with made-up Video4Linux2 devices delivering YUYV and MJPEG at 640 x 480
// and 1920 x 1080; and the conversion of one such frame by our code against
// libv4lconvert's.
#pragma once

#include "cases.h"

namespace bench {

// Runs every camera case, or only the one with that index in kCameraCases.
void runCameraCases(Bench& b, int only);

} // namespace bench
