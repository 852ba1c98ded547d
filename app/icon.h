#pragma once

#include "layer.h"

#include <QIcon>

// The program's icon: a red and a cyan lens joined by a dark bridge, drawn at
// 16, 32 and 48 pixels.
QIcon appIcon();

// The 16 x 16 pictures of the open and save buttons, drawn on magenta, which
// is then made transparent.
QIcon openFolderGlyph();
QIcon floppyGlyph();
