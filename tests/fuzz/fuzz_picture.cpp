// libFuzzer entry: any bytes through the loader that opens frames. A clear
// error is fine; a crash, a hang, a sanitizer report or a runaway allocation
// is not.
#include "pictures/picture_files.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const TBitmap picture = decodePicture(data, size);
        // Touch the picture so a decoder that left rows unset shows under
        // MemorySanitizer-like checks and its size is used.
        volatile std::uint32_t sink = 0;
        if (!picture.empty())
            sink = picture.scanLine(picture.height() - 1)[picture.width() - 1];
        (void)sink;
    } catch (const std::bad_alloc&) {
    } catch (const std::exception&) {
    }
    return 0;
}
