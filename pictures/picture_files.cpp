#include "picture_files.h"

#include "bmp_codec.h"
#include "jpeg_codec.h"
#include "picture_limits.h"
#include "png_codec.h"

TBitmap decodePicture(const std::uint8_t* data, std::size_t size)
{
    if (looksLikeJpeg(data, size))
        return decodeJpeg(data, size);
    if (looksLikeBmp(data, size))
        return decodeBmp(data, size);
    throw EPictureError(kNotAPicture);
}

TBitmap loadPictureFile(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    return decodePicture(bytes.data(), bytes.size());
}

TBitmap decodePictureOrPng(const std::uint8_t* data, std::size_t size)
{
    if (looksLikePng(data, size))
        return decodePng(data, size);
    if (looksLikeJpeg(data, size) || looksLikeBmp(data, size))
        return decodePicture(data, size);
    throw EPictureError(kNotAPictureOrPng);
}

TBitmap loadPictureOrPngFile(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    return decodePictureOrPng(bytes.data(), bytes.size());
}

std::string withExtension(const std::string& name, std::string_view upperExtension, std::string_view lowerExtension)
{
    const std::size_t cut = name.find_last_of("./\\:");
    std::string extension;
    if (cut != std::string::npos && name[cut] == '.')
        extension = name.substr(cut);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (extension == upperExtension)
        return name;
    return name + std::string(lowerExtension);
}

void savePicture(const std::string& path, PictureEncoder encode, const TBitmap& picture)
{
    AtomicFileWriter file(path);
    file.write(encode(picture));
    file.commit();
}
