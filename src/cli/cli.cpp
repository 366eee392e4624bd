#include "cli/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "annotations/annotations.h"
#include "app/commands.h"
#include "cli/json.h"
#include "cli/sha256.h"
#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/temp_files.h"
#include "platform/text.h"

namespace qil::cli {

namespace fs = std::filesystem;
using app::TCommand;

namespace {

// A mistake in the command line: exit status 2.
struct TUsageError {
    std::string Message;
};

[[noreturn]] void Usage(const std::string& message) { throw TUsageError{message}; }

// ---------------------------------------------------------------------------------------------
// Help texts

const char kToolHelp[] =
    "Usage: qil COMMAND [OPTIONS] INPUT... [-o OUTPUT]\n"
    "Cleans up scanned document pages with the workbench's processing commands.\n"
    "\n"
    "Processing commands (each has its own --help):\n"
    "  deskew          estimate the skew angle and straighten the page (1, 8 or 24 bits)\n"
    "  despeckle       remove small specks (1 bit)\n"
    "  repair          repair isolated pixels (1 bit)\n"
    "  remove-lines    remove ruling lines (1 bit)\n"
    "  threshold       binarize a gray or color page (8 or 24 bits)\n"
    "  remove-border   remove a black scanner border (1, 8 or 24 bits)\n"
    "  remove-dither   remove dither patterns (1 bit)\n"
    "  drop-ink        drop colored ink (24 bits)\n"
    "  find-blocks     frame the text and image blocks (1 bit)\n"
    "  chain           run several commands, each on the previous result\n"
    "Other commands:\n"
    "  info            page count, size, depth and resolution of image files\n"
    "  annotations     the annotations stored in a TIFF page\n"
    "\n"
    "Options of every processing command:\n"
    "  -o OUTPUT            the result file; with several inputs a directory (created if missing)\n"
    "  --page N             the page to process (default 0)\n"
    "  --all-pages          process every page into a multi-page TIFF output\n"
    "  --format tif|bmp|jpg|png\n"
    "                       output format when OUTPUT is a directory (default tif)\n"
    "  --compression auto|none|packbits|g3|g3-2d|g4|deflate|jpeg|lzw\n"
    "                       TIFF compression (default auto: G4 for 1 bit, PackBits for 4 bits,\n"
    "                       JPEG for 8 and 24 bits)\n"
    "  --quality N          JPEG quality 1 ... 100 (default 80); 1 and 4-bit results are\n"
    "                       written as 8-bit gray\n"
    "  -j N                 files processed in parallel (default: the number of cores)\n"
    "  --max-image-mb N     refuse images that need more than N MiB of memory (default 2048)\n"
    "\n"
    "The output format follows OUTPUT's extension (.tif .tiff .bmp .jpg .jpeg .png, any case).\n"
    "Results are written under a temporary name and renamed, so a failed run never leaves a\n"
    "broken file and never replaces an existing one; Ctrl-C, kill or a hang-up removes the\n"
    "temporary files of the writes in progress. Numbers use '.' as decimal separator.\n"
    "Messages go to stdout, errors to stderr as 'qil: FILE: MESSAGE'.\n"
    "Exit status: 0 success, 1 when an input failed (the others are still processed), 2 usage.\n";

const std::map<std::string, std::string> kCommandHelp = {
    {"deskew",
     "Usage: qil deskew [OPTIONS] INPUT... -o OUTPUT\n"
     "Estimates the skew angle and rotates the page straight.\n"
     "  --range N          search range in degrees, +/- (default 5, 1 ... 45)\n"
     "  --resolution X     angular resolution in degrees (default 0.1)\n"
     "  --step N           0 accurate ... 30 fast (default 15)\n"
     "  --estimate-only    print the angle, write nothing (-o may be left out)\n"
     "  --black-background fill the uncovered corners with black (default white)\n"
     "  --interpolate      rotate with interpolation\n"},
    {"despeckle",
     "Usage: qil despeckle [OPTIONS] INPUT... -o OUTPUT\n"
     "Removes specks of at most the given size from a 1-bit page.\n"
     "  --max-h N   noise max horizontal size in pixels (default 3, 1 ... 100)\n"
     "  --max-v N   noise max vertical size in pixels (default 3, 1 ... 100)\n"
     "  --smart     do not remove points in text lines\n"},
    {"repair",
     "Usage: qil repair [OPTIONS] INPUT... -o OUTPUT\n"
     "Repairs isolated pixels of a 1-bit page.\n"
     "  --aggressivity very-low|low|medium|high|very-high   (default medium)\n"},
    {"remove-lines",
     "Usage: qil remove-lines [OPTIONS] INPUT... -o OUTPUT\n"
     "Removes ruling lines from a 1-bit page (both directions by default).\n"
     "  --horizontal        horizontal lines only\n"
     "  --vertical          vertical lines only\n"
     "  --min-h N           min horizontal line length in pixels (default 100, 5 ... 2000)\n"
     "  --holes-h N         max horizontal line holes in pixels (default 2, 0 ... 50)\n"
     "  --ratio-h X         min horizontal ratio (default 10; text that is not a number acts as 10)\n"
     "  --min-v N           min vertical line length in pixels (default 100, 5 ... 2000)\n"
     "  --holes-v N         max vertical line holes in pixels (default 2, 0 ... 50)\n"
     "  --ratio-v X         min vertical ratio (default 10; as --ratio-h)\n"
     "  --no-clean-borders  do not clean the line borders (cleaned by default)\n"
     "  --reconnect         reconnect crossed characters\n"},
    {"threshold",
     "Usage: qil threshold [MODE] [--preserve-halftones] INPUT... -o OUTPUT\n"
     "Binarizes an 8 or 24-bit page (a color page is reduced to gray first). At most one mode:\n"
     "  --fixed N                 fixed threshold 1 ... 254 (the default mode, 127)\n"
     "  --auto otsu|lloyd|ridler-calvard|uniform-error|standard-deviation\n"
     "  --dynamic minmax|average  local threshold; minmax defaults to contrast 16 and area 7x7,\n"
     "                            average to contrast 8 and area 10x10\n"
     "    --contrast N            local contrast (no limits; only with --dynamic)\n"
     "    --area WxH              local area size (no limits; only with --dynamic)\n"
     "  --advanced                advanced dynamic thresholding\n"
     "  --preserve-halftones      keep half-tone pictures (dithered) in the result\n"},
    {"remove-border",
     "Usage: qil remove-border [OPTIONS] INPUT... -o OUTPUT\n"
     "Removes a black scanner border.\n"
     "  --percent X   black percentage (default 99)\n"
     "  --no-crop     paint the border with the background instead of cropping it\n"},
    {"remove-dither",
     "Usage: qil remove-dither [OPTIONS] INPUT... -o OUTPUT\n"
     "Removes dither patterns from a 1-bit page. No options of its own.\n"},
    {"drop-ink",
     "Usage: qil drop-ink [OPTIONS] INPUT... -o OUTPUT\n"
     "Drops colored ink from a 24-bit page. The channels named are exactly the ones filtered;\n"
     "no channel option means red only.\n"
     "  --red --green --blue   the channels to filter\n"
     "  --aggressivity N       0 ... 255 (default 255)\n"},
    {"find-blocks",
     "Usage: qil find-blocks [--json] INPUT... [-o OUTPUT]\n"
     "Frames the text blocks (single frame) and image blocks (double frame) of a 1-bit page.\n"
     "  --json   print {\"text_blocks\": [[l,t,r,b],...], \"image_blocks\": [...]} after the message\n"
     "           (rectangles as found); with --json, -o may be left out\n"},
    {"chain",
     "Usage: qil chain [OPTIONS] INPUT... -o OUTPUT STEP [, STEP]...\n"
     "Runs several commands, each step on the previous step's result. A STEP is a processing\n"
     "command with its options; steps are separated by a lone ','. The common options (-o,\n"
     "--page, --all-pages, --format, --compression, --quality, -j) and the inputs come before the\n"
     "first step. Each step must suit the pixel depth its input has; an --estimate-only deskew\n"
     "passes its input on. One message line per step.\n"
     "Example: qil chain scan.tif -o clean.tif threshold , deskew --interpolate , despeckle --smart\n"},
    {"info",
     "Usage: qil info [--json] FILE...\n"
     "Prints per file its page count and per page width, height, bits per pixel and the\n"
     "resolution as stored (0 when the file has none).\n"
     "  --json   a JSON array, one object per file:\n"
     "           {\"file\", \"page_count\", \"pages\": [{\"page\", \"width\", \"height\",\n"
     "            \"bits_per_pixel\", \"x_resolution\", \"y_resolution\"}]}\n"},
    {"annotations",
     "Usage: qil annotations FILE [--page N] [--json]\n"
     "Prints the annotations stored in a TIFF page (default page 0), readable text by default.\n"
     "  --json   {\"error\": null or the message, \"default_group\", \"annotations\": [...]},\n"
     "           printed also when the reading failed. Exit 0 when no error, 1 otherwise.\n"},
};

const std::set<std::string> kProcessing = {"deskew",        "despeckle",     "repair",   "remove-lines",
                                           "threshold",     "remove-border", "remove-dither",
                                           "drop-ink",      "find-blocks"};

// ---------------------------------------------------------------------------------------------
// Options

int32_t ParseInt(const std::string& option, const std::string& text) {
    int32_t v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (text.empty() || ec != std::errc() || p != e) Usage(option + ": '" + text + "' is not a valid integer value");
    return v;
}

int32_t ParseIntIn(const std::string& option, const std::string& text, app::TSpinRange range) {
    int32_t v = ParseInt(option, text);
    if (!range.Contains(v))
        Usage(option + " must be between " + std::to_string(range.Min) + " and " + std::to_string(range.Max) +
              " (got " + text + ")");
    return v;
}

void RequireNumber(const std::string& option, const std::string& text) {
    long double v;
    if (!TryStrToFloat(text, v, '.')) Usage(option + ": '" + text + "' is not a valid floating point value");
}

struct TStep {
    std::string Name;
    TCommand Command = TCommand::Deskew;
    app::TDeskewParams Deskew;
    app::TDespeckleParams Despeckle;
    app::TRepairParams Repair;
    app::TLinesRemovalParams Lines;
    app::TThresholdParams Threshold;
    app::TBlackBorderParams Border;
    app::TDropInkParams Ink;
    bool Json = false;  // find-blocks --json
    bool EstimateOnly() const { return Command == TCommand::Deskew && !Deskew.RadioButtonDeskew; }
};

struct TOptions {
    std::vector<std::string> Inputs;
    std::string Output;
    bool HaveOutput = false;
    int32_t Page = 0;
    bool AllPages = false;
    std::string Format = "tif";
    TTiffCompression Compression = tcAuto;
    int32_t Quality = 80;
    int32_t Jobs = 0;
    int32_t MaxImageMb = 0;  // 0: the library's default limit
    std::vector<TStep> Steps;
};

// Reads the value of option Args[I] (the next argument), advancing I.
const std::string& Value(const std::vector<std::string>& args, size_t& i) {
    if (i + 1 >= args.size()) Usage(args[i] + " needs a value");
    return args[++i];
}

// A common option at Args[I]: consumes it (and its value) and answers true.
bool ParseCommon(const std::vector<std::string>& args, size_t& i, TOptions& o) {
    const std::string& a = args[i];
    if (a == "-o" || a == "--output") {
        o.Output = Value(args, i);
        o.HaveOutput = true;
    } else if (a == "--page") {
        o.Page = ParseIntIn(a, Value(args, i), {0, INT32_MAX});
    } else if (a == "--all-pages") {
        o.AllPages = true;
    } else if (a == "--format") {
        o.Format = Value(args, i);
        if (o.Format != "tif" && o.Format != "bmp" && o.Format != "jpg" && o.Format != "png")
            Usage("--format must be one of tif, bmp, jpg, png (got " + o.Format + ")");
    } else if (a == "--compression") {
        static const std::map<std::string, TTiffCompression> names = {
            {"auto", tcAuto},       {"none", tcNone},         {"packbits", tcPackBits},
            {"g3", tcGroup3},       {"g3-2d", tcGroup3TwoD},  {"g4", tcGroup4},
            {"deflate", tcDeflate}, {"jpeg", tcJpeg},         {"lzw", tcLzw}};
        const std::string& v = Value(args, i);
        auto it = names.find(v);
        if (it == names.end())
            Usage("--compression must be one of auto, none, packbits, g3, g3-2d, g4, deflate, jpeg, lzw (got " + v +
                  ")");
        o.Compression = it->second;
    } else if (a == "--quality") {
        o.Quality = ParseIntIn(a, Value(args, i), {1, 100});
    } else if (a == "-j" || a == "--jobs") {
        o.Jobs = ParseIntIn(a, Value(args, i), {1, 1024});
    } else if (a == "--max-image-mb") {
        o.MaxImageMb = ParseIntIn(a, Value(args, i), {1, 1 << 20});
    } else {
        return false;
    }
    return true;
}

// A step option at Args[I] for Step: consumes it and answers true.
bool ParseStepOption(const std::vector<std::string>& args, size_t& i, TStep& s, std::string& thresholdMode,
                     bool& contrastSet, bool& areaSet) {
    const std::string& a = args[i];
    const std::string& n = s.Name;
    if (n == "deskew") {
        auto& p = s.Deskew;
        if (a == "--range") p.SpinEditAngle = ParseIntIn(a, Value(args, i), p.AngleRange);
        else if (a == "--resolution") { p.EditAccuracy = Value(args, i); RequireNumber(a, p.EditAccuracy); }
        else if (a == "--step") p.TrackBarStep = ParseIntIn(a, Value(args, i), p.StepRange);
        else if (a == "--estimate-only") p.RadioButtonDeskew = false;
        else if (a == "--black-background") p.CheckBoxBlack = true;
        else if (a == "--interpolate") p.CheckBoxInterpolation = true;
        else return false;
    } else if (n == "despeckle") {
        auto& p = s.Despeckle;
        if (a == "--max-h") p.SpinEditMaxH = ParseIntIn(a, Value(args, i), p.MaxRange);
        else if (a == "--max-v") p.SpinEditMaxV = ParseIntIn(a, Value(args, i), p.MaxRange);
        else if (a == "--smart") p.CheckBoxSmart = true;
        else return false;
    } else if (n == "repair") {
        if (a != "--aggressivity") return false;
        static const std::vector<std::string> names = {"very-low", "low", "medium", "high", "very-high"};
        const std::string& v = Value(args, i);
        auto it = std::find(names.begin(), names.end(), v);
        if (it == names.end()) Usage("--aggressivity must be one of very-low, low, medium, high, very-high (got " + v + ")");
        s.Repair.RadioGroupAggr = static_cast<int32_t>(it - names.begin());
    } else if (n == "remove-lines") {
        auto& p = s.Lines;
        if (a == "--horizontal" || a == "--vertical") {
            if (!p.RadioButtonBoth) Usage("--horizontal and --vertical exclude each other (both is the default)");
            p.RadioButtonBoth = false;
            (a == "--horizontal" ? p.RadioButtonHorz : p.RadioButtonVert) = true;
        }
        else if (a == "--min-h") p.SpinEditMinH = ParseIntIn(a, Value(args, i), p.MinLengthRange);
        else if (a == "--holes-h") p.SpinEditHolesH = ParseIntIn(a, Value(args, i), p.HolesRange);
        else if (a == "--ratio-h") p.EditHorzRatio = Value(args, i);
        else if (a == "--min-v") p.SpinEditMinV = ParseIntIn(a, Value(args, i), p.MinLengthRange);
        else if (a == "--holes-v") p.SpinEditHolesV = ParseIntIn(a, Value(args, i), p.HolesRange);
        else if (a == "--ratio-v") p.EditVertRatio = Value(args, i);
        else if (a == "--no-clean-borders") p.CheckBoxClean = false;
        else if (a == "--reconnect") p.CheckBoxReconnect = true;
        else return false;
    } else if (n == "threshold") {
        auto& p = s.Threshold;
        auto setMode = [&](const std::string& mode) {
            if (!thresholdMode.empty()) Usage("threshold takes at most one mode (" + thresholdMode + " and " + mode + ")");
            thresholdMode = mode;
            p.RadioButtonStandard = false;
        };
        if (a == "--fixed") {
            setMode(a);
            p.RadioButtonStandard = true;
            p.SpinEditStandard = ParseIntIn(a, Value(args, i), p.StandardRange);
        } else if (a == "--auto") {
            setMode(a);
            static const std::vector<std::string> names = {"otsu", "lloyd", "ridler-calvard", "uniform-error",
                                                           "standard-deviation"};
            const std::string& v = Value(args, i);
            auto it = std::find(names.begin(), names.end(), v);
            if (it == names.end())
                Usage("--auto must be one of otsu, lloyd, ridler-calvard, uniform-error, standard-deviation (got " + v + ")");
            p.RadioButtonAuto = true;
            p.ComboBoxAuto = static_cast<int32_t>(it - names.begin());
        } else if (a == "--dynamic") {
            setMode(a);
            const std::string& v = Value(args, i);
            if (v != "minmax" && v != "average") Usage("--dynamic must be minmax or average (got " + v + ")");
            p.RadioButtonDynamic = true;
            int32_t contrast = p.SpinEditContrast, w = p.SpinEditAreaW, h = p.SpinEditAreaH;
            p.ComboBoxMode = v == "minmax" ? 0 : 1;
            p.LoadModeDefaults(p.ComboBoxMode);
            if (contrastSet) p.SpinEditContrast = contrast;
            if (areaSet) { p.SpinEditAreaW = w; p.SpinEditAreaH = h; }
        } else if (a == "--advanced") {
            setMode(a);
            p.RadioButtonAdvanced = true;
        } else if (a == "--contrast") {
            p.SpinEditContrast = ParseInt(a, Value(args, i));
            contrastSet = true;
        } else if (a == "--area") {
            const std::string& v = Value(args, i);
            size_t x = v.find_first_of("xX");
            if (x == std::string::npos) Usage("--area is written WxH, for example 7x7 (got " + v + ")");
            p.SpinEditAreaW = ParseInt(a, v.substr(0, x));
            p.SpinEditAreaH = ParseInt(a, v.substr(x + 1));
            areaSet = true;
        } else if (a == "--preserve-halftones") {
            p.CheckBoxPreservaMezziToni = true;
        } else {
            return false;
        }
    } else if (n == "remove-border") {
        if (a == "--percent") { s.Border.EditPercent = Value(args, i); RequireNumber(a, s.Border.EditPercent); }
        else if (a == "--no-crop") s.Border.CheckBoxCrop = false;
        else return false;
    } else if (n == "drop-ink") {
        // The channel options are gathered by ParseStep, which knows the whole step.
        auto& p = s.Ink;
        if (a == "--aggressivity") p.SpinEditThreshold = ParseIntIn(a, Value(args, i), p.ThresholdRange);
        else return false;
    } else if (n == "find-blocks") {
        if (a == "--json") s.Json = true;
        else return false;
    } else {
        return false;
    }
    return true;
}

TCommand CommandOf(const std::string& name) {
    static const std::map<std::string, TCommand> m = {
        {"deskew", TCommand::Deskew},           {"despeckle", TCommand::Despeckle},
        {"repair", TCommand::Repair},           {"remove-lines", TCommand::LineRemoval},
        {"threshold", TCommand::Thresholding},  {"remove-border", TCommand::BlackBorderRemoval},
        {"remove-dither", TCommand::RemoveDither}, {"drop-ink", TCommand::DropColoredInk},
        {"find-blocks", TCommand::FindImageAndText}};
    return m.at(name);
}

// Parses the arguments [Begin, End) of one step. With Common set, common options and inputs
// may stand among them (a single command); otherwise only the step's own options.
TStep ParseStep(const std::string& name, const std::vector<std::string>& args, size_t begin, size_t end,
                TOptions* common) {
    TStep s;
    s.Name = name;
    s.Command = CommandOf(name);
    std::string thresholdMode;
    bool contrastSet = false, areaSet = false;
    bool red = false, green = false, blue = false;
    std::vector<std::string> sub(args.begin() + static_cast<std::ptrdiff_t>(begin),
                                 args.begin() + static_cast<std::ptrdiff_t>(end));
    for (size_t i = 0; i < sub.size(); ++i) {
        const std::string& a = sub[i];
        if (name == "drop-ink" && (a == "--red" || a == "--green" || a == "--blue")) {
            (a == "--red" ? red : a == "--green" ? green : blue) = true;
            continue;
        }
        if (ParseStepOption(sub, i, s, thresholdMode, contrastSet, areaSet)) continue;
        if (common && ParseCommon(sub, i, *common)) continue;
        if (common && (a.empty() || a[0] != '-' || a == "-")) {
            common->Inputs.push_back(a);
            continue;
        }
        Usage("unknown option for " + name + ": " + a);
    }
    if ((contrastSet || areaSet) && !s.Threshold.RadioButtonDynamic)
        Usage("--contrast and --area go only with --dynamic");
    if (name == "drop-ink" && (red || green || blue)) {
        s.Ink.CheckBoxRed = red;
        s.Ink.CheckBoxGreen = green;
        s.Ink.CheckBoxBlue = blue;
    }
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The output format of a file name by its extension: tif, bmp, jpg or png; empty if unknown.
std::string FormatOfName(const std::string& name) {
    std::string ext = Lower(fs::path(name).extension().string());
    if (ext == ".tif" || ext == ".tiff") return "tif";
    if (ext == ".bmp") return "bmp";
    if (ext == ".jpg" || ext == ".jpeg") return "jpg";
    if (ext == ".png") return "png";
    return "";
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------------------------
// Running

struct TJob {
    std::string Input;
    std::string Output;  // empty: nothing is written
    std::string Format;
    std::string Out;     // stdout text of this input
    std::string Err;     // stderr text of this input
    bool Failed = false;
};

// A temporary name next to Final, removed unless committed.
class TTempFile {
public:
    explicit TTempFile(const std::string& final) : Final(final) {
        static std::atomic<unsigned> counter{0};
        fs::path p(final);
        std::string name(1, '.');
        name += p.filename().string();
        name += ".qil-";
        name += std::to_string(::getpid());
        name += '-';
        name += std::to_string(counter++);
        name += ".tmp";
        Path = (p.parent_path() / name).string();
        Tracked = std::make_unique<TTemporaryFileGuard>(Path);
    }
    ~TTempFile() {
        if (!Committed) ::unlink(Path.c_str());
    }
    void Commit() {
        if (std::rename(Path.c_str(), Final.c_str()) != 0)
            throw Exception("cannot write " + Final + ": " + std::strerror(errno));
        Committed = true;
    }
    std::string Path;

private:
    std::string Final;
    bool Committed = false;
    std::unique_ptr<TTemporaryFileGuard> Tracked;  // removed by an interrupting signal
};

void SavePage(TDIB& dib, const std::string& path, const std::string& format, bool append, const TOptions& o) {
    if (format == "tif") {
        dib.SaveToTiffFile(path, append, o.Compression, 16);
    } else if (format == "bmp") {
        dib.SaveToBitmapFile(path);
    } else if (format == "jpg") {
        if (dib.BitCount() < 8) dib.ConvertToFormat(fmt8Bit);
        dib.SaveToJpegFile(path, false, static_cast<uint8_t>(o.Quality));
    } else {
        dib.SaveToPngFile(path);
    }
}

std::string BitsText(int32_t depth) { return std::to_string(depth) + (depth == 1 ? " bit" : " bits"); }

// Runs the steps on one page; Lines receives one message line per step.
std::unique_ptr<TDIB> RunSteps(std::unique_ptr<TDIB> page, const std::vector<TStep>& steps, const std::string& prefix,
                               std::string& lines) {
    for (const TStep& s : steps) {
        int32_t depth = page->BitCount();
        if (!app::CommandEnabled(s.Command, depth))
            throw Exception(s.Name + " needs a page of " + app::CommandDepthsText(s.Command) +
                            " bits per pixel; the page has " + BitsText(depth) + " per pixel");
        app::TCommandResult r;
        switch (s.Command) {
            case TCommand::Deskew: r = app::CommandDeskew(*page, s.Deskew); break;
            case TCommand::Despeckle: r = app::CommandDespeckle(*page, s.Despeckle); break;
            case TCommand::Repair: r = app::CommandRepair(*page, s.Repair); break;
            case TCommand::LineRemoval: r = app::CommandLineRemoval(*page, s.Lines); break;
            case TCommand::Thresholding: r = app::CommandThresholding(*page, s.Threshold); break;
            case TCommand::BlackBorderRemoval: r = app::CommandBlackBorderRemoval(*page, s.Border); break;
            case TCommand::RemoveDither: r = app::CommandRemoveDither(*page); break;
            case TCommand::DropColoredInk: r = app::CommandDropColoredInk(*page, s.Ink); break;
            case TCommand::FindImageAndText: r = app::CommandFindImagesAndText(*page); break;
        }
        lines += prefix + r.Message + "\n";
        if (s.Json)
            lines += "{\"text_blocks\": " + JsonRects(r.TextBlocks) + ", \"image_blocks\": " + JsonRects(r.ImageBlocks) +
                     "}\n";
        if (r.Block != 0) {
            auto next = std::make_unique<TDIB>();
            HGLOBAL block = r.ReleaseBlock();
            try {
                next->SetHandle(block);
            } catch (...) {
                GlobalFree(block);
                throw;
            }
            page = std::move(next);
        }
    }
    return page;
}

std::string PageCountText(int32_t n) { return std::to_string(n) + (n == 1 ? " page" : " pages"); }

void RunJob(TJob& job, const TOptions& o, bool multi) {
    try {
        TDIB probe;
        int32_t count = probe.GetPageCount(job.Input);
        std::vector<int32_t> pages;
        if (o.AllPages) {
            for (int32_t p = 0; p < count; ++p) pages.push_back(p);
        } else {
            if (o.Page >= count)
                throw Exception("page " + std::to_string(o.Page) + " does not exist: the file has " + PageCountText(count));
            pages.push_back(o.Page);
        }
        std::unique_ptr<TTempFile> temp;
        if (!job.Output.empty()) temp = std::make_unique<TTempFile>(job.Output);
        std::string lines;
        for (size_t k = 0; k < pages.size(); ++k) {
            std::string prefix;
            if (multi) prefix = job.Input + (o.AllPages ? " page " + std::to_string(pages[k]) : "") + ": ";
            else if (o.AllPages) prefix = "page " + std::to_string(pages[k]) + ": ";
            auto page = std::make_unique<TDIB>();
            page->LoadFromFile(job.Input, pages[k]);
            page = RunSteps(std::move(page), o.Steps, prefix, lines);
            if (temp) SavePage(*page, temp->Path, job.Format, k > 0, o);
        }
        if (temp) temp->Commit();
        job.Out = lines;
    } catch (const std::bad_alloc&) {
        job.Failed = true;
        job.Err = "qil: " + job.Input + ": Out of memory\n";
    } catch (const std::exception& e) {
        job.Failed = true;
        job.Err = "qil: " + job.Input + ": " + e.what() + "\n";
    }
}

// Runs the jobs on Jobs threads and prints their texts in input order as they finish.
int RunJobs(std::vector<TJob>& jobs, const TOptions& o, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    bool multi = jobs.size() > 1;
    unsigned threads = o.Jobs > 0 ? static_cast<unsigned>(o.Jobs) : std::max(1u, std::thread::hardware_concurrency());
    threads = std::min<unsigned>(threads, static_cast<unsigned>(jobs.size()));
    std::mutex m;
    std::condition_variable cv;
    std::vector<bool> done(jobs.size(), false);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < jobs.size();) {
            RunJob(jobs[i], o, multi);
            std::lock_guard<std::mutex> lock(m);
            done[i] = true;
            cv.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    std::thread own;
    if (threads <= 1) worker();
    else own = std::thread(worker);
    bool progress = errIsTerminal && jobs.size() > 1;
    int status = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return done[i]; });
        }
        if (progress) err << "\r\033[K";
        out << jobs[i].Out << std::flush;
        err << jobs[i].Err;
        if (jobs[i].Failed) status = 1;
        if (progress && i + 1 < jobs.size()) {
            size_t width = 30, filled = width * (i + 1) / jobs.size();
            err << "[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << (i + 1) << "/"
                << jobs.size() << " files" << std::flush;
        }
    }
    for (auto& t : pool) t.join();
    if (own.joinable()) own.join();
    return status;
}

int RunProcessing(TOptions& o, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (o.Inputs.empty()) Usage("no input file");
    bool writes = false;
    for (const TStep& s : o.Steps)
        if (!s.EstimateOnly()) writes = true;
    bool jsonOnly = o.Steps.size() == 1 && o.Steps[0].Json;
    if (!writes) o.HaveOutput = false;  // estimate only: nothing is written
    if (writes && !o.HaveOutput && !jsonOnly) Usage("no output: give -o OUTPUT");
    std::vector<TJob> jobs(o.Inputs.size());
    for (size_t i = 0; i < o.Inputs.size(); ++i) jobs[i].Input = o.Inputs[i];
    if (o.HaveOutput) {
        bool toDirectory = o.Inputs.size() > 1 || IsDirectory(o.Output);
        if (toDirectory) {
            if (o.AllPages && o.Format != "tif") Usage("--all-pages writes multi-page TIFF files: use --format tif");
            std::set<std::string> names;
            for (TJob& j : jobs) {
                std::string stem = fs::path(j.Input).stem().string();
                if (!names.insert(stem).second)
                    Usage("two inputs are named " + stem + ": their results would overwrite each other in " + o.Output);
                j.Output = (fs::path(o.Output) / (stem + "." + o.Format)).string();
                j.Format = o.Format;
            }
            std::error_code ec;
            fs::create_directories(o.Output, ec);
            if (!IsDirectory(o.Output)) {
                err << "qil: " << o.Output << ": cannot create the output directory\n";
                return 1;
            }
        } else {
            std::string format = FormatOfName(o.Output);
            if (format.empty()) Usage("unknown output extension: " + o.Output + " (use .tif, .tiff, .bmp, .jpg, .jpeg or .png)");
            if (o.AllPages && format != "tif") Usage("--all-pages writes a multi-page TIFF file: the output must be .tif or .tiff");
            jobs[0].Output = o.Output;
            jobs[0].Format = format;
        }
    }
    return RunJobs(jobs, o, out, err, errIsTerminal);
}

// ---------------------------------------------------------------------------------------------
// info

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> files;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else if (!a.empty() && a[0] == '-' && a != "-") Usage("unknown option for info: " + a);
        else files.push_back(a);
    }
    if (files.empty()) Usage("no input file");
    int status = 0;
    std::string text = json ? "[" : "";
    bool first = true;
    for (const std::string& f : files) {
        try {
            TDIB dib;
            int32_t count = dib.GetPageCount(f);
            std::string pagesJson, pagesText;
            for (int32_t p = 0; p < count; ++p) {
                dib.LoadFromFile(f, p);
                int32_t w = dib.Width(), h = dib.Height(), b = dib.BitCount();
                int32_t xr = dib.XResolution(), yr = dib.YResolution();
                if (p) pagesJson += ", ";
                pagesJson += "{\"page\": " + std::to_string(p) + ", \"width\": " + std::to_string(w) +
                             ", \"height\": " + std::to_string(h) + ", \"bits_per_pixel\": " + std::to_string(b) +
                             ", \"x_resolution\": " + std::to_string(xr) + ", \"y_resolution\": " + std::to_string(yr) +
                             "}";
                pagesText += "  page " + std::to_string(p) + ": " + std::to_string(w) + " x " + std::to_string(h) +
                             ", " + std::to_string(b) + " bpp, " + std::to_string(xr) + " x " + std::to_string(yr) +
                             " dpi\n";
                dib.Clear();
            }
            if (json) {
                text += std::string(first ? "" : ", ") + "{\"file\": " + JsonString(f) +
                        ", \"page_count\": " + std::to_string(count) + ", \"pages\": [" + pagesJson + "]}";
                first = false;
            } else {
                text += f + ": " + PageCountText(count) + "\n" + pagesText;
            }
        } catch (const std::exception& e) {
            err << "qil: " << f << ": " << e.what() << "\n";
            status = 1;
        }
    }
    if (json) text += "]\n";
    out << text;
    return status;
}

}  // namespace

// The annotation dump lives in annotations_dump.cpp.
int RunAnnotations(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    try {
        if (args.empty()) {
            err << kToolHelp;
            return 2;
        }
        const std::string& cmd = args[0];
        if (cmd == "--help" || cmd == "-h" || cmd == "help") {
            if (cmd == "help" && args.size() > 1 && kCommandHelp.count(args[1])) out << kCommandHelp.at(args[1]);
            else out << kToolHelp;
            return 0;
        }
        if (cmd == "--version") {
            out << "qil 0.1.0\n";
            return 0;
        }
        if (!kCommandHelp.count(cmd)) Usage("unknown command: " + cmd);
        for (size_t i = 1; i < args.size(); ++i)
            if (args[i] == "--help" || args[i] == "-h") {
                out << kCommandHelp.at(cmd);
                return 0;
            }
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (cmd == "info") return RunInfo(rest, out, err);
        if (cmd == "annotations") return RunAnnotations(rest, out, err);
        TOptions o;
        if (cmd == "chain") {
            size_t i = 0;
            for (; i < rest.size() && !kProcessing.count(rest[i]); ++i) {
                if (ParseCommon(rest, i, o)) continue;
                if (!rest[i].empty() && rest[i][0] == '-' && rest[i] != "-") Usage("unknown option for chain: " + rest[i]);
                o.Inputs.push_back(rest[i]);
            }
            if (i == rest.size()) Usage("chain needs at least one step");
            while (i < rest.size()) {
                if (!kProcessing.count(rest[i])) Usage("not a processing command: " + rest[i]);
                size_t end = i + 1;
                while (end < rest.size() && rest[end] != ",") ++end;
                o.Steps.push_back(ParseStep(rest[i], rest, i + 1, end, nullptr));
                i = end + 1;
                if (end + 1 == rest.size()) Usage("a step must follow the last ','");
            }
        } else {
            o.Steps.push_back(ParseStep(cmd, rest, 0, rest.size(), &o));
        }
        // The size limit of one image holds for this invocation only.
        struct TLimit {
            uint64_t Saved = MaxImageBytes();
            ~TLimit() { SetMaxImageBytes(Saved); }
        } limit;
        if (o.MaxImageMb > 0) SetMaxImageBytes(uint64_t(o.MaxImageMb) << 20);
        return RunProcessing(o, out, err, errIsTerminal);
    } catch (const TUsageError& e) {
        err << "qil: " << e.Message << "\nTry 'qil --help' for more information.\n";
        return 2;
    }
}

}  // namespace qil::cli
