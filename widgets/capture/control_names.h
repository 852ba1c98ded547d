// What the source dialog calls a camera's controls. Drivers name their
// controls in English; the common ones, known by their Video4Linux2 id, get
// a name of ours that is translated with the rest of the dialog. In a
// language without a translation for it (English), a control keeps the
// driver's name, as does every control and menu item we do not know.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

// The name to show for control `id`, which the driver calls `driverName`.
QString cameraControlName(std::uint32_t id, const std::string& driverName);

// The text to show for the item `value` of menu control `id`, which the
// driver calls `driverName`.
QString cameraMenuItemName(std::uint32_t id, std::int32_t value, const std::string& driverName);
