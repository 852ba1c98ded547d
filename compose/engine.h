// The composition engine shared by the window's builder, orvanta-compose and
// the benchmark. Composing is split in two: a plan decides once everything a
// composition needs (which frame feeds which channel, the method and its
// gains, the block grid, the overlap the picture keeps), and the compute
// steps then render rows or runs of blocks of that plan, each method through
// its one pixel kernel. Callers only decide how the work is cut up: the
// window in paced runs of blocks between its events, the command line in
// bands on several threads.
#pragma once

#include "anaglyph.h"
#include "bitmap.h"

#include <cstdint>
#include <memory>

enum class AnaglyphMethod {
    Colour, // red from the left frame, green and blue from the right: the window's
    HalfColour, // red from the left frame's grey, green and blue from the right
    Grey, // red from the left frame's grey, green and blue from the right's grey
    Dubois, // least-squares red/cyan matrices, in linear light
};

// Everything one composition of two frames of the same size reads.
struct ComposeSettings {
    int dx = 0;
    int dy = 0;
    bool swap = false;
    Gains gains;
    AnaglyphMethod method = AnaglyphMethod::Colour;
    int block = 1; // 1 for Build; 2.. for the window's Preview squares
};

struct CompositionPlan {
    AnaglyphMethod method = AnaglyphMethod::Colour;
    int step = 1; // block step, >= 1
    // The working bitmap: the frames' size, walked in blockRows x
    // blockColumns blocks (blocksAlong), and the part of it the picture keeps.
    int width = 0;
    int height = 0;
    int blockRows = 0;
    int blockColumns = 0;
    Overlap keep;

    // The sources, as updateSources last set them. A block at working pixel
    // (x, y) reads red at (x, y) and cyan at (x - dx, y - dy), and is painted
    // only when that shifted point lies inside boundWidth x boundHeight.
    const TBitmap* red = nullptr;
    const TBitmap* cyan = nullptr;
    int boundWidth = 0;
    int boundHeight = 0;
    int dx = 0;
    int dy = 0;
    Gains gains;
    // Dubois only: the sRGB encoding table with each channel's gain folded
    // in, made when the plan is and again when the gains change.
    std::shared_ptr<const std::uint8_t[]> gainedEncoding;
};

// A build over a working bitmap of W x H with block step `step` (held to at
// least 1), reading in (the frames may differ from the W x H view when the
// window's pictures were replaced meanwhile).
CompositionPlan planBuild(const BlockInputs& in, int W, int H, int step, AnaglyphMethod method = AnaglyphMethod::Colour);
// The composition of two frames of the same size, the working bitmap theirs.
CompositionPlan planComposition(const TBitmap& frame1, const TBitmap& frame2, const ComposeSettings& settings);
// Takes the frames, offsets, swap and gains of in, for the runs that follow;
// the grid and the overlap stay as planned.
void updateSources(CompositionPlan& plan, const BlockInputs& in);

// The window's way: paints the blocks of one row of blocks, origin y,
// columns cFirst..cLast (both included, origins x = c * step) into the
// working bitmap work. Blocks whose shifted point lies outside the bounds
// are left as they are; squares are clipped to work. A read outside a source
// bitmap counts as a pixel with every channel 255, so that frames replaced
// in the middle of a build still give a picture. Any split of a row into runs
// paints the same.
void renderBlockRun(const CompositionPlan& plan, int y, int cFirst, int cLast, TBitmap& work);

// Straight into the kept picture: out is keep.width x keep.height and the
// frames are the plan's size. Its rows are cut into renderBandCount bands
// (pixel rows for step 1, rows of blocks for larger steps); renderBands
// writes every pixel of bands first..end - 1 and of no other, so bands may be
// rendered on threads of their own. With a block step a square whose shifted
// point falls outside the frame is white, as in the working bitmap.
int renderBandCount(const CompositionPlan& plan);
void renderBands(const CompositionPlan& plan, int first, int end, TBitmap& out);

// Row by row, for a caller that never holds whole frames: kept row j (0 ..
// keep.height - 1) reads row `red` of the red source and row `cyan` of the
// cyan one, each a whole row of the frames' width (which frame is red
// follows the settings' swap); cyan is -1 when the row is white (a block
// step's squares whose shifted point lies above or below the frame). As j
// grows neither index goes down.
struct SourceRows {
    int red;
    int cyan;
};
SourceRows sourceRowsOf(const CompositionPlan& plan, int j);
// Writes kept row j (keep.width words) from the rows sourceRowsOf(plan, j)
// names; cyan is null when it names none. The same pixels as renderBands.
void renderRow(const CompositionPlan& plan, const std::uint32_t* red, const std::uint32_t* cyan, std::uint32_t* out);
// The composition of two frames of width x height that the caller will
// hand over row by row; the plan's red and cyan stay null.
CompositionPlan planStream(int width, int height, const ComposeSettings& settings);
