// Helpers of the image-file tests: a scratch directory, drawn test images, pixel comparison
// and calls of the command-line tools the interoperability tests use.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib/dib.h"

namespace qil::testing_files {

// A directory that lives for one test.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qil-files-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream f(name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A deterministic picture in every format: diagonal bands and a frame, so that a flipped,
// shifted, mirrored or channel-swapped copy differs.
inline void DrawTestImage(TDIB& d, int32_t w, int32_t h, uint8_t format, int32_t dpi = 300) {
    d.CreateNew(w, h, format, dpi, dpi);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t v = (x * 7 + y * 13 + (x * y) / 5) & 255;
            bool frame = x == 0 || y == 0 || x == w - 1;
            switch (format) {
                case fmt1Bit: d.SetPixel(x, y, frame || ((x + 2 * y) % 7 < 3) ? 1 : 0); break;
                case fmt4Bit: d.SetPixel(x, y, frame ? 15 : v & 15); break;
                case fmt8Bit: d.SetPixel(x, y, frame ? 255 : v); break;
                default: d.SetPixel(x, y, frame ? 0x0000FF : (v | (((x * 3) & 255) << 8) | (((y * 5 + 40) & 255) << 16))); break;
            }
        }
}

// Pixel bytes of every row equal (padding ignored).
inline ::testing::AssertionResult SamePixels(const TDIB& a, const TDIB& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.ImageFormat != b.ImageFormat)
        return ::testing::AssertionFailure() << "size or format differ: " << a.Width() << "x" << a.Height() << " fmt "
                                             << int(a.ImageFormat) << " vs " << b.Width() << "x" << b.Height() << " fmt "
                                             << int(b.ImageFormat);
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t i = 0; i < a.RowBytes; ++i)
            if (a.Rows[y][i] != b.Rows[y][i])
                return ::testing::AssertionFailure() << "row " << y << " byte " << i << ": " << int(a.Rows[y][i]) << " vs "
                                                     << int(b.Rows[y][i]);
    return ::testing::AssertionSuccess();
}

// Largest difference of any pixel byte (for lossy codecs).
inline int MaxByteDifference(const TDIB& a, const TDIB& b) {
    int worst = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t i = 0; i < a.RowBytes; ++i) worst = std::max(worst, std::abs(int(a.Rows[y][i]) - int(b.Rows[y][i])));
    return worst;
}

// Runs a shell command line; answers its exit status.
inline int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) { return Shell("command -v " + name + " >/dev/null 2>&1") == 0; }

// The system Python with Pillow, for fixtures written by Pillow.
inline bool HavePillow() { return Shell("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0; }

}  // namespace qil::testing_files
