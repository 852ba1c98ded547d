#include "methods.h"

#include "errors.h"
#include "parallel.h"

#include <algorithm>
#include <vector>

bool parseAnaglyphMethod(std::string_view name, AnaglyphMethod& out)
{
    static constexpr struct {
        std::string_view name;
        AnaglyphMethod method;
    } names[] = {
        { "colour", AnaglyphMethod::Colour },
        { "color", AnaglyphMethod::Colour },
        { "half-colour", AnaglyphMethod::HalfColour },
        { "half-color", AnaglyphMethod::HalfColour },
        { "grey", AnaglyphMethod::Grey },
        { "gray", AnaglyphMethod::Grey },
        { "dubois", AnaglyphMethod::Dubois },
    };
    // People write the names as they write words: "Dubois", "GREY".
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
            return lower(x) == lower(y);
        });
    };
    for (const auto& n : names)
        if (sameLetters(n.name, name)) {
            out = n.method;
            return true;
        }
    return false;
}

const char* anaglyphMethodName(AnaglyphMethod method)
{
    switch (method) {
    case AnaglyphMethod::Colour:
        return "colour";
    case AnaglyphMethod::HalfColour:
        return "half-colour";
    case AnaglyphMethod::Grey:
        return "grey";
    case AnaglyphMethod::Dubois:
        return "dubois";
    }
    return "colour";
}

TBitmap composeAnaglyph(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& settings, int threads)
{
    if (frame1.width() != frame2.width() || frame1.height() != frame2.height())
        throw EOrvantaError("Frames have not equal size! Anaglyph cannot be builded!");
    TBitmap out;
    if (frame1.empty())
        return out;
    const CompositionPlan plan = planComposition(frame1, frame2, settings);
    if (plan.keep.empty()) {
        out.setSize(plan.keep.width, plan.keep.height);
        return out;
    }
    // Every pixel of the overlap is written, band by band.
    out.allocateUninitialized(plan.keep.width, plan.keep.height);
    forBands(renderBandCount(plan), std::max(threads, 1),
        [&](int first, int end) { renderBands(plan, first, end, out); });
    return out;
}
