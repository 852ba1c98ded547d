#include "bitmap_image.h"

#include <cstring>

QImage imageViewOf(const TBitmap& bitmap)
{
    // 0xFFRRGGBB words are Qt's RGB32.
    return QImage(reinterpret_cast<const uchar*>(bitmap.bits()), bitmap.width(), bitmap.height(),
        qsizetype(bitmap.width()) * 4, QImage::Format_RGB32);
}

TBitmap bitmapOfImage(const QImage& image)
{
    TBitmap bitmap;
    if (image.isNull())
        return bitmap;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    bitmap.allocateUninitialized(rgb.width(), rgb.height());
    const std::size_t rowBytes = std::size_t(rgb.width()) * 4;
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(bitmap.scanLine(y), rgb.constScanLine(y), rowBytes);
    return bitmap;
}
