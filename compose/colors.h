// Colour values shared by the whole program: a 32-bit value holding red in
// bits 0..7, green in 8..15 and blue in 16..23.
#pragma once

#include <cstdint>

using TColor = std::uint32_t;

// No colour at all: what a read outside a bitmap yields. Its channel bytes
// each read as 255, so such a read behaves as white in arithmetic.
inline constexpr TColor CLR_INVALID = 0xFFFFFFFFu;

constexpr TColor RGB(int r, int g, int b)
{
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}

constexpr int GetRValue(TColor c) { return int(c & 0xFF); }
constexpr int GetGValue(TColor c) { return int((c >> 8) & 0xFF); }
constexpr int GetBValue(TColor c) { return int((c >> 16) & 0xFF); }

inline constexpr TColor clBlack = RGB(0, 0, 0);
inline constexpr TColor clWhite = RGB(255, 255, 255);
inline constexpr TColor clRed = RGB(255, 0, 0);
inline constexpr TColor clAqua = RGB(0, 255, 255);
inline constexpr TColor clGreen = RGB(0, 128, 0);
inline constexpr TColor clNavy = RGB(0, 0, 128);

// Colours of the desktop's scheme, resolved when drawn: top bit set, index in
// the low byte.
inline constexpr TColor clBtnFace = 0xFF00000Fu;
inline constexpr TColor clWindowText = 0xFF000008u;

constexpr bool isSchemeColor(TColor c) { return (c & 0x80000000u) != 0 && c != CLR_INVALID; }

// Pixels are stored as 0xFFRRGGBB words, the layout that Qt paints without
// conversion. These two convert between a stored pixel and a TColor.
constexpr std::uint32_t pixelFromColor(TColor c)
{
    return 0xFF000000u | (std::uint32_t(GetRValue(c)) << 16) | (std::uint32_t(GetGValue(c)) << 8)
        | std::uint32_t(GetBValue(c));
}

constexpr TColor colorFromPixel(std::uint32_t p)
{
    return RGB(int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF));
}
