// Two synthetic cameras where channel 1's source dialog attaches the first
// and channel 2's the second, so that each preview shows a picture of its
// own: for the programs that show the webcam page with both channels.
#pragma once

#include "widgets/capture/capture_window.h"
#include "widgets/capture/synthetic_backend.h"

inline void giveEachChannelItsCamera(SyntheticBackend& cameras)
{
    cameras.switches().cameras = 2;
    cameras.sourceDialog = [&cameras](CaptureWindow& window) {
        const int index = window.objectName() == QLatin1String("Video2") ? 1 : 0;
        window.attach(cameras.cameras().open(cameras.cameras().cameras()[std::size_t(index)].id));
    };
}
