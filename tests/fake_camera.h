// Cameras for the dialog tests: a system of fake cameras that keep their
// controls and mode in memory and record every request made of them.
#pragma once

#include "camera/camera.h"

#include <QComboBox>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using Kind = CameraControl::Kind;
using ControlSet = std::pair<std::uint32_t, std::int32_t>;

// A camera that keeps its controls and mode in memory and records every
// request. While `autoId` is on, `manualId` is inactive, and with
// `refuseInactive` setting an inactive control fails, as UVC cameras do.
struct FakeCamera final : Camera {
    CameraInfo who;
    std::vector<CameraControl> list;
    std::vector<CameraMode> offered;
    std::optional<FrameSize> size;
    FrameInterval interval;
    std::string refuse; // when set, every request fails with it
    std::uint32_t autoId = 0;
    std::uint32_t manualId = 0;
    bool refuseInactive = false;
    std::vector<ControlSet> controlSets;
    std::vector<std::pair<FrameSize, FrameInterval>> modeSets;

    CameraInfo info() const override { return who; }
    std::optional<FrameSize> frameSize() override { return size; }
    std::shared_ptr<const TBitmap> fetchFrame() override { return nullptr; }
    std::vector<CameraMode> modes() override { return offered; }
    FrameInterval frameInterval() override { return interval; }
    void setMode(FrameSize s, FrameInterval i) override
    {
        modeSets.emplace_back(s, i);
        if (!refuse.empty())
            throw CaptureError(refuse);
        size = s;
        interval = i;
    }
    std::vector<CameraControl> controls() override { return list; }
    void setControl(std::uint32_t id, std::int32_t value) override
    {
        controlSets.emplace_back(id, value);
        if (!refuse.empty())
            throw CaptureError(refuse);
        CameraControl& c = control(id);
        if (refuseInactive && c.inactive)
            throw CaptureError("Permission denied");
        c.value = value;
        if (id == autoId)
            control(manualId).inactive = value != 0;
    }
    CameraControl& control(std::uint32_t id)
    {
        return *std::find_if(list.begin(), list.end(), [id](const CameraControl& c) { return c.id == id; });
    }
};

struct FakeSystem final : CameraSystem {
    std::vector<std::shared_ptr<FakeCamera>> plugged;

    std::vector<CameraInfo> cameras() override
    {
        std::vector<CameraInfo> infos;
        for (const auto& c : plugged)
            infos.push_back(c->who);
        return infos;
    }
    std::shared_ptr<Camera> open(const std::string& id) override
    {
        for (const auto& c : plugged)
            if (c->who.id == id)
                return c;
        throw CaptureError("No such camera");
    }
    std::shared_ptr<FakeCamera> plug(const std::string& id, const std::string& name)
    {
        auto camera = std::make_shared<FakeCamera>();
        camera->who = { id, name };
        plugged.push_back(camera);
        return camera;
    }
};

inline CameraControl integer(std::uint32_t id, const char* name, int minimum, int maximum, int step, int def, int value)
{
    CameraControl c;
    c.id = id;
    c.name = name;
    c.kind = Kind::Integer;
    c.minimum = minimum;
    c.maximum = maximum;
    c.step = step;
    c.defaultValue = def;
    c.value = value;
    return c;
}

inline CameraControl boolean(std::uint32_t id, const char* name, int def, int value)
{
    CameraControl c = integer(id, name, 0, 1, 1, def, value);
    c.kind = Kind::Boolean;
    return c;
}

inline CameraControl menu(std::uint32_t id, const char* name, std::vector<std::pair<std::int32_t, std::string>> items,
    int def, int value)
{
    CameraControl c = integer(id, name, 0, int(items.size()) - 1, 1, def, value);
    c.kind = Kind::Menu;
    c.menu = std::move(items);
    return c;
}

inline CameraControl button(std::uint32_t id, const char* name)
{
    CameraControl c = integer(id, name, 0, 0, 1, 0, 0);
    c.kind = Kind::Button;
    return c;
}

inline QStringList itemTexts(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

// 640 × 480 is listed twice (two pixel formats) with rates that overlap.
