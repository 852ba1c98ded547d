// How a pair's failures read: each names the file it concerns first, or the
// pair when it concerns both; and the checks that raise them.
#pragma once

#include "options.h"
#include "pair.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

// An error about one file: the message the user sees names it first.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& file, const std::string& message) : std::runtime_error(file + ": " + message) { }
};

inline std::string messageOf(const std::exception& e)
{
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "Out of system resources";
    return e.what();
}

// Runs f, turning any failure into a FileError about file. A message that
// already names the file in quotes ("Cannot open file "x.jpg". ...") is
// passed on as it is rather than naming it twice.
template <typename F>
auto aboutFile(const std::string& file, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        const std::string message = messageOf(e);
        if (message.find("\"" + file + "\"") != std::string::npos)
            throw std::runtime_error(message);
        throw FileError(file, message);
    }
}

// The pair as the messages name it.
std::string pairName(const PairSource& source);

// What a correction does beyond a translation, in words.
std::string needsText(const StereoCorrection& c);

// Frames of one pair must be the same size; the message names where each
// came from with its size.
void checkSameSize(const PairSource& source, int leftWidth, int leftHeight, int rightWidth, int rightHeight);

// The refusal of a correction that is not confident.
std::string cannotAlign(const PairSource& source, const std::string& why);

// One file given for a pair must be a multi-picture (MPO) file, and one
// given with --sbs (or a .jps file) must not be: its first picture alone is
// one eye's view, which split in two would pair two halves of one frame.
void checkIsMultiPicture(const std::uint8_t* data, std::size_t size);
void checkNotMultiPicture(const std::uint8_t* data, std::size_t size);

// Offsets that leave the frames nothing in common.
void checkOverlap(const PairSource& source, int width, int height, int dx, int dy);

// The settings to build a corrected pair with: no offsets, or with
// AlignMode::PrintOnly the translation the correction found. Throws
// "cannot align ..." when the correction is not confident, and for
// PrintOnly when the pair needs more than a translation.
ComposeSettings settingsAfterCorrection(const PairSource& source, const StereoCorrection& found,
    const ComposeOptions& options);
