// The help text of orvanta-compose, written to serve as its manual.
#include "options.h"

const char* composeHelpText()
{
    return R"(Usage: orvanta-compose [OPTIONS] LEFT RIGHT -o OUT
       orvanta-compose [OPTIONS] STEREO.mpo -o OUT
       orvanta-compose [OPTIONS] --sbs parallel|cross PICTURE -o OUT
       orvanta-compose [OPTIONS] STEREO.jps -o OUT
       orvanta-compose [OPTIONS] --batch DIR -o OUTDIR
       orvanta-compose --align=print LEFT RIGHT

Builds a red/cyan anaglyph from the left-eye and the right-eye frame of one
scene: red from the left frame, green and blue from the right one, cropped to
where the two frames overlap. With the default settings the result is the
same file, byte for byte, as Build and then "Save anaglyph" in the Orvanta
window with the same frames and settings.

Inputs are JPEG, BMP or PNG files, told apart by their content. A PNG file
may be grey, palette or RGB, with 8 or 16 bits a channel, interlaced or not;
16-bit samples are rounded to 8 bits, and where it has transparency (an
alpha channel or tRNS) it is laid over white, the window's fill colour, as
an anaglyph has no transparency. One MPO file (the
multi-picture JPEG of stereo cameras) gives both frames: its first picture is
the left frame and its second the right one. A side-by-side picture is split
in two with --sbs; a .jps file (the side-by-side JPEG of stereo cameras and
viewers) is split without it, its left half taken for the right eye, as
such files are stored for cross-eyed viewing.

OUT's extension chooses the format: .jpg or .jpeg writes a baseline JPEG at
quality 100, as the window saves it; .bmp an uncompressed 24-bit BMP; .png a
lossless 24-bit PNG (not interlaced). The file
is written under a temporary name, flushed to the disk and put in place only
when complete, so a failed or interrupted run (Ctrl-C, SIGTERM, SIGHUP) never
leaves a partial file, and an older file of that name stays as it was. An
output that is one of the run's inputs (by another name, a symbolic or a hard
link included) is refused before anything is read.

Composition:
  --dx N, --dy N     offsets of the right frame against the left, -10000..10000
                     (default 0): left pixel (x, y) meets right pixel
                     (x - dx, y - dy), as in the window's offset fields
  --swap             exchange the roles of the frames, as the window's swap box
                     (the offsets are taken as given, not negated)
  --gains R,G,B      channel gains 0..255 for the glasses (default 255,255,255)
  --block N          1 (default) builds every pixel; 2..50 builds the window's
                     preview in N x N squares
  --method NAME      colour or color (default): the window's composition
                     half-colour or half-color: red from the left frame's
                       grey, less rivalry on red objects
                     grey or gray: both eyes in grey, no colour, least rivalry
                     dubois: least-squares red/cyan matrices in linear light,
                       the least ghosting with colour kept
                     Names are read in any letter case ("Dubois").

Alignment:
  --align            line up a hand-held pair: from features matched between
                     the frames, find the right frame's roll, size change and
                     vertical offset against the left one, warp it (bicubic)
                     so that every feature lies on the same row in both, and
                     crop both to the largest rectangle they both cover, so
                     no empty corners show. Horizontal disparity is depth and
                     is kept. Reports what it found on standard error, for
                     a pair taken 1.5 degrees turned and 2 % nearer:
  l.jpg, r.jpg: roll -1.50 degrees, size +2.00 %, 1904 matches
    vertical disparity (median, 90th percentile): 23.04 px, 92.11 px before; 0.18 px, 0.45 px after
    horizontal parallax: +0.00 % (nearest) to +0.03 % (farthest) of the width
                     and warns when the parallax range passes 1/30 of the
                     width, a common limit of comfortable viewing
  --align=perspective
                     the same, and the keystone of a camera turned between
                     the shots
  --align=shift      one translation only, by phase correlation on reduced
                     grey copies: exact for a rigid stereo camera; prints the
                     offsets and builds with them; the screen plane at the
                     dominant depth
  --align=print      only print "dx dy", to type into the window's fields,
                     when a translation lines the pair up (the correction
                     moves no corner by more than half a pixel beyond it);
                     otherwise the pair fails, saying the roll and size
                     change it needs; writes no file (no -o); with --json
                     only the JSON line
  --window near      with --align, =perspective or =print: the nearest
                     content at the screen plane, so nothing stands out in
                     front of the picture's edges (default)
  --window dominant  the depth most of the picture shares at the screen plane
  Nothing is guessed: a pair fails with "cannot align ...: " and the reason
  when its frames have too little detail in common, too few features agree
  on one correction, or the correction would roll the frame by more than 10
  degrees or change its size by more than 15 %.

Stereo files:
  --sbs parallel     one side-by-side picture: left half for the left eye
  --sbs cross        left half for the right eye (cross-eyed viewing)
                     An MPO file already holds both views and is refused with
                     --sbs. Given with a .jps file, --sbs chooses its order.
  --half             each half was squeezed to half the width (as 3-D
                     televisions and video take them): stretch both back to
                     the full width, bicubic, before composing; with --sbs or
                     a .jps file, and in a batch for the pictures it splits

Output:
  -o, --output PATH  the anaglyph file; with --batch the folder to write into,
                     which is made when missing
  --quality N        JPEG quality 1..100 (default 100)
  --chroma 444|420   JPEG colour resolution: 420 (default, as the window) keeps
                     colour at half resolution both ways; 444 keeps it whole,
                     which keeps the red/cyan edges that carry the depth sharp
                     for a larger file

Batches:
  --batch DIR        build every pair found in DIR: NAME_L/NAME_R,
                     NAME_l/NAME_r, NAME_f1/NAME_f2 (as the window's three-file
                     save names them), single NAME.mpo files and NAME.jps
                     files, each with a .jpg, .jpeg, .bmp, .png, .mpo or .jps
                     extension; writes OUTDIR/NAME.jpg. With --sbs, every
                     other picture in DIR is split as a side-by-side picture
                     in that layout (put the outputs in another folder, or a
                     later run splits them too)
  --format jpg|bmp|png
                     what a batch writes (default jpg)
  -j, --jobs N       pairs built at once (default: one per core)
  A bad pair is reported and the batch goes on. A progress bar is shown when
  standard error is a terminal, never otherwise. The run ends with a summary.

Reporting:
  --json             one JSON object per pair on standard output: inputs,
                     output (null when no file was written), dx, dy (the
                     offsets built with), aligned (true when the offsets or
                     the correction were estimated), method, ms, error (null
                     when it worked), correction (null unless --align,
                     =perspective or =print lined the pair up:
                     rotation_degrees, scale_percent, matches,
                     vertical_before and vertical_after as {median, p90} in
                     pixels, parallax_near_percent, parallax_far_percent,
                     parallax_warning, crop as [x, y, width, height] of the
                     left frame)
  -h, --help         this text
  --version          the version

Memory:
  A pair streams: both frames are decoded row by row at once, each row of
  the anaglyph is composed as soon as its rows of both frames exist and goes
  straight to the encoder, so a pair holds a few hundred rows of each frame,
  not whole frames (a 24-megapixel pair about 25 MB). Two files and a
  side-by-side picture are read piece by piece, an MPO file whole. That
  holds for two files, MPO files and side-by-side pictures, every method,
  block, offset and output format. JPEG frames stream as they are
  decoded (a progressive one keeps its coefficients, 3 to 6 bytes a pixel,
  as its decoder must); BMP and PNG frames are decoded whole first. --align
  and =perspective find the correction on copies the JPEG decoder makes at
  a half, a quarter or an eighth of the size, then warp the right frame in
  the stream through a window of the rows its roll spans (a few hundred),
  and --align=print decodes nothing but those copies; --half stretches
  each half's rows back as they come. What keeps whole frames:
  --align=shift, --align with --sbs or a .jps file, and --align on BMP or
  PNG frames.

Exit status: 0 when every pair was written, 1 when any failed, 2 for a command
line that cannot be run. Errors go to standard error with the file's name.

Examples:
  orvanta-compose left.jpg right.jpg -o anaglyph.jpg
  orvanta-compose left.jpg right.jpg --dx 12 --dy -3 --gains 255,230,230 -o a.bmp
  orvanta-compose trip.mpo --method dubois --chroma 444 -o trip.jpg
  orvanta-compose --align=print left.jpg right.jpg
  orvanta-compose --batch holiday/ -o anaglyphs/ --align --json > report.jsonl
)";
}
