// The About page's two logo pictures, drawn by the program in the spirit of
// its icon: anaglyph glasses, a red lens and a cyan one.
#pragma once

#include "layer.h"

#include <QImage>

// 140 x 100, 256 colours, on white, the colour left out when shown.
QImage glassesLogo();
// 100 x 50, 24-bit, on grey (192, 192, 192), the colour left out when shown.
QImage titleLogo();
