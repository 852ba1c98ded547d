// Pictures that hold both frames of a pair: multi-picture files (MPO) as
// stereo cameras write them, and side-by-side pictures.
#pragma once

#include "compose/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Where one picture of a multi-picture file lies in the file.
struct PictureRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// True when the bytes are a JPEG file whose first picture carries a
// multi-picture index: an APP2 segment whose body starts "MPF\0", among the
// markers before its first scan. Only that identifier is looked at;
// multiPictureRanges checks the index itself.
bool hasMultiPictureIndex(const std::uint8_t* data, std::size_t size);

// The pictures the multi-picture index lists, in the index's order; empty
// when the file has no index (hasMultiPictureIndex is false). Every range
// lies inside the file and starts with an SOI marker. Throws EPictureError
// for an index that is damaged in any way: the segment passing the end of the
// file, an unknown byte order, the index's fields or its picture entries
// lying outside the segment, no picture entries, a picture count that
// disagrees with the entries, a first picture that does not start the file,
// and a picture passing the end of the file or not starting with SOI.
// Reads only the index: time and memory grow with the segment, at most 64 KB.
std::vector<PictureRange> multiPictureRanges(const std::uint8_t* data, std::size_t size);

struct StereoFrames {
    TBitmap left;
    TBitmap right;
};

// The first two pictures of a multi-picture file as the left and the right
// frame, as stereo cameras store them. Throws EPictureError when the file has
// no index, a damaged one or fewer than two pictures, when either picture
// cannot be decoded (decodeJpeg's errors), and when the pair would take more
// memory than the file's size allows (picture_limits.h: the two pictures
// together are held to the rule for the one file). With threads > 1 the two
// are decoded at once when the file's budget covers both decodes at their
// largest; otherwise, as for nearly every real file, one after the other.
// Runs two decodes on two threads, the right one on a thread of its own;
// when either fails, its error is thrown once both have ended, the left
// one's first.
StereoFrames decodeBothAtOnce(const std::function<TBitmap()>& decodeLeft, const std::function<TBitmap()>& decodeRight);

StereoFrames decodeMultiPicturePair(const std::uint8_t* data, std::size_t size, int threads = 1);

// Where the first two pictures of a multi-picture file lie, the left and
// the right frame; throws decodeMultiPicturePair's errors for a file with
// no index, a damaged one or fewer than two pictures.
struct StereoRanges {
    PictureRange left;
    PictureRange right;
};
StereoRanges stereoPictureRanges(const std::uint8_t* data, std::size_t size);

// The pair's share of the memory rule when the pictures are decoded one
// after the other: the file, a first picture of leftWidth x leftHeight and
// the second's decode at its largest must fit the file's budget together;
// throws EPictureError otherwise.
void checkSecondPicture(std::size_t fileSize, int leftWidth, int leftHeight, const PictureRange& right);

// Parallel: the left half is the left eye's view. Cross (for cross-eyed
// viewing): the left half is the right eye's.
enum class SideBySide { Parallel, Cross };

// The two halves of a side-by-side picture, each width / 2 wide; an odd
// width leaves out the middle column. Throws EPictureError for a picture
// narrower than 2 pixels or without pixels.
StereoFrames splitSideBySide(const TBitmap& picture, SideBySide layout);
