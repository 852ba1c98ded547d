// Picture files on disk: reading a file into a frame, the save extension
// rule, and saving a picture all or nothing (file_io.h).
#pragma once

#include "compose/bitmap.h"
#include "file_io.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Decodes a picture file held in memory, telling JPEG from BMP by the
// content alone. Throws EPictureError for anything else.
TBitmap decodePicture(const std::uint8_t* data, std::size_t size);

// readWholeFile and decodePicture together: what opening a frame does.
TBitmap loadPictureFile(const std::string& path);

// What orvanta-compose opens: decodePicture's JPEG and BMP files and PNG
// files too (png_codec.h), told apart by their content. The window keeps to
// JPEG and BMP. Throws EPictureError(kNotAPictureOrPng) for anything else.
inline const char* const kNotAPictureOrPng = "Not a JPEG, BMP or PNG picture";
TBitmap decodePictureOrPng(const std::uint8_t* data, std::size_t size);
TBitmap loadPictureOrPngFile(const std::string& path);

// The save extension rule: unless the part of name from its last ".", "/",
// "\" or ":" on, when that is a ".", reads upperExtension with its letters
// made upper case, lowerExtension is appended. (".JPG", ".jpg") turns
// "photo" into "photo.jpg" and keeps "photo.Jpg" as it is.
std::string withExtension(const std::string& name, std::string_view upperExtension, std::string_view lowerExtension);

// Turns a picture into the bytes of a file, such as encodeJpeg or encodeBmp.
using PictureEncoder = std::vector<std::uint8_t> (*)(const TBitmap&);

// Saves a picture as a file in encode's form through AtomicFileWriter, so
// that whichever way the save ends the file is either complete or not there.
// The file is made before the picture is encoded: a target that cannot be
// written is reported as such without the time and memory of encoding, and
// an encoder's error leaves no temporary file behind.
void savePicture(const std::string& path, PictureEncoder encode, const TBitmap& picture);
