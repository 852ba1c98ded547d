#pragma once

#include <QIcon>

// The program's icon: a red and a cyan lens joined by a dark bridge, drawn at
// 16, 32 and 48 pixels.
QIcon appIcon();
