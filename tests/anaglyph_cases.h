// Anaglyphs of two patterned 100 x 80 frames for a handful of settings, each
// with the places its pixels come from written out, for checking a build by
// any route: through the window's controls or through the core functions.
#pragma once

#include "compose/anaglyph.h"
#include "fixtures.h"

#include <QString>

#include <iterator>

inline constexpr int kCaseFrameWidth = 100;
inline constexpr int kCaseFrameHeight = 80;

inline TBitmap caseFrame1() { return patterned(kCaseFrameWidth, kCaseFrameHeight, 1); }
inline TBitmap caseFrame2() { return patterned(kCaseFrameWidth, kCaseFrameHeight, 2); }

struct AnaglyphCase {
    const char* name;
    int dx;
    int dy;
    bool swap;
    Gains gains;
    int step; // 1 builds, more previews
    int width; // the anaglyph's size
    int height;
    // With step 1, pixel (i, j) takes red from the red frame (frame 1, or
    // frame 2 when swapped) at (i + redX, j + redY), and green and blue from
    // the other frame at (i + cyanX, j + cyanY).
    int redX;
    int redY;
    int cyanX;
    int cyanY;
};

// With a step above 1, pixel (i, j) lies on working pixel (i + redX,
// j + redY); it takes the colour that step 1 gives the top-left pixel of the
// s x s block around it, and stays white when that pixel falls outside the
// anaglyph (the block's shifted point lies outside frame 1).
inline const AnaglyphCase kAnaglyphCases[] = {
    { "no offset", 0, 0, false, {}, 1, 100, 80, 0, 0, 0, 0 },
    { "offset 5,-3", 5, -3, false, {}, 1, 95, 77, 5, 0, 0, 3 },
    { "offset -5,3 swapped", -5, 3, true, {}, 1, 95, 77, 0, 3, 5, 0 },
    { "offset -7,2, gains 200,128,77", -7, 2, false, { 200, 128, 77 }, 1, 93, 78, 0, 2, 7, 0 },
    { "offset 4,6 swapped, gains 0,255,31", 4, 6, true, { 0, 255, 31 }, 1, 96, 74, 4, 6, 0, 0 },
    { "preview step 4, offset 3,0", 3, 0, false, {}, 4, 97, 80, 3, 0, 0, 0 },
    { "preview step 7, offset -7,5 swapped", -7, 5, true, {}, 7, 93, 75, 0, 5, 7, 0 },
};

inline TColor expectedCasePixel(const AnaglyphCase& c, const TBitmap& frame1, const TBitmap& frame2, int i, int j)
{
    if (c.step > 1) {
        i = originOfBlockHolding(i + c.redX, c.step) - c.redX;
        j = originOfBlockHolding(j + c.redY, c.step) - c.redY;
        if (i < 0 || j < 0 || i >= c.width || j >= c.height)
            return clWhite;
    }
    const TColor red = (c.swap ? frame2 : frame1).pixel(i + c.redX, j + c.redY);
    const TColor cyan = (c.swap ? frame1 : frame2).pixel(i + c.cyanX, j + c.cyanY);
    return RGB(c.gains.r * GetRValue(red) / 255, c.gains.g * GetGValue(cyan) / 255,
        c.gains.b * GetBValue(cyan) / 255);
}

// Empty when the anaglyph is the case's, else what differs first.
inline QString caseDifference(const AnaglyphCase& c, const TBitmap& anaglyph, const TBitmap& frame1,
    const TBitmap& frame2)
{
    if (anaglyph.width() != c.width || anaglyph.height() != c.height)
        return QStringLiteral("the anaglyph is %1 x %2, expected %3 x %4")
            .arg(anaglyph.width())
            .arg(anaglyph.height())
            .arg(c.width)
            .arg(c.height);
    for (int j = 0; j < c.height; ++j)
        for (int i = 0; i < c.width; ++i) {
            const TColor want = expectedCasePixel(c, frame1, frame2, i, j);
            const TColor got = anaglyph.pixel(i, j);
            if (got != want)
                return QStringLiteral("pixel (%1, %2) is RGB(%3, %4, %5), expected RGB(%6, %7, %8)")
                    .arg(i)
                    .arg(j)
                    .arg(GetRValue(got))
                    .arg(GetGValue(got))
                    .arg(GetBValue(got))
                    .arg(GetRValue(want))
                    .arg(GetGValue(want))
                    .arg(GetBValue(want));
        }
    return {};
}

// One data row per case, by index, for the tests' _data functions.
inline void addAnaglyphCaseRows()
{
    QTest::addColumn<int>("index");
    for (int k = 0; k < int(std::size(kAnaglyphCases)); ++k)
        QTest::newRow(kAnaglyphCases[k].name) << k;
}
