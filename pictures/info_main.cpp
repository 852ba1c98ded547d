// orvanta-info FILE...: runs the picture loader the window uses over files
// and prints each one's size or the error the window would report, so that
// whole folders of pictures can be checked from a shell.
#include "pictures/picture_files.h"

#include <cstdio>
#include <exception>
#include <new>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvanta-info FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            const TBitmap picture = loadPictureFile(argv[i]);
            std::printf("%s: %dx%d\n", argv[i], picture.width(), picture.height());
        } catch (const std::bad_alloc&) {
            std::printf("%s: error: Out of system resources\n", argv[i]);
            status = 1;
        } catch (const std::exception& e) {
            std::printf("%s: error: %s\n", argv[i], e.what());
            status = 1;
        }
    }
    return status;
}
