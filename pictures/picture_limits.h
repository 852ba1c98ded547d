// What every decoder checks before it allocates a picture.
#pragma once

#include "compose/errors.h"

#include <string>

// A side longer than this cannot be written as JPEG either.
inline constexpr long long kMaxPictureSide = 65500;
// 268 megapixels: a gigabyte of pixels.
inline constexpr long long kMaxPicturePixels = 1LL << 28;

// A file that is not a picture we can read, or is damaged: its message
// says what is wrong with the file.
class EPictureError : public EOrvantaError {
public:
    using EOrvantaError::EOrvantaError;
};

inline const char* const kNotAPicture = "Not a JPEG or BMP picture";
inline const char* const kDamagedPicture = "The picture file is damaged or truncated";

// Throws EPictureError unless a picture of w x h pixels may be made.
inline void checkPictureSize(long long w, long long h)
{
    if (w <= 0 || h <= 0)
        throw EPictureError("The picture has no pixels (" + std::to_string(w) + " x " + std::to_string(h) + ")");
    if (w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels)
        throw EPictureError("The picture is too large (" + std::to_string(w) + " x " + std::to_string(h)
            + " pixels); at most 65500 pixels a side and 268 megapixels can be opened");
}
