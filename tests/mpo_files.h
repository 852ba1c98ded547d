// Multi-picture files for the tests and the fuzzer's seeds: JPEG files
// chained behind a first one that carries the index, laid out as stereo
// cameras write them, with the index's fields at known places so a test can
// damage any of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mpofiles {

using Bytes = std::vector<std::uint8_t>;

// The index segment goes right after the first picture's SOI: FF E2, its
// length, "MPF\0", then the TIFF structure from kHeaderAt on. Its IFD (at 8)
// holds three fields, the version, the picture count and the entries, then
// the offset of a next IFD (0) and the entries at 50.
constexpr std::size_t kSegmentAt = 2;
constexpr std::size_t kHeaderAt = kSegmentAt + 8;
constexpr std::size_t kIfd = 8;
constexpr std::size_t kFields = 3;
constexpr std::size_t kEntries = kIfd + 2 + kFields * 12 + 4;

// Where field i of the IFD and picture entry k lie in the file.
constexpr std::size_t fieldAt(std::size_t i) { return kHeaderAt + kIfd + 2 + 12 * i; }
constexpr std::size_t entryAt(std::size_t k) { return kHeaderAt + kEntries + 16 * k; }

// Writes an unsigned value of `bytes` bytes at `at` in the given byte order.
inline void put(Bytes& file, std::size_t at, std::uint32_t value, int bytes, bool littleEndian)
{
    for (int i = 0; i < bytes; ++i) {
        const int shift = littleEndian ? 8 * i : 8 * (bytes - 1 - i);
        file[at + std::size_t(i)] = std::uint8_t(value >> shift);
    }
}

// The pictures (each a whole JPEG file) chained into one multi-picture file,
// with `gap` zero bytes between consecutive pictures that no entry covers.
inline Bytes withIndex(const std::vector<Bytes>& pictures, bool littleEndian, std::size_t gap = 0)
{
    const std::size_t headerBytes = kEntries + 16 * pictures.size();
    const std::size_t segmentBytes = 8 + headerBytes;
    Bytes file(pictures[0].begin(), pictures[0].begin() + 2);
    file.resize(segmentBytes + 2);
    const auto u16 = [&](std::size_t at, std::uint32_t v) { put(file, at, v, 2, littleEndian); };
    const auto u32 = [&](std::size_t at, std::uint32_t v) { put(file, at, v, 4, littleEndian); };
    file[kSegmentAt] = 0xFF;
    file[kSegmentAt + 1] = 0xE2;
    put(file, kSegmentAt + 2, std::uint32_t(segmentBytes - 2), 2, false);
    const std::uint8_t id[4] = { 'M', 'P', 'F', 0 };
    std::copy(id, id + 4, file.begin() + long(kSegmentAt + 4));
    const std::uint8_t order[4] = { std::uint8_t(littleEndian ? 'I' : 'M'), std::uint8_t(littleEndian ? 'I' : 'M'),
        std::uint8_t(littleEndian ? 0x2A : 0), std::uint8_t(littleEndian ? 0 : 0x2A) };
    std::copy(order, order + 4, file.begin() + long(kHeaderAt));
    u32(kHeaderAt + 4, kIfd);
    u16(kHeaderAt + kIfd, kFields);
    u16(fieldAt(0), 0xB000); // version "0100"
    u16(fieldAt(0) + 2, 7);
    u32(fieldAt(0) + 4, 4);
    std::copy_n("0100", 4, file.begin() + long(fieldAt(0) + 8));
    u16(fieldAt(1), 0xB001); // number of pictures
    u16(fieldAt(1) + 2, 4);
    u32(fieldAt(1) + 4, 1);
    u32(fieldAt(1) + 8, std::uint32_t(pictures.size()));
    u16(fieldAt(2), 0xB002); // the entries
    u16(fieldAt(2) + 2, 7);
    u32(fieldAt(2) + 4, std::uint32_t(16 * pictures.size()));
    u32(fieldAt(2) + 8, std::uint32_t(kEntries));
    file.insert(file.end(), pictures[0].begin() + 2, pictures[0].end());
    for (std::size_t k = 0; k < pictures.size(); ++k) {
        if (k > 0) {
            file.insert(file.end(), gap, std::uint8_t(0));
            u32(entryAt(k) + 8, std::uint32_t(file.size() - kHeaderAt));
            file.insert(file.end(), pictures[k].begin(), pictures[k].end());
        }
        // Multi-frame disparity pictures; the first is the representative one.
        u32(entryAt(k), k == 0 ? 0x20020002u : 0x00020002u);
        u32(entryAt(k) + 4, std::uint32_t(k == 0 ? pictures[0].size() + segmentBytes : pictures[k].size()));
    }
    return file;
}

} // namespace mpofiles
