#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace bench {

int indexOf(Case id)
{
    return int(std::find_if(std::begin(kCases), std::end(kCases), [id](const CaseSpec& c) { return c.id == id; })
        - std::begin(kCases));
}

void printUsage(std::FILE* out)
{
    std::fprintf(out,
        "usage: orvanta-bench [--json] [--case NAME] [--megapixels N]\n"
        "                     [--left FILE --right FILE] [--empty-window]\n"
        "\n"
        "Times the anaglyph build in the program's window on the offscreen platform\n"
        "(unless QT_QPA_PLATFORM says otherwise), opening and saving picture files\n"
        "the way the window does, and the same work done by other programs, on\n"
        "generated frame pairs, and prints the median wall-clock time per case and\n"
        "size.\n"
        "\n"
        "cases:\n"
        "  reference      the composition engine on the two frames (composeAnaglyph,\n"
        "                 colour, block step 1, one thread), no window involved\n"
        "  build          the Build button with the window's default pacing\n"
        "  preview4       the Preview button with block step 4\n"
        "  build-literal  the Build button with events let run after every block\n"
        "  open-jpeg      loadPictureFile on the left frame as a JPEG file\n"
        "  open-bmp       loadPictureFile on the left frame as a BMP file\n"
        "  save-jpeg      the window's JPEG save of the left frame: savePicture with\n"
        "                 encodeJpeg through AtomicFileWriter\n"
        "  save-bmp       the same with encodeBmp\n"
        "  whole-job      in the window: open both frames from JPEG files through the\n"
        "                 file dialogs, Build, save the anaglyph as JPEG; one timing\n"
        "  djpeg          djpeg -outfile OUT.ppm LEFT.jpg\n"
        "  cjpeg          cjpeg -quality 100 -dct float -outfile OUT.jpg LEFT.ppm\n"
        "  imagemagick    composite -stereo +0+0 RIGHT.jpg LEFT.jpg -quality 100 OUT.jpg\n"
        "  ffmpeg         ffmpeg -i LEFT.jpg -i RIGHT.jpg with hstack,stereo3d=sbsl:arcc\n"
        "                 to one JPEG frame at -q:v 1 -qmin 1\n"
        "  floor          the least time this machine allows for a pair, none of our\n"
        "                 code involved: libjpeg itself decoding the left and the\n"
        "                 right JPEG file from memory to BGRA rows, a few at a time\n"
        "                 into one reused buffer, and encoding a picture of their\n"
        "                 size from the left one's rows as they come (quality 100,\n"
        "                 baseline, float DCT, 4:2:0, BGRX input) into a destination\n"
        "                 that discards the bytes; the thread's CPU time for all of\n"
        "                 it divided by the cores it could be spread over, min(2,\n"
        "                 cores): CPU time, not wall clock, and no file written\n"
        "  compose-pair   orvanta-compose LEFT.jpg RIGHT.jpg -o OUT.jpg, our own\n"
        "                 command-line program (quality 100), which streams the\n"
        "                 pair: rows decoded, composed and encoded as they come\n"
        "  compose-dubois the same with --method dubois\n"
        "  compose-batch8 orvanta-compose --batch DIR -o OUTDIR over 8 pairs\n"
        "                 p1_L.jpg/p1_R.jpg..p8, symbolic links to the same two\n"
        "                 files, built one pair per core at a time\n"
        "  compose-batch8-serial\n"
        "                 the same batch with -j 1 on one core (taskset -c): one\n"
        "                 pair after another, its threads taking turns\n"
        "  compose-handheld\n"
        "                 orvanta-compose L.jpg R.jpg -o OUT.jpg on a hand-held pair:\n"
        "                 tests/data/coffee.jpg enlarged to the size, with a little\n"
        "                 noise, as the left frame, and as a camera turned by 1.5\n"
        "                 degrees, 2%% nearer, 1%% of the height lower and 1%% of the\n"
        "                 width to the right sees it as the right one, both JPEG\n"
        "                 quality 95\n"
        "  compose-align  the same with --align: lined up, the right frame warped and\n"
        "                 both cropped; the picture must keep 90%% of each side\n"
        "  compose-huge   orvanta-compose L.jpg R.jpg -o OUT.jpg on a pair of\n"
        "                 17320x11547 (200 MP) whatever the run's sizes and files:\n"
        "                 broad gradients and waves with a fine grain, the right\n"
        "                 frame the same scene 6 pixels to the left, JPEG quality\n"
        "                 95 (about 55 MB a file), made a row at a time once per\n"
        "                 run, after the other cases; only the picture size in the\n"
        "                 result's header is checked. Making the pair and its\n"
        "                 three runs add 10 to 20 s to a run\n"
        "  camera-tick    one stream tick of channel 1 (read the format, size the\n"
        "                 preview, fetch the newest frame) and the repaint of its\n"
        "                 capture window: how long it holds the window's thread\n"
        "  camera-grab    \"Снять в 1 кадр\": the frame through the clipboard into\n"
        "                 frame 1\n"
        "  camera-convert our conversion of one camera frame to a bitmap\n"
        "  v4lconvert     libv4lconvert's conversion of the same frame to RGB24\n"
        "  camera-idle    the CPU the whole program spends a second (CPU-s/s) with two\n"
        "                 made-up 1280x720 cameras at 30 fps, YUYV and MJPEG, on the\n"
        "                 window's two channels for 10 s: once with both streams on\n"
        "                 (two frames a second each), once with both off\n"
        "The other camera cases run at 640x480 and 1920x1080 with a synthetic camera\n"
        "(tick and grab only) and a made-up Video4Linux2 device sending YUYV or\n"
        "MJPEG; their JSON lines add \"format\": synthetic, yuyv or mjpeg.\n"
        "djpeg, cjpeg, imagemagick and ffmpeg run the program found on PATH, wall\n"
        "clock including process start, and are skipped with a note when it is not\n"
        "installed; on Debian:\n"
        "  apt-get install -y libjpeg-turbo-progs imagemagick ffmpeg\n"
        "A tool that is there but fails ends the run with status 1.\n"
        "The compose cases run the orvanta-compose built beside this program, also\n"
        "timed from process start to exit, and report its peak resident memory, the\n"
        "most of any run in MB of 2^20 bytes: the kernel's ru_maxrss of the child,\n"
        "started through orvanta-bench-launch, a process of about a megabyte, since\n"
        "a child's figure begins at the resident size of the process it was started\n"
        "from. Beside compose-pair's and compose-huge's peaks the budget of a\n"
        "streamed pair is printed, a few rows held rather than whole pictures:\n"
        "64 MB up to 24 MP, 128 MB above (compose-huge's); beside compose-align's\n"
        "the budget of lining a pair up: compose-handheld's peak (when it ran, else\n"
        "two whole frames and the anaglyph at 4 bytes a pixel, plus 10%%) plus one\n"
        "frame at 4 bytes a pixel, plus 10%%. Their JSON lines add \"peak_mb\",\n"
        "compose-pair's, compose-huge's and compose-align's also \"budget_mb\".\n"
        "Ratio rows in the table divide one case's median by another's at the\n"
        "same size, when both ran: among them compose-pair/imagemagick,\n"
        "compose-pair/ffmpeg, compose-pair/floor and\n"
        "compose-batch8-serial/compose-batch8. compose-huge prints its own lines\n"
        "below the table, and in JSON \"megapixels\":200.\n"
        "\n"
        "options:\n"
        "  --case NAME       run only this case (alone it runs at every size); repeat\n"
        "                    it to run several picture cases and the ratio rows\n"
        "                    between them, e.g. --case imagemagick --case compose-pair\n"
        "  --megapixels N    run only at this size: 0.3 (640x480), 12 (4000x3000)\n"
        "                    or 24 (6000x4000)\n"
        "  --left FILE       with --right: every case uses this pair of JPEG or BMP\n"
        "  --right FILE      files of one size instead of generated pictures, at that\n"
        "                    size only, labelled with its megapixels to one decimal\n"
        "                    (w*h/1e6). The window's frames are loaded from the files;\n"
        "                    open-jpeg, djpeg, whole-job, floor and the other\n"
        "                    programs use the files themselves (a BMP is first encoded as JPEG into\n"
        "                    the temporary folder where a JPEG is needed), and so do\n"
        "                    compose-handheld and compose-align; open-bmp opens the\n"
        "                    left picture encoded as BMP, cjpeg its PPM.\n"
        "  --json            one JSON object per case and size instead of the table:\n"
        "                    {\"case\":\"build\",\"megapixels\":24,\"median_ms\":123.456}\n"
        "  --empty-window    show the window without pictures and stop: the baseline\n"
        "                    for peak-memory readings\n"
        "  --help            show this text\n"
        "\n"
        "Repetitions per case at 0.3/12/24 MP: reference, build, preview4, open-*,\n"
        "save-* and floor 15/7/5, build-literal 3/3/1 (about 20 s a run at 24 MP),\n"
        "whole-job 7/5/5, the other programs 7/3/3, the compose cases 5/3/3,\n"
        "compose-huge 3 at its one size. A pair of files uses the counts of the\n"
        "nearest size (under 3 MP: 0.3, under 18 MP: 12, else 24).\n"
        "A run restricted by --case and --megapixels uses the same counts, so the\n"
        "peak memory of a repeated build (the previous anaglyph still shown while\n"
        "the next one is built) or a repeated whole job can be measured from\n"
        "outside, e.g.\n"
        "  /usr/bin/time -v orvanta-bench --case build --megapixels 24\n"
        "  /usr/bin/time -v orvanta-bench --case whole-job --megapixels 24\n"
        "  /usr/bin/time -v orvanta-bench --empty-window\n"
        "The files are written to a temporary folder (in TMPDIR, else /tmp) that is\n"
        "removed at the end; every run reads them from the page cache.\n"
        "\n"
        "Each window build is compared once per case and size with referenceAnaglyph,\n"
        "and the first run of every file case checks the picture it read or wrote;\n"
        "a difference ends the program with status 1. Bad arguments or input files\n"
        "give status 2.\n");
}

std::string parseArguments(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--empty-window") {
            o.emptyWindow = true;
        } else if (arg == "--case") {
            std::string name;
            if (!value(name))
                return "--case needs a case name";
            bool known = false;
            for (int c = 0; c < kCaseCount; ++c)
                if (name == kCases[c].name) {
                    o.cases |= std::uint32_t(1) << c;
                    known = true;
                }
            for (int c = 0; c < kCameraCaseCount; ++c)
                if (name == kCameraCases[c].name) {
                    if (o.cameraCaseIndex >= 0 && o.cameraCaseIndex != c)
                        return "only one camera case at a time: " + name;
                    o.cameraCaseIndex = c;
                    known = true;
                }
            if (!known)
                return "unknown case: " + name;
        } else if (arg == "--megapixels") {
            std::string text;
            if (!value(text))
                return "--megapixels needs a number";
            char* end = nullptr;
            const double mp = std::strtod(text.c_str(), &end);
            o.sizeIndex = -1;
            if (end != text.c_str() && *end == '\0')
                for (int s = 0; s < kSizeCount; ++s)
                    if (std::fabs(mp - kSizes[s].megapixels) < 1e-9)
                        o.sizeIndex = s;
            if (o.sizeIndex < 0)
                return "unsupported size: " + text + " (use 0.3, 12 or 24)";
        } else if (arg == "--left") {
            if (!value(o.left) || o.left.empty())
                return "--left needs a file name";
        } else if (arg == "--right") {
            if (!value(o.right) || o.right.empty())
                return "--right needs a file name";
        } else {
            return "unknown argument: " + arg;
        }
    }
    if (o.left.empty() != o.right.empty())
        return "--left and --right go together";
    if (!o.left.empty() && o.sizeIndex >= 0)
        return "--megapixels does not go with --left and --right: the pair's own size is measured";
    return {};
}

} // namespace bench
