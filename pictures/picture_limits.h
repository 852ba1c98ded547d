// What every decoder checks before it allocates a picture.
#pragma once

#include "compose/errors.h"

#include <cstdint>
#include <string>

// A side longer than this cannot be written as JPEG either.
inline constexpr long long kMaxPictureSide = 65500;
// 268 megapixels: a gigabyte of pixels.
inline constexpr long long kMaxPicturePixels = 1LL << 28;

// The memory rule for opening a file. A picture file of S bytes may make the
// program hold at most kOpeningAllowance + kBytesPerFileByte * S bytes more
// than it held before, counting the file's own bytes, the pixel store and
// everything the decoder allocates for the picture; whatever a file claims,
// it is checked before anything of that size is allocated. A genuine
// photograph needs far less: a 24-megapixel picture takes 99 MB (171 MB when
// progressive, with its coefficients), which its file justifies from 32 KB
// (104 KB) on, while such a file is a few megabytes. Only a file of a few
// hundred bytes that claims a huge picture, or a large picture of one flat
// colour stored far below a bit per pixel (arithmetic coding can), is
// refused.
inline constexpr std::uint64_t kOpeningAllowance = 64ull << 20;
inline constexpr std::uint64_t kBytesPerFileByte = 1000;

inline constexpr std::uint64_t openingBudget(std::uint64_t fileSize)
{
    return kOpeningAllowance + kBytesPerFileByte * fileSize;
}

// The largest file opening reads. A BMP file cannot be larger (its sizes and
// offsets are 32-bit), and the largest picture allowed takes 1 GB as a
// 32-bit BMP and about 1.1 GB as a quality-100 JPEG of pure noise without
// chroma subsampling (4.1 bytes a pixel).
inline constexpr std::uint64_t kMaxPictureFileSize = 4ull << 30;

// A file that is not a picture we can read, or is damaged: its message
// says what is wrong with the file.
class EPictureError : public EOrvantaError {
public:
    using EOrvantaError::EOrvantaError;
};

inline const char* const kNotAPicture = "Not a JPEG or BMP picture";
inline const char* const kDamagedPicture = "The picture file is damaged or truncated";

inline std::string pictureSizeText(long long w, long long h)
{
    return std::to_string(w) + " x " + std::to_string(h) + " pixels";
}

// Throws EPictureError unless a picture of w x h pixels may be made.
inline void checkPictureSize(long long w, long long h)
{
    if (w <= 0 || h <= 0)
        throw EPictureError("The picture has no pixels (" + std::to_string(w) + " x " + std::to_string(h) + ")");
    if (w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels)
        throw EPictureError("The picture is too large (" + pictureSizeText(w, h)
            + "); at most 65500 pixels a side and 268 megapixels can be opened");
}

// The refusal of a w x h picture whose file is too small to justify the
// memory it needs under the rule above.
[[noreturn]] inline void refuseForItsFile(long long w, long long h, std::uint64_t fileSize)
{
    throw EPictureError("The picture is too large (" + pictureSizeText(w, h) + ") for a file of "
        + std::to_string(fileSize) + " bytes");
}

// Throws unless `needed` bytes for a w x h picture, on top of the file's own
// bytes, fit the memory rule for a file of fileSize bytes.
inline void checkPictureMemory(long long w, long long h, std::uint64_t needed, std::uint64_t fileSize)
{
    if (needed > openingBudget(fileSize) || openingBudget(fileSize) - needed < fileSize)
        refuseForItsFile(w, h, fileSize);
}
