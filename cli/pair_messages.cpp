#include "pair_messages.h"

#include <cstdio>

namespace {

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

} // namespace

std::string pairName(const PairSource& source)
{
    return source.files.size() == 2 ? source.files[0] + " and " + source.files[1] : "the two views of " + source.files[0];
}

std::string needsText(const StereoCorrection& c)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "a roll of %.2f degrees and a size change of %+.2f %%", c.rotationDegrees,
        c.scalePercent);
    return buf;
}

void checkSameSize(const PairSource& source, int leftWidth, int leftHeight, int rightWidth, int rightHeight)
{
    if (leftWidth == rightWidth && leftHeight == rightHeight)
        return;
    const std::string left = sizeText(leftWidth, leftHeight), right = sizeText(rightWidth, rightHeight);
    if (source.files.size() == 2)
        throw std::runtime_error(source.files[0] + " (" + left + ") and " + source.files[1] + " (" + right
            + ") differ in size: the frames of a pair must be the same size");
    throw FileError(source.files[0], "its two pictures differ in size (" + left + " and " + right + ")");
}

std::string cannotAlign(const PairSource& source, const std::string& why)
{
    return "cannot align " + pairName(source) + ": " + why;
}

void checkIsMultiPicture(const std::uint8_t* data, std::size_t size)
{
    if (!hasMultiPictureIndex(data, size))
        throw std::runtime_error("not a multi-picture (MPO) file; give LEFT RIGHT, or --sbs for a side-by-side picture");
}

void checkNotMultiPicture(const std::uint8_t* data, std::size_t size)
{
    if (hasMultiPictureIndex(data, size))
        throw std::runtime_error("an MPO file already holds the two views; give it without --sbs");
}

void checkOverlap(const PairSource& source, int width, int height, int dx, int dy)
{
    if (overlapOf(width, height, dx, dy).empty())
        throw FileError(source.files.back(),
            "the offsets " + std::to_string(dx) + ", " + std::to_string(dy) + " leave no overlap between frames of "
                + sizeText(width, height));
}

ComposeSettings settingsAfterCorrection(const PairSource& source, const StereoCorrection& found,
    const ComposeOptions& options)
{
    if (!found.confident)
        throw std::runtime_error(cannotAlign(source, found.why));
    ComposeSettings settings = options.compose;
    if (options.align == AlignMode::PrintOnly) {
        if (!found.pureTranslation)
            throw std::runtime_error(
                pairName(source) + " need " + needsText(found) + ", which the window's offsets cannot hold; build with --align");
        settings.dx = settings.swap ? -found.dx : found.dx;
        settings.dy = settings.swap ? -found.dy : found.dy;
    } else {
        // Corrected, the frames line up as they are.
        settings.dx = 0;
        settings.dy = 0;
    }
    return settings;
}
