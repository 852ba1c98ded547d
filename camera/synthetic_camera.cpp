#include "synthetic_camera.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::uint32_t kBars[] = { 0xFFC0C0C0, 0xFFC0C000, 0xFF00C0C0, 0xFF00C000, 0xFFC000C0, 0xFFC00000,
    0xFF0000C0 };
constexpr std::uint32_t kCameraMarks[] = { 0xFFFF0000, 0xFF00FFFF, 0xFF00FF00, 0xFFFFFF00 };

std::uint32_t lighten(std::uint32_t c, int by)
{
    const auto channel = [by](std::uint32_t v) { return std::uint32_t(std::clamp(int(v) + by, 0, 255)); };
    return 0xFF000000u | channel((c >> 16) & 0xFF) << 16 | channel((c >> 8) & 0xFF) << 8 | channel(c & 0xFF);
}

std::string idOf(int index) { return "synthetic:" + std::to_string(index); }

class SyntheticCamera final : public Camera {
public:
    SyntheticCamera(std::shared_ptr<SyntheticCameras::State> state, int index)
        : state_(std::move(state))
        , switches_(state_->switches)
        , index_(index)
    {
    }

    CameraInfo info() const override { return { idOf(index_), "Synthetic camera " + std::to_string(index_ + 1) }; }

    std::optional<FrameSize> frameSize() override
    {
        if (switches_.noFormat)
            return std::nullopt;
        return switches_.size;
    }

    std::shared_ptr<const TBitmap> fetchFrame() override
    {
        if (switches_.unplugged)
            throw CameraLostError("Camera \"" + info().name + "\" stopped working: No such device");
        if (switches_.failFetch)
            throw CaptureError("Camera \"" + info().name + "\" stopped working: Input/output error");
        auto frame = std::make_shared<TBitmap>();
        drawSyntheticFrame(*frame, switches_.size, index_, frame_++, brightness_);
        if (mirror_)
            for (int y = 0; y < frame->height(); ++y)
                std::reverse(frame->scanLine(y), frame->scanLine(y) + frame->width());
        ++state_->fetched;
        return frame;
    }

    std::vector<CameraMode> modes() override
    {
        const std::vector<FrameInterval> rates = { { 1, 30 }, { 1, 15 } };
        return { { { 320, 240 }, rates }, { { 640, 480 }, rates }, { { 1280, 720 }, rates },
            { { 1920, 1080 }, { { 1, 15 } } } };
    }
    FrameInterval frameInterval() override { return interval_; }
    void setMode(FrameSize size, FrameInterval interval) override
    {
        const auto offered = modes();
        if (std::none_of(offered.begin(), offered.end(), [&](const CameraMode& m) { return m.size == size; }))
            throw CaptureError("The camera does not offer " + std::to_string(size.width) + " x "
                + std::to_string(size.height) + " frames");
        // The size is shared by every synthetic camera, as its switch is.
        switches_.size = size;
        if (interval.denominator != 0)
            interval_ = interval;
    }

    std::vector<CameraControl> controls() override
    {
        CameraControl brightness;
        brightness.id = SyntheticCameras::kBrightness;
        brightness.name = "Brightness";
        brightness.minimum = -64;
        brightness.maximum = 64;
        brightness.value = brightness_;
        CameraControl mirror;
        mirror.id = SyntheticCameras::kMirror;
        mirror.name = "Mirror";
        mirror.kind = CameraControl::Kind::Boolean;
        mirror.maximum = 1;
        mirror.value = mirror_ ? 1 : 0;
        return { brightness, mirror };
    }
    void setControl(std::uint32_t id, std::int32_t value) override
    {
        if (id == SyntheticCameras::kBrightness)
            brightness_ = std::clamp(value, -64, 64);
        else if (id == SyntheticCameras::kMirror)
            mirror_ = value != 0;
        else
            throw CaptureError("The camera has no control " + std::to_string(id));
    }

private:
    std::shared_ptr<SyntheticCameras::State> state_;
    SyntheticSwitches& switches_;
    int index_;
    long frame_ = 0;
    int brightness_ = 0;
    bool mirror_ = false;
    FrameInterval interval_ { 1, 30 };
};

} // namespace

void drawSyntheticFrame(TBitmap& into, FrameSize size, int index, long frame, int brightness)
{
    into.allocateUninitialized(size.width, size.height);
    if (into.empty())
        return;
    const int w = size.width;
    const int h = size.height;
    const int barWidth = std::max(w / 7, 1);
    const int moving = int(frame * 8 % std::max(w, 1));
    const int mark = std::min(std::min(w, h), 32);
    const std::uint32_t markColour = lighten(kCameraMarks[index % 4], brightness);
    std::uint32_t bars[std::size(kBars)];
    for (std::size_t i = 0; i < std::size(kBars); ++i)
        bars[i] = lighten(kBars[i], brightness);
    const std::uint32_t white = lighten(0xFFFFFFFF, brightness);
    // Every row is the same but for the mark's: draw one, copy the rest.
    std::uint32_t* first = into.scanLine(0);
    for (int x = 0; x < w; ++x)
        first[x] = bars[std::min(x / barWidth, 6)];
    for (int x = moving; x < std::min(moving + 4, w); ++x)
        first[x] = white;
    for (int y = 1; y < h; ++y)
        std::copy(first, first + w, into.scanLine(y));
    for (int y = 0; y < mark; ++y)
        std::fill(into.scanLine(y), into.scanLine(y) + mark, markColour);
}

SyntheticCameras::SyntheticCameras()
    : state_(std::make_shared<State>())
{
}

SyntheticCameras::~SyntheticCameras() = default;

std::vector<CameraInfo> SyntheticCameras::cameras()
{
    std::vector<CameraInfo> list;
    for (int i = 0; i < state_->switches.cameras; ++i)
        list.push_back({ idOf(i), "Synthetic camera " + std::to_string(i + 1) });
    return list;
}

std::shared_ptr<Camera> SyntheticCameras::open(const std::string& id)
{
    if (state_->switches.failOpen)
        throw CaptureError("Cannot open camera \"" + id + "\". Device or resource busy");
    for (int i = 0; i < state_->switches.cameras; ++i) {
        if (id != idOf(i))
            continue;
        if (open_.size() <= std::size_t(i))
            open_.resize(std::size_t(i) + 1);
        if (auto shared = open_[std::size_t(i)].lock())
            return shared;
        auto camera = std::make_shared<SyntheticCamera>(state_, i);
        open_[std::size_t(i)] = camera;
        return camera;
    }
    throw CaptureError("Cannot open camera \"" + id + "\". No such device");
}
