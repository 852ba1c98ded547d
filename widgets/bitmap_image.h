// Bitmaps and Qt's images: a bitmap seen as an image for painting, and an
// image (from the clipboard, say) copied into a bitmap.
#pragma once

#include "compose/bitmap.h"

#include <QImage>

// The bitmap's own pixels as an image, without a copy: valid while the
// bitmap lives and keeps its size.
QImage imageViewOf(const TBitmap& bitmap);

// A copy of a picture as a bitmap: its size and its pixels, opaque. Pictures
// with a colour table or transparency are converted; an empty one gives an
// empty bitmap.
TBitmap bitmapOfImage(const QImage& image);
