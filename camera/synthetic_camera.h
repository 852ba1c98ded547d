// Cameras drawn by the program itself, for tests and the benchmark: each
// delivers a moving, recognisable picture at a chosen size, a new one at every
// fetch, and its switches make it fail in the ways real cameras do. Not
// offered to users: the program looks for real cameras only.
#pragma once

#include "camera.h"

#include <memory>

struct SyntheticSwitches {
    int cameras = 1; // how many are plugged in; 0 is none
    bool failOpen = false; // opening a camera throws
    bool noFormat = false; // an open camera has no format to give
    bool failFetch = false; // fetching a frame throws, as a camera with a bad frame does
    bool unplugged = false; // fetching a frame throws CameraLostError, as an unplugged camera does
    FrameSize size { 640, 480 }; // the frame size; choosing a mode changes it
};

// The picture camera `index` (0-based) shows as frame number `frame`: colour
// bars, a white bar that moves a step to the right with every frame and a
// block in the top-left corner that tells the cameras apart, lightened by
// `brightness` in each channel (clamped to 0..255).
void drawSyntheticFrame(TBitmap& into, FrameSize size, int index, long frame, int brightness);

class SyntheticCameras final : public CameraSystem {
public:
    SyntheticCameras();
    ~SyntheticCameras() override;

    // Read at every call, so a test may change them at any time.
    SyntheticSwitches& switches() { return state_->switches; }
    // How many frames all cameras have fetched so far.
    long framesFetched() const { return state_->fetched; }

    std::vector<CameraInfo> cameras() override;
    std::shared_ptr<Camera> open(const std::string& id) override;

    // The control ids the cameras offer.
    static constexpr std::uint32_t kBrightness = 1;
    static constexpr std::uint32_t kMirror = 2;

    // What the cameras share with their system, and keep while they live.
    struct State {
        SyntheticSwitches switches;
        long fetched = 0;
    };

private:
    std::shared_ptr<State> state_;
    std::vector<std::weak_ptr<Camera>> open_;
};
