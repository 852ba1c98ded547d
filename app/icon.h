#pragma once

#include "layer.h"

#include <QIcon>
#include <QImage>

#include <array>

// The sizes the program's icon is drawn at.
inline constexpr std::array<int, 3> kAppIconSizes { 16, 32, 48 };

// The program's icon at one size: a red and a cyan lens in dark rims joined by
// a dark bridge. orvanta-icons writes these same pictures out as the desktop's
// icons, so the menu and the window show one icon.
QImage appIconImage(int size);

// The program's icon with its pictures at every size of kAppIconSizes.
QIcon appIcon();

// The 16 x 16 pictures of the open and save buttons, drawn on magenta, which
// is then made transparent.
QIcon openFolderGlyph();
QIcon floppyGlyph();
