#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace {

// A whole decimal integer within lo..hi, or a UsageError naming the option.
int integerOf(const std::string& option, const std::string& text, int lo, int hi)
{
    if (text.empty())
        throw UsageError(option + " needs a number");
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE)
        throw UsageError(option + ": \"" + text + "\" is not a whole number");
    if (v < lo || v > hi)
        throw UsageError(option + ": " + text + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return int(v);
}

Gains gainsOf(const std::string& text)
{
    int g[3] = {};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos))
            throw UsageError("--gains takes three numbers R,G,B, each 0..255");
        g[i] = integerOf("--gains", text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0, 255);
        start = comma + 1;
    }
    return Gains { g[0], g[1], g[2] };
}

} // namespace

std::string lowercaseAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

bool isJpsName(const std::string& path) { return lowercaseAscii(path).ends_with(".jps"); }

OutputFormat formatOfOutput(const std::string& path)
{
    const std::string name = lowercaseAscii(path);
    if (name.ends_with(".jpg") || name.ends_with(".jpeg"))
        return OutputFormat::Jpeg;
    if (name.ends_with(".bmp"))
        return OutputFormat::Bmp;
    if (name.ends_with(".png"))
        return OutputFormat::Png;
    throw UsageError("cannot tell the format of \"" + path + "\": name it .jpg, .jpeg, .bmp or .png");
}

ComposeOptions parseComposeArguments(const std::vector<std::string>& args)
{
    ComposeOptions o;
    bool sbsGiven = false;
    bool windowGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue)
                throw UsageError(arg + " takes no value");
        };

        if (arg == "-h" || arg == "--help") {
            noValue();
            o.help = true;
        } else if (arg == "--version") {
            noValue();
            o.version = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!o.output.empty())
                throw UsageError("only one output may be given");
            o.output = value();
            if (o.output.empty())
                throw UsageError(arg + " needs a file name");
        } else if (arg == "--dx") {
            o.compose.dx = integerOf(arg, value(), -10000, 10000);
            o.offsetsGiven = true;
        } else if (arg == "--dy") {
            o.compose.dy = integerOf(arg, value(), -10000, 10000);
            o.offsetsGiven = true;
        } else if (arg == "--gains") {
            o.compose.gains = gainsOf(value());
        } else if (arg == "--swap") {
            noValue();
            o.compose.swap = true;
        } else if (arg == "--block") {
            o.compose.block = integerOf(arg, value(), 1, 50);
        } else if (arg == "--method") {
            const std::string name = value();
            if (!parseAnaglyphMethod(name, o.compose.method))
                throw UsageError("--method: \"" + name + "\" is not one of colour, half-colour, grey, dubois");
        } else if (arg == "--quality") {
            o.jpeg.quality = integerOf(arg, value(), 1, 100);
        } else if (arg == "--chroma") {
            const std::string v = value();
            if (v == "444")
                o.jpeg.fullChroma = true;
            else if (v == "420")
                o.jpeg.fullChroma = false;
            else
                throw UsageError("--chroma takes 444 or 420");
        } else if (arg == "--align") {
            if (!inlineValue) {
                o.align = AlignMode::Correct;
            } else if (*inlineValue == "perspective") {
                o.align = AlignMode::Correct;
                o.model = CorrectionModel::Perspective;
            } else if (*inlineValue == "shift") {
                o.align = AlignMode::Shift;
            } else if (*inlineValue == "print") {
                o.align = AlignMode::PrintOnly;
            } else {
                throw UsageError("--align takes no value, or =perspective, =shift or =print");
            }
        } else if (arg == "--window") {
            const std::string v = value();
            if (v == "near")
                o.window = StereoWindow::Near;
            else if (v == "dominant")
                o.window = StereoWindow::Dominant;
            else
                throw UsageError("--window takes near or dominant");
            windowGiven = true;
        } else if (arg == "--sbs") {
            const std::string v = value();
            if (v == "parallel")
                o.sideBySide = SideBySideInput::Parallel;
            else if (v == "cross")
                o.sideBySide = SideBySideInput::Cross;
            else
                throw UsageError("--sbs takes parallel or cross");
            sbsGiven = true;
        } else if (arg == "--half") {
            noValue();
            o.half = true;
        } else if (arg == "--batch") {
            o.batchFolder = value();
            if (o.batchFolder.empty())
                throw UsageError("--batch needs a folder");
        } else if (arg == "--format") {
            const std::string v = value();
            if (v == "jpg" || v == "jpeg")
                o.batchFormat = OutputFormat::Jpeg;
            else if (v == "bmp")
                o.batchFormat = OutputFormat::Bmp;
            else if (v == "png")
                o.batchFormat = OutputFormat::Png;
            else
                throw UsageError("--format takes jpg, bmp or png");
        } else if (arg == "-j" || arg == "--jobs") {
            o.jobs = integerOf(arg, value(), 1, 256);
        } else if (arg == "--json") {
            noValue();
            o.json = true;
        } else if (arg == "--") {
            o.inputs.insert(o.inputs.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            o.inputs.push_back(arg);
        }
    }
    if (o.help || o.version)
        return o;

    if (o.align != AlignMode::Off && o.offsetsGiven)
        throw UsageError("--align finds the offsets itself: give it or --dx/--dy, not both");
    // The translation by phase correlation has one screen plane of its own,
    // the dominant depth's.
    if (windowGiven && (o.align == AlignMode::Off || o.align == AlignMode::Shift))
        throw UsageError("--window places the screen plane for --align, --align=perspective or --align=print");
    const bool printOnly = o.align == AlignMode::PrintOnly;
    if (!o.batchFolder.empty()) {
        if (!o.inputs.empty())
            throw UsageError("--batch takes its pairs from the folder, not from further names");
        if (printOnly)
            throw UsageError("--align=print works on one pair; use --align with --json in a batch");
        if (o.output.empty())
            throw UsageError("--batch needs -o OUTDIR, the folder to write into");
        return o;
    }
    // Squeezed halves are those of a side-by-side picture: split by --sbs,
    // or a .jps file, which is one.
    if (o.half && !sbsGiven && !(o.inputs.size() == 1 && isJpsName(o.inputs.front())))
        throw UsageError("--half stretches the halves of a side-by-side picture: give it with --sbs or a .jps file");
    const std::size_t wanted = sbsGiven ? 1 : o.inputs.size() == 1 ? 1 : 2;
    if (o.inputs.empty())
        throw UsageError("no input: give LEFT RIGHT, one MPO file, or --batch DIR");
    if (o.inputs.size() != wanted)
        throw UsageError(sbsGiven ? "--sbs takes one side-by-side picture" : "too many inputs: give LEFT RIGHT or one MPO file");
    if (printOnly) {
        if (!o.output.empty())
            throw UsageError("--align=print only prints the offsets and writes no file");
        return o;
    }
    if (o.output.empty())
        throw UsageError("no output: give -o OUT.jpg, -o OUT.bmp or -o OUT.png");
    formatOfOutput(o.output);
    if (o.jobs != 0)
        throw UsageError("--jobs is for --batch; one pair already uses every core it can");
    return o;
}
