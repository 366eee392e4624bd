// Interoperability: PNG files made by Pillow and ImageMagick (libpng-based, independent of
// this codec) load with the pixels those tools report, and files this codec writes are read
// by Pillow with the same pixels and resolution. Skipped when the tools are not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "dib/dib.h"
#include "dib/png_codec.h"
#include "platform/streams.h"

using namespace qil;
namespace fs = std::filesystem;

namespace {

bool HavePillow() {
    static const bool ok = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    return ok;
}
bool HaveConvert() {
    static const bool ok = std::system("/usr/bin/convert -version >/dev/null 2>&1") == 0;
    return ok;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

struct TempDir {
    fs::path Path;
    TempDir() {
        Path = fs::temp_directory_path() / ("qil_png_interop_" + std::to_string(::getpid()));
        fs::remove_all(Path);
        fs::create_directories(Path);
    }
    ~TempDir() { fs::remove_all(Path); }
};

// Writes one PNG per case with Pillow, and beside it the RGB bytes Pillow sees (<name>.rgb).
const char* kPillowWriter = R"PY(
import sys, os
from PIL import Image
out = sys.argv[1]
W, H = 37, 23
def val(x, y, k): return (x * 7 + y * 13 + k * 51 + (x * y) % 17) & 255
def rgb_image():
    im = Image.new('RGB', (W, H))
    im.putdata([(val(x, y, 0), val(x, y, 1), val(x, y, 2)) for y in range(H) for x in range(W)])
    return im
def save(name, im, expected, **kw):
    im.save(os.path.join(out, name + '.png'), **kw)
    with open(os.path.join(out, name + '.rgb'), 'wb') as f: f.write(expected.tobytes())
base = rgb_image()
save('rgb8', base, base, dpi=(300, 300))
rgba = base.copy(); rgba.putalpha(128)
save('rgba8', rgba, base)
gray = base.convert('L')
save('gray8', gray, gray.convert('RGB'), dpi=(72, 72))
la = gray.copy().convert('LA')
save('gray_alpha8', la, gray.convert('RGB'))
bw = gray.point(lambda v: 255 if v > 127 else 0).convert('1')
save('bilevel', bw, bw.convert('RGB'))
for bits in (1, 2, 4, 8):
    n = 1 << bits
    pal = base.quantize(colors=n)
    save('palette%d' % bits, pal, pal.convert('RGB'), bits=bits)
g16 = Image.new('I;16', (W, H))
g16.putdata([val(x, y, 0) * 256 + val(x, y, 2) for y in range(H) for x in range(W)])
exp16 = Image.new('L', (W, H)); exp16.putdata([val(x, y, 0) for y in range(H) for x in range(W)])
save('gray16', g16, exp16.convert('RGB'))
)PY";

// Reads a PNG with Pillow and writes mode, size, dpi and its RGB bytes.
const char* kPillowReader = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1]); im.load()
dpi = im.info.get('dpi', (0, 0))
with open(sys.argv[2], 'w') as f: f.write('%s %d %d %d %d\n' % (im.mode, im.size[0], im.size[1], round(dpi[0]), round(dpi[1])))
with open(sys.argv[3], 'wb') as f: f.write(im.convert('RGB').tobytes())
)PY";

void ExpectPixelsEqualRgb(TDIB& dib, const std::vector<uint8_t>& rgb, const std::string& name) {
    ASSERT_EQ(rgb.size(), size_t(dib.Width()) * size_t(dib.Height()) * 3) << name;
    for (int32_t y = 0; y < dib.Height(); ++y)
        for (int32_t x = 0; x < dib.Width(); ++x) {
            const uint8_t* p = &rgb[(size_t(y) * size_t(dib.Width()) + size_t(x)) * 3];
            uint32_t expected = p[2] | (uint32_t(p[1]) << 8) | (uint32_t(p[0]) << 16);
            ASSERT_EQ(dib.GetPixelColor(x, y), expected) << name << " at " << x << "," << y;
        }
}

}  // namespace

TEST(PngInterop, ReadsFilesWrittenByPillowAndImageMagick) {
    if (!HavePillow()) GTEST_SKIP() << "python3-pil not installed";
    TempDir dir;
    {
        std::ofstream(dir.Path / "writer.py") << kPillowWriter;
    }
    ASSERT_EQ(std::system(("/usr/bin/python3 " + (dir.Path / "writer.py").string() + " " + dir.Path.string()).c_str()), 0);

    struct Case {
        std::string name;
        uint8_t format;
        int32_t dpi;
    };
    std::vector<Case> cases = {{"rgb8", fmt24Bit, 300},   {"rgba8", fmt24Bit, 0},   {"gray8", fmt8Bit, 72},
                               {"gray_alpha8", fmt8Bit, 0}, {"bilevel", fmt1Bit, 0}, {"palette1", fmt1Bit, 0},
                               {"palette2", fmt4Bit, 0},  {"palette4", fmt4Bit, 0}, {"palette8", fmt8Bit, 0},
                               {"gray16", fmt8Bit, 0}};
    if (HaveConvert()) {
        // ImageMagick (libpng): Adam7-interlaced and 16-bit versions of the Pillow files.
        struct Derived {
            const char* from;
            const char* to;
            const char* options;  // ending in the output format prefix when there is one
            bool ownPixels;       // the expected pixels are what Pillow reads from the new file
        } derived[] = {
            {"rgb8", "rgb8_adam7", "-interlace PNG PNG24:", false},
            {"rgb8", "rgb16_adam7", "-interlace PNG -depth 16 PNG48:", false},
            {"rgba8", "rgba16", "-depth 16 PNG64:", false},
            {"rgba8", "rgba8_adam7", "-interlace PNG PNG32:", false},
            {"gray8", "gray8_adam7", "-interlace PNG", false},
            {"gray8", "gray16_adam7", "-interlace PNG -depth 16 -define png:color-type=0 -define png:bit-depth=16", false},
            {"palette4", "palette4_adam7", "-interlace PNG -define png:bit-depth=4 -define png:color-type=3", false},
            {"palette8", "palette8_adam7", "-interlace PNG PNG8:", false},
            {"palette2", "gray2_adam7", "-colorspace gray -interlace PNG -define png:bit-depth=2 -define png:color-type=0", true},
            {"bilevel", "bilevel_adam7", "-interlace PNG -define png:bit-depth=1 -define png:color-type=0", false},
        };
        {
            std::ofstream(dir.Path / "rgb.py") << "import sys\nfrom PIL import Image\n"
                                                  "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGB').tobytes())\n";
        }
        for (const auto& d : derived) {
            std::string opts = d.options, prefix;
            if (!opts.empty() && opts.back() == ':') {
                size_t space = opts.rfind(' ');
                prefix = opts.substr(space + 1);
                opts = opts.substr(0, space);
            }
            fs::path from = dir.Path / (std::string(d.from) + ".png"), to = dir.Path / (std::string(d.to) + ".png");
            std::string cmd = "/usr/bin/convert " + from.string() + " " + opts + " " + prefix + to.string() + " 2>/dev/null";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            std::vector<uint8_t> made = ReadAll(to);
            ASSERT_GT(made.size(), 29u);
            if (opts.find("-interlace PNG") != std::string::npos) {
                EXPECT_EQ(made[28], 1) << d.to << " is not interlaced";
            }
            fs::path rgb = dir.Path / (std::string(d.to) + ".rgb");
            if (d.ownPixels) {
                std::string read = "/usr/bin/python3 " + (dir.Path / "rgb.py").string() + " " + to.string() + " " + rgb.string();
                ASSERT_EQ(std::system(read.c_str()), 0);
            } else {
                fs::copy_file(dir.Path / (std::string(d.from) + ".rgb"), rgb);
            }
            cases.push_back({d.to, 0, -1});
        }
    }
    for (const auto& c : cases) {
        std::vector<uint8_t> file = ReadAll(dir.Path / (c.name + ".png"));
        ASSERT_FALSE(file.empty()) << c.name;
        TDIB dib;
        TBufferStream s(file.data(), int64_t(file.size()));
        dib.LoadFromPngStream(s);
        if (c.dpi >= 0) {
            EXPECT_EQ(dib.ImageFormat, c.format) << c.name;
            EXPECT_EQ(dib.XResolution(), c.dpi) << c.name;
        }
        EXPECT_EQ(dib.Width(), 37);
        EXPECT_EQ(dib.Height(), 23);
        ExpectPixelsEqualRgb(dib, ReadAll(dir.Path / (c.name + ".rgb")), c.name);
    }
}

TEST(PngInterop, PillowReadsWhatWeWrite) {
    if (!HavePillow()) GTEST_SKIP() << "python3-pil not installed";
    TempDir dir;
    {
        std::ofstream(dir.Path / "reader.py") << kPillowReader;
    }
    struct Case {
        uint8_t format;
        const char* mode;
    } cases[] = {{fmt1Bit, "P"}, {fmt4Bit, "P"}, {fmt8Bit, "P"}, {fmt24Bit, "RGB"}};
    for (const auto& c : cases)
        for (int32_t w : {1, 45}) {
            TDIB dib;
            dib.CreateNew(w, 19, c.format, 300, 300);
            std::mt19937 rng(c.format * 100u + uint32_t(w));
            for (int32_t y = 0; y < dib.Height(); ++y)
                for (int32_t x = 0; x < dib.RowBytes; ++x) dib.Rows[size_t(y)][x] = uint8_t(y * 3 + x < 20 ? 0 : rng());
            for (int32_t i = 0; i < dib.PaletteSize; ++i) dib.SetPaletteEntry(i, rng() & 0xFFFFFF);
            std::string png = (dir.Path / "out.png").string();
            dib.SaveToPngFile(png);
            std::string cmd = "/usr/bin/python3 " + (dir.Path / "reader.py").string() + " " + png + " " +
                              (dir.Path / "info.txt").string() + " " + (dir.Path / "pixels.rgb").string();
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            std::ifstream info(dir.Path / "info.txt");
            std::string mode;
            int width = 0, height = 0, dpiX = 0, dpiY = 0;
            info >> mode >> width >> height >> dpiX >> dpiY;
            EXPECT_EQ(mode, c.mode);
            EXPECT_EQ(width, w);
            EXPECT_EQ(height, 19);
            EXPECT_EQ(dpiX, 300);
            EXPECT_EQ(dpiY, 300);
            ExpectPixelsEqualRgb(dib, ReadAll(dir.Path / "pixels.rgb"), "format " + std::to_string(c.format));
        }
}
