#include "stereo_files.h"

#include "jpeg_codec.h"
#include "picture_limits.h"

#include "compose/parallel.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

// A multi-picture file is a chain of JPEG files. The first carries, in an
// APP2 segment, "MPF\0" and then a small TIFF structure: a byte-order mark,
// the offset of an IFD, and in that IFD a field (tag 0xB002) pointing at one
// 16-byte entry per picture: attributes, size, offset, two dependent-picture
// numbers. Offsets are counted from the byte-order mark, except the first
// picture's, which is 0: it starts the file.

namespace {

constexpr std::size_t kNotFound = std::size_t(-1);

const char* const kDamagedIndex = "The multi-picture index is damaged";

constexpr std::uint8_t kIndexId[4] = { 'M', 'P', 'F', 0 };
constexpr std::size_t kTiffHeaderBytes = 8;
constexpr std::size_t kFieldBytes = 12;
constexpr std::size_t kEntryBytes = 16;
constexpr std::uint32_t kTagNumberOfImages = 0xB001;
constexpr std::uint32_t kTagEntries = 0xB002;
constexpr std::uint32_t kTypeLong = 4;
constexpr std::uint32_t kTypeUndefined = 7;

[[noreturn]] void refuse(const char* why = kDamagedIndex) { throw EPictureError(why); }

// Where the index segment's marker starts among the first picture's markers
// before its first scan, or kNotFound. Each step moves on by at least two
// bytes, so the walk is linear in the file's size whatever the bytes.
std::size_t findIndexSegment(const std::uint8_t* data, std::size_t size)
{
    if (!looksLikeJpeg(data, size))
        return kNotFound;
    std::size_t pos = 2;
    while (pos + 1 < size && data[pos] == 0xFF) {
        // Any number of 0xFF fill bytes may come before a marker.
        if (data[pos + 1] == 0xFF) {
            ++pos;
            continue;
        }
        const int marker = data[pos + 1];
        if (marker == 0xDA || marker == 0xD9 || marker == 0xD8 || marker == 0x00)
            return kNotFound;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (size - pos < 4)
            return kNotFound;
        const std::size_t length = std::size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2)
            return kNotFound;
        if (marker == 0xE2 && length >= 2 + sizeof kIndexId && size - pos >= 4 + sizeof kIndexId
            && std::memcmp(data + pos + 4, kIndexId, sizeof kIndexId) == 0)
            return pos;
        pos += 2 + length;
    }
    return kNotFound;
}

// The TIFF structure of the index: `size` bytes from the byte-order mark on.
// Callers check that what they read lies inside it.
struct IndexReader {
    const std::uint8_t* base;
    std::size_t size;
    bool littleEndian;

    std::uint32_t u16(std::size_t at) const
    {
        const std::uint32_t a = base[at], b = base[at + 1];
        return littleEndian ? a | b << 8 : a << 8 | b;
    }
    std::uint32_t u32(std::size_t at) const
    {
        return littleEndian ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }
    // True when `bytes` bytes from `at` on lie inside the structure and
    // after its header. 64-bit sums: neither comes near overflowing.
    bool holds(std::uint64_t at, std::uint64_t bytes) const
    {
        return at >= kTiffHeaderBytes && at + bytes <= size;
    }
};

IndexReader readerOf(const std::uint8_t* base, std::size_t size)
{
    if (size < kTiffHeaderBytes)
        refuse();
    if (std::memcmp(base, "II*\0", 4) == 0)
        return { base, size, true };
    if (std::memcmp(base, "MM\0*", 4) == 0)
        return { base, size, false };
    refuse("The multi-picture index has an unknown byte order");
}

} // namespace

bool hasMultiPictureIndex(const std::uint8_t* data, std::size_t size)
{
    return findIndexSegment(data, size) != kNotFound;
}

std::vector<PictureRange> multiPictureRanges(const std::uint8_t* data, std::size_t size)
{
    const std::size_t segment = findIndexSegment(data, size);
    if (segment == kNotFound)
        return {};
    // The length counts itself and the identifier; findIndexSegment saw both.
    const std::size_t length = std::size_t(data[segment + 2]) << 8 | data[segment + 3];
    if (length > size - segment - 2)
        refuse();
    const std::size_t header = segment + 4 + sizeof kIndexId;
    const IndexReader index = readerOf(data + header, length - 2 - sizeof kIndexId);

    // The IFD's field count is bounded by the segment it must fit in (at
    // most 5460 fields), and so is the picture count (at most 4095 entries)
    // before anything is allocated for them.
    const std::uint64_t ifd = index.u32(4);
    if (!index.holds(ifd, 2))
        refuse();
    const std::uint32_t fields = index.u16(ifd);
    if (!index.holds(ifd + 2, std::uint64_t(fields) * kFieldBytes))
        refuse();
    std::uint64_t entries = 0;
    std::uint32_t entryBytes = 0;
    bool counted = false;
    std::uint32_t numberOfImages = 0;
    for (std::uint32_t i = 0; i < fields; ++i) {
        const std::size_t field = ifd + 2 + i * kFieldBytes;
        const std::uint32_t tag = index.u16(field);
        const std::uint32_t type = index.u16(field + 2);
        const std::uint32_t count = index.u32(field + 4);
        const std::uint32_t value = index.u32(field + 8);
        if (tag == kTagEntries && entryBytes == 0) {
            if (type != kTypeUndefined || count == 0 || count % kEntryBytes != 0 || !index.holds(value, count))
                refuse();
            entries = value;
            entryBytes = count;
        } else if (tag == kTagNumberOfImages) {
            if (type != kTypeLong || count != 1)
                refuse();
            counted = true;
            numberOfImages = value;
        }
    }
    if (entryBytes == 0)
        refuse("The multi-picture index lists no pictures");
    const std::size_t pictures = entryBytes / kEntryBytes;
    if (counted && numberOfImages != pictures)
        refuse();

    std::vector<PictureRange> ranges;
    ranges.reserve(pictures);
    for (std::size_t i = 0; i < pictures; ++i) {
        const std::size_t entry = std::size_t(entries) + i * kEntryBytes;
        const std::uint64_t bytes = index.u32(entry + 4);
        const std::uint64_t offset = index.u32(entry + 8);
        if (i == 0 && offset != 0)
            refuse();
        if (bytes < 2)
            refuse();
        const std::uint64_t start = i == 0 ? 0 : header + offset;
        if (start > size || bytes > size - start)
            refuse("The multi-picture index points past the end of the file");
        if (data[start] != 0xFF || data[start + 1] != 0xD8)
            refuse("The multi-picture index points at something that is not a JPEG picture");
        ranges.push_back({ std::size_t(start), std::size_t(bytes) });
    }
    return ranges;
}

namespace {

// The most decodeJpeg may hold beyond a picture's own bytes while it decodes
// them: it refuses anything more.
std::uint64_t decodeCeiling(const PictureRange& range) { return openingBudget(range.size) - range.size; }

// Each decode is held to the rule for its own bytes, which grants it the
// fixed allowance; two of them would grant it twice. The pair is held to the
// rule for the whole file instead: the file, the first picture and the
// second's decode at its largest must fit the file's budget together.
[[noreturn]] void refusePair(std::size_t fileSize)
{
    throw EPictureError("The two pictures are too large for a file of " + std::to_string(fileSize) + " bytes");
}

bool bothDecodesFit(std::size_t fileSize, const PictureRange& left, const PictureRange& right)
{
    return std::uint64_t(fileSize) + decodeCeiling(left) + decodeCeiling(right) <= openingBudget(fileSize);
}

} // namespace

StereoFrames decodeBothAtOnce(const std::function<TBitmap()>& decodeLeft, const std::function<TBitmap()>& decodeRight)
{
    StereoFrames frames;
    bothAtOnce([&] { frames.left = decodeLeft(); }, [&] { frames.right = decodeRight(); });
    return frames;
}

StereoRanges stereoPictureRanges(const std::uint8_t* data, std::size_t size)
{
    const std::vector<PictureRange> ranges = multiPictureRanges(data, size);
    if (ranges.empty())
        throw EPictureError("The file has no multi-picture index");
    if (ranges.size() < 2)
        throw EPictureError("The file holds fewer than two pictures");
    return { ranges[0], ranges[1] };
}

StereoFrames decodeMultiPicturePair(const std::uint8_t* data, std::size_t size, int threads)
{
    const StereoRanges ranges = stereoPictureRanges(data, size);
    const PictureRange& left = ranges.left;
    const PictureRange& right = ranges.right;
    if (threads > 1 && bothDecodesFit(size, left, right))
        return decodeBothAtOnce([&] { return decodeJpeg(data + left.offset, left.size); },
            [&] { return decodeJpeg(data + right.offset, right.size); });
    StereoFrames frames;
    frames.left = decodeJpeg(data + left.offset, left.size);
    checkSecondPicture(size, frames.left.width(), frames.left.height(), right);
    frames.right = decodeJpeg(data + right.offset, right.size);
    return frames;
}

void checkSecondPicture(std::size_t fileSize, int leftWidth, int leftHeight, const PictureRange& right)
{
    const std::uint64_t leftBytes = std::uint64_t(std::max(leftWidth, 0)) * std::uint64_t(std::max(leftHeight, 0)) * 4;
    if (std::uint64_t(fileSize) + leftBytes + decodeCeiling(right) > openingBudget(fileSize))
        refusePair(fileSize);
}

StereoFrames splitSideBySide(const TBitmap& picture, SideBySide layout)
{
    if (picture.empty() || picture.width() < 2)
        throw EPictureError("A side-by-side picture must be at least 2 pixels wide (this one is "
            + pictureSizeText(picture.width(), picture.height()) + ")");
    const int half = picture.width() / 2;
    const int height = picture.height();
    TBitmap first, second;
    first.allocateUninitialized(half, height);
    second.allocateUninitialized(half, height);
    const std::size_t rowBytes = std::size_t(half) * sizeof(std::uint32_t);
    const int secondStart = picture.width() - half;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = picture.scanLine(y);
        std::memcpy(first.scanLine(y), row, rowBytes);
        std::memcpy(second.scanLine(y), row + secondStart, rowBytes);
    }
    StereoFrames frames;
    frames.left = std::move(layout == SideBySide::Parallel ? first : second);
    frames.right = std::move(layout == SideBySide::Parallel ? second : first);
    return frames;
}
