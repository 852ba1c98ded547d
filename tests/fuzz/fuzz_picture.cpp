// libFuzzer entry: any bytes through the loader that opens frames (the
// window's JPEG and BMP, and orvanta-compose's PNG besides), and through the
// multi-picture reader when they carry its index. A clear
// error is fine; a crash, a hang, a sanitizer report or a runaway allocation
// is not.
#include "pictures/picture_files.h"
#include "pictures/stereo_files.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const TBitmap picture = decodePictureOrPng(data, size);
        // Touch the picture so a decoder that left rows unset shows under
        // MemorySanitizer-like checks and its size is used.
        volatile std::uint32_t sink = 0;
        if (!picture.empty())
            sink = picture.scanLine(picture.height() - 1)[picture.width() - 1];
        (void)sink;
    } catch (const std::bad_alloc&) {
    } catch (const std::exception&) {
    }
    // A JPEG file with a multi-picture index: its index and the pair it
    // lists, as orvanta-compose opens it. The picture above is released by
    // now, so the pair alone is held to the memory rule.
    if (hasMultiPictureIndex(data, size)) {
        try {
            const StereoFrames pair = decodeMultiPicturePair(data, size);
            volatile std::uint32_t sink = pair.left.scanLine(pair.left.height() - 1)[pair.left.width() - 1]
                ^ pair.right.scanLine(pair.right.height() - 1)[pair.right.width() - 1];
            (void)sink;
        } catch (const std::bad_alloc&) {
        } catch (const std::exception&) {
        }
    }
    return 0;
}
