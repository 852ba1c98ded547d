#include "cases.h"

#include "app/form.h"
#include "app/widgets.h"
#include "bare_jpeg.h"
#include "compose_cases.h"
#include "compose/anaglyph.h"
#include "compose/methods.h"
#include "widgets/spinedit.h"
#include "frames.h"
#include "handheld.h"
#include "huge_pair.h"
#include "peers.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "support.h"

#include <QFile>
#include <QPushButton>

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace bench {

namespace {

// What a case needs prepared before it is timed.
enum Need : unsigned {
    kWindowFrames = 1, // the two frames in the window
    kLeftJpeg = 2, // the left picture as a JPEG file
    kRightJpeg = 4,
    kLeftBmp = 8,
    kLeftPpm = 16,
    kSource = 32, // the left picture in memory
    kComposeBatch = 64, // a folder of pairs linked to the two JPEG files
    kHandheldPair = 128, // a photograph as two hand-held shots, as JPEG files
    kHugePair = 256, // the 200-megapixel pair as JPEG files
};

// The hand-held pair is saved as a camera would save it, not at the
// quality 100 the other generated files get.
constexpr int kHandheldQuality = 95;

// A round trip of the generated pictures through a JPEG file at quality 100
// differs by about 0.6 in luma and by up to 21 in red on average (the noise
// in the colour is averaged over 2x2 pixels); a picture flipped, shifted by a
// pixel or with red and blue swapped differs by 8 or more in luma.
constexpr double kJpegLumaMean = 2.0;
constexpr double kJpegChannelMean = 30.0;

bool isJpegFile(const std::string& path)
{
    std::uint8_t head[3] = {};
    std::size_t n = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    }
    return looksLikeJpeg(head, n);
}

off_t fileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TBitmap leftPicture(const Bench& b)
{
    return b.options.left.empty() ? makeFrame(b.size.width, b.size.height, 2) : loadPictureFile(b.options.left);
}

TBitmap rightPicture(const Bench& b)
{
    return b.options.right.empty() ? makeFrame(b.size.width, b.size.height, 3) : loadPictureFile(b.options.right);
}

std::string sizeText(const TBitmap& p) { return std::to_string(p.width()) + "x" + std::to_string(p.height()); }

// A picture read back must be the one written: exactly, or as near as a
// JPEG file keeps it.
void checkPicture(const TBitmap& got, const TBitmap& want, bool jpeg, const char* what)
{
    const std::string diff
        = jpeg ? comparePictures(got, want, kJpegLumaMean, kJpegChannelMean) : comparePictures(got, want, 0, 0);
    if (!diff.empty())
        throw BenchFailure(std::string(what) + ": " + diff);
}

TBitmap decodeWrittenJpeg(const std::string& path, const char* who)
{
    try {
        const std::vector<std::uint8_t> bytes = readWholeFile(path);
        return decodeJpeg(bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        throw BenchFailure(std::string(who) + " wrote a file that does not decode: " + e.what());
    }
}

} // namespace

// The picture in a JPEG file some program wrote must at least be one of the
// expected size.
void checkJpegFile(const std::string& path, const SizeSpec& size, const char* who)
{
    const TBitmap p = decodeWrittenJpeg(path, who);
    if (p.width() != size.width || p.height() != size.height)
        throw BenchFailure(std::string(who) + " wrote a " + sizeText(p) + " picture, expected "
            + std::to_string(size.width) + "x" + std::to_string(size.height));
}

void checkCroppedJpegFile(
    const std::string& path, const SizeSpec& size, double minFraction, bool mustCrop, const char* who)
{
    const TBitmap p = decodeWrittenJpeg(path, who);
    const bool fits = mustCrop ? p.width() < size.width && p.height() < size.height
                               : p.width() <= size.width && p.height() <= size.height;
    const bool enough = p.width() >= minFraction * size.width && p.height() >= minFraction * size.height;
    if (!fits || !enough) {
        char limits[128];
        std::snprintf(limits, sizeof limits, "expected %s %dx%d and at least %.0f%% of each side",
            mustCrop ? "less than" : "at most", size.width, size.height, minFraction * 100);
        throw BenchFailure(std::string(who) + " wrote a " + sizeText(p) + " picture, " + limits);
    }
}

unsigned needsOf(Case id)
{
    switch (id) {
    case Case::Reference:
    case Case::Build:
    case Case::Preview4:
    case Case::BuildLiteral:
        return kWindowFrames;
    case Case::OpenJpeg:
        return kLeftJpeg | kSource;
    case Case::OpenBmp:
        return kLeftBmp | kSource;
    case Case::SaveJpeg:
    case Case::SaveBmp:
        return kSource;
    case Case::WholeJob:
    case Case::ImageMagick:
    case Case::Ffmpeg:
        return kLeftJpeg | kRightJpeg;
    case Case::Djpeg:
        return kLeftJpeg;
    case Case::Cjpeg:
        return kLeftPpm;
    case Case::Floor:
    case Case::ComposePair:
    case Case::ComposeDubois:
        return kLeftJpeg | kRightJpeg;
    case Case::ComposeBatch8:
    case Case::ComposeBatch8Serial:
        return kLeftJpeg | kRightJpeg | kComposeBatch;
    case Case::ComposeHandheld:
    case Case::ComposeAlign:
        return kHandheldPair;
    case Case::ComposeHuge:
        return kHugePair;
    }
    return 0;
}

void prepare(Bench& b, unsigned needs)
{
    Material& m = b.material;
    m = Material {};
    const bool userPair = !b.options.left.empty();
    // The user's pair is taken as it is: it may well be a hand-held one.
    if ((needs & kHandheldPair) && userPair)
        needs = (needs & ~unsigned(kHandheldPair)) | kLeftJpeg | kRightJpeg;
    if ((needs & kLeftJpeg) && userPair && isJpegFile(b.options.left)) {
        m.leftJpeg = b.options.left;
        needs &= ~unsigned(kLeftJpeg);
    }
    if ((needs & kRightJpeg) && userPair && isJpegFile(b.options.right)) {
        m.rightJpeg = b.options.right;
        needs &= ~unsigned(kRightJpeg);
    }
    if (needs & (kWindowFrames | kLeftJpeg | kLeftBmp | kLeftPpm | kSource)) {
        TBitmap left = leftPicture(b);
        if (needs & kLeftJpeg) {
            m.leftJpeg = b.folder + "left.jpg";
            savePicture(m.leftJpeg, encodeJpeg, left);
        }
        if (needs & kLeftBmp) {
            m.leftBmp = b.folder + "left.bmp";
            savePicture(m.leftBmp, encodeBmp, left);
        }
        if (needs & kLeftPpm) {
            m.leftPpm = b.folder + "left.ppm";
            savePicture(m.leftPpm, encodePpm, left);
        }
        if (needs & kWindowFrames)
            b.form->Image2->setPicture(needs & kSource ? copyOf(left) : std::move(left)); // frame 1
        if (needs & kSource)
            m.source = std::move(left);
    }
    if (needs & (kWindowFrames | kRightJpeg)) {
        TBitmap right = rightPicture(b);
        if (needs & kRightJpeg) {
            m.rightJpeg = b.folder + "right.jpg";
            savePicture(m.rightJpeg, encodeJpeg, right);
        }
        if (needs & kWindowFrames)
            b.form->Image1->setPicture(std::move(right)); // frame 2
    }
    if (needs & kComposeBatch)
        m.batchFolder = makeComposeBatch(b.folder, m.leftJpeg, m.rightJpeg);
    if (userPair) {
        m.handheldLeftJpeg = m.leftJpeg;
        m.handheldRightJpeg = m.rightJpeg;
    } else if (needs & kHandheldPair) {
        const TBitmap scene = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg");
        const JpegSettings camera { kHandheldQuality, false };
        m.handheldLeftJpeg = b.folder + "handheld_L.jpg";
        writeFileAtomically(
            m.handheldLeftJpeg, encodeJpegWith(makeHandheldFrame(scene, b.size.width, b.size.height, {}, 4), camera));
        m.handheldRightJpeg = b.folder + "handheld_R.jpg";
        writeFileAtomically(m.handheldRightJpeg,
            encodeJpegWith(makeHandheldFrame(scene, b.size.width, b.size.height, kHandheldRight, 5), camera));
    }
    if (needs & kHugePair) {
        m.hugeLeftJpeg = b.folder + "huge_L.jpg";
        m.hugeRightJpeg = b.folder + "huge_R.jpg";
        const auto t0 = Clock::now();
        long long leftBytes = 0, rightBytes = 0;
        writeHugePair(m.hugeLeftJpeg, m.hugeRightJpeg, leftBytes, rightBytes);
        std::fprintf(stderr, "made the %dx%d pair in %.1f s: %.1f and %.1f MB\n", kHugeWidth, kHugeHeight,
            millisecondsSince(t0) / 1e3, double(leftBytes) / double(1 << 20), double(rightBytes) / double(1 << 20));
    }
    b.form->LetEventsRun();
}

double runOnce(const CaseSpec& spec, Bench& b, bool first)
{
    TForm1& form = *b.form;
    const Material& m = b.material;
    switch (spec.id) {
    case Case::Reference: {
        const auto t0 = Clock::now();
        // The engine's closed form, on one thread: what the window's build
        // costs without the window.
        const TBitmap out = composeAnaglyph(form.Image2->picture(), form.Image1->picture(), ComposeSettings {}, 1);
        const double ms = millisecondsSince(t0);
        if (out.width() != form.Image2->picture().width() || out.height() != form.Image2->picture().height())
            throw BenchFailure("composeAnaglyph returned a " + sizeText(out) + " picture");
        return ms;
    }
    case Case::Build:
    case Case::BuildLiteral: {
        const auto t0 = Clock::now();
        form.Button3Click(form.Button3);
        return millisecondsSince(t0);
    }
    case Case::Preview4: {
        form.SpinEdit3->setValue(kPreviewStep);
        const auto t0 = Clock::now();
        form.Button5Click(form.Button5);
        return millisecondsSince(t0);
    }
    case Case::OpenJpeg:
    case Case::OpenBmp: {
        const bool jpeg = spec.id == Case::OpenJpeg;
        const auto t0 = Clock::now();
        const TBitmap picture = loadPictureFile(jpeg ? m.leftJpeg : m.leftBmp);
        const double ms = millisecondsSince(t0);
        if (first)
            checkPicture(picture, m.source, jpeg, spec.name);
        return ms;
    }
    case Case::SaveJpeg:
    case Case::SaveBmp: {
        const bool jpeg = spec.id == Case::SaveJpeg;
        const std::string path = jpeg ? withExtension(b.folder + "saved", ".JPG", ".jpg")
                                      : withExtension(b.folder + "saved", ".BMP", ".bmp");
        const auto t0 = Clock::now();
        // The window's save, as its save buttons do it.
        savePicture(path, jpeg ? encodeJpeg : encodeBmp, m.source);
        const double ms = millisecondsSince(t0);
        if (first) {
            const TBitmap back = loadPictureFile(path);
            checkPicture(back, m.source, jpeg, spec.name);
        }
        return ms;
    }
    case Case::WholeJob: {
        // The anaglyph is saved under a name without extension: the window
        // adds ".jpg".
        const std::string saved = b.folder + "whole-job";
        if (first)
            std::remove((saved + ".jpg").c_str());
        b.platform->answers = {
            { FileDialogMode::Open, QFile::decodeName(m.leftJpeg.c_str()) },
            { FileDialogMode::Open, QFile::decodeName(m.rightJpeg.c_str()) },
            { FileDialogMode::Save, QFile::decodeName(saved.c_str()) },
        };
        const auto t0 = Clock::now();
        form.BitBtn1Click(form.BitBtn1);
        form.BitBtn2Click(form.BitBtn2);
        form.Button3Click(form.Button3);
        form.Button4Click(form.BitBtn3);
        const double ms = millisecondsSince(t0);
        if (!b.platform->failure.empty() || !b.platform->answers.empty())
            throw BenchFailure("whole-job: "
                + (b.platform->failure.empty() ? std::string("not every file dialog was opened") : b.platform->failure));
        if (first)
            checkJpegFile(saved + ".jpg", b.size, spec.name);
        return ms;
    }
    case Case::Djpeg: {
        // PPM: the decoded pixels written out in order, which is the nearest
        // a separate program comes to decoding into memory (BMP output would
        // hold the whole picture back to write its rows bottom-up).
        const std::string out = b.folder + "djpeg.ppm";
        const double ms = runProgram(b.tools[indexOf(spec.id)], { "-outfile", out, m.leftJpeg }, b.folder + "tool.log");
        if (first && fileSize(out) < off_t(b.size.width) * b.size.height * 3)
            throw BenchFailure("djpeg wrote a PPM file too small for the picture");
        return ms;
    }
    case Case::Cjpeg: {
        const std::string out = b.folder + "cjpeg.jpg";
        const double ms = runProgram(b.tools[indexOf(spec.id)],
            { "-quality", "100", "-dct", "float", "-outfile", out, m.leftPpm }, b.folder + "tool.log");
        if (first)
            checkJpegFile(out, b.size, spec.name);
        return ms;
    }
    case Case::ImageMagick: {
        const std::string out = b.folder + "imagemagick.jpg";
        const double ms = runProgram(b.tools[indexOf(spec.id)],
            { "-stereo", "+0+0", m.rightJpeg, m.leftJpeg, "-quality", "100", out }, b.folder + "tool.log");
        if (first)
            checkJpegFile(out, b.size, spec.name);
        return ms;
    }
    case Case::Ffmpeg: {
        // The pair side by side, then the colour anaglyph of the two halves.
        // -q:v 1 is the encoder's finest quantiser; without -qmin 1 it would
        // be held at the default floor of 2.
        const std::string out = b.folder + "ffmpeg.jpg";
        const double ms = runProgram(b.tools[indexOf(spec.id)],
            { "-v", "error", "-y", "-i", m.leftJpeg, "-i", m.rightJpeg, "-filter_complex",
                "[0][1]hstack,stereo3d=sbsl:arcc", "-qmin", "1", "-q:v", "1", "-frames:v", "1", out },
            b.folder + "tool.log");
        if (first)
            checkJpegFile(out, b.size, spec.name);
        return ms;
    }
    case Case::Floor: {
        // The files are read before the clock starts: the floor is the
        // library's work on bytes in memory.
        const std::vector<std::uint8_t> left = readWholeFile(m.leftJpeg);
        const std::vector<std::uint8_t> right = readWholeFile(m.rightJpeg);
        const BareJpegWork work = bareJpegPairWork(left, right);
        if (first && (work.width != b.size.width || work.height != b.size.height || work.encodedBytes == 0))
            throw BenchFailure("floor decoded a " + std::to_string(work.width) + "x" + std::to_string(work.height)
                + " pair and encoded " + std::to_string(work.encodedBytes) + " bytes, expected "
                + std::to_string(b.size.width) + "x" + std::to_string(b.size.height) + " and some");
        return floorMs(work);
    }
    case Case::ComposePair:
    case Case::ComposeDubois:
    case Case::ComposeBatch8:
    case Case::ComposeBatch8Serial:
    case Case::ComposeHandheld:
    case Case::ComposeAlign:
    case Case::ComposeHuge:
        return runComposeCase(spec, b, first);
    }
    return 0;
}

} // namespace bench
