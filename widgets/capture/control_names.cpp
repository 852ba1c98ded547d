#include "widgets/capture/control_names.h"

#include <QCoreApplication>

#include <linux/videodev2.h>

#include <array>

namespace {

// The translation context of every name below; lupdate collects them from
// the QT_TRANSLATE_NOOP marks.
constexpr const char* kContext = "CameraControls";

struct ControlName {
    std::uint32_t id;
    const char* text; // the source text translators see: the usual driver name
};

struct MenuItemName {
    std::uint32_t id;
    std::int32_t value;
    const char* text;
};

constexpr std::array kControls = {
    ControlName { V4L2_CID_BRIGHTNESS, QT_TRANSLATE_NOOP("CameraControls", "Brightness") },
    ControlName { V4L2_CID_CONTRAST, QT_TRANSLATE_NOOP("CameraControls", "Contrast") },
    ControlName { V4L2_CID_SATURATION, QT_TRANSLATE_NOOP("CameraControls", "Saturation") },
    ControlName { V4L2_CID_HUE, QT_TRANSLATE_NOOP("CameraControls", "Hue") },
    ControlName { V4L2_CID_GAMMA, QT_TRANSLATE_NOOP("CameraControls", "Gamma") },
    ControlName { V4L2_CID_GAIN, QT_TRANSLATE_NOOP("CameraControls", "Gain") },
    ControlName { V4L2_CID_AUTOGAIN, QT_TRANSLATE_NOOP("CameraControls", "Gain, Automatic") },
    ControlName { V4L2_CID_SHARPNESS, QT_TRANSLATE_NOOP("CameraControls", "Sharpness") },
    ControlName { V4L2_CID_BACKLIGHT_COMPENSATION, QT_TRANSLATE_NOOP("CameraControls", "Backlight Compensation") },
    ControlName { V4L2_CID_AUTO_WHITE_BALANCE, QT_TRANSLATE_NOOP("CameraControls", "White Balance, Automatic") },
    ControlName {
        V4L2_CID_WHITE_BALANCE_TEMPERATURE, QT_TRANSLATE_NOOP("CameraControls", "White Balance Temperature") },
    ControlName { V4L2_CID_EXPOSURE, QT_TRANSLATE_NOOP("CameraControls", "Exposure") },
    ControlName { V4L2_CID_EXPOSURE_AUTO, QT_TRANSLATE_NOOP("CameraControls", "Auto Exposure") },
    ControlName { V4L2_CID_EXPOSURE_ABSOLUTE, QT_TRANSLATE_NOOP("CameraControls", "Exposure Time, Absolute") },
    ControlName { V4L2_CID_FOCUS_ABSOLUTE, QT_TRANSLATE_NOOP("CameraControls", "Focus, Absolute") },
    ControlName { V4L2_CID_FOCUS_AUTO, QT_TRANSLATE_NOOP("CameraControls", "Focus, Automatic Continuous") },
    ControlName { V4L2_CID_POWER_LINE_FREQUENCY, QT_TRANSLATE_NOOP("CameraControls", "Power Line Frequency") },
};

// The items of the standard menus, by the values the kernel fixes for them.
constexpr std::array kMenuItems = {
    MenuItemName { V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_POWER_LINE_FREQUENCY_DISABLED,
        QT_TRANSLATE_NOOP("CameraControls", "Disabled") },
    MenuItemName { V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_POWER_LINE_FREQUENCY_50HZ,
        QT_TRANSLATE_NOOP("CameraControls", "50 Hz") },
    MenuItemName { V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_POWER_LINE_FREQUENCY_60HZ,
        QT_TRANSLATE_NOOP("CameraControls", "60 Hz") },
    MenuItemName { V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_POWER_LINE_FREQUENCY_AUTO,
        QT_TRANSLATE_NOOP("CameraControls", "Auto") },
    MenuItemName { V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_AUTO, QT_TRANSLATE_NOOP("CameraControls", "Auto Mode") },
    MenuItemName { V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL, QT_TRANSLATE_NOOP("CameraControls", "Manual Mode") },
    MenuItemName { V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_SHUTTER_PRIORITY,
        QT_TRANSLATE_NOOP("CameraControls", "Shutter Priority Mode") },
    MenuItemName { V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY,
        QT_TRANSLATE_NOOP("CameraControls", "Aperture Priority Mode") },
};

// Our translation of `text`, or the driver's name when the language in use
// has none: the translator gives back the source text then, and our English
// source texts are not to replace what the driver says.
QString translatedOr(const char* text, const std::string& driverName)
{
    const QString translated = QCoreApplication::translate(kContext, text);
    if (translated == QLatin1String(text))
        return QString::fromStdString(driverName);
    return translated;
}

} // namespace

QString cameraControlName(std::uint32_t id, const std::string& driverName)
{
    for (const ControlName& c : kControls)
        if (c.id == id)
            return translatedOr(c.text, driverName);
    return QString::fromStdString(driverName);
}

QString cameraMenuItemName(std::uint32_t id, std::int32_t value, const std::string& driverName)
{
    for (const MenuItemName& item : kMenuItems)
        if (item.id == id && item.value == value)
            return translatedOr(item.text, driverName);
    return QString::fromStdString(driverName);
}
