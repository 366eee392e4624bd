// Black border removal: finding the page inside the dark bands a scanner leaves along the
// edges, and painting the bands with the page's background.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "cleanup/span_fill.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr const char* kNeeds1 = "This operation requires 1 bit per pixel bitmap !";

// For a 24-bit pixel with stored bytes blue b and green g, the smallest red byte r for which
// Trunc(0.3 * b + 0.59 * g + 0.11 * r) >= 128 (256 when there is none), the products and the
// sums taken in extended precision in that order. The sum only grows with r, so the light
// test of a pixel becomes r >= table[b << 8 | g], bit for bit the same answer as the formula.
const std::array<uint16_t, 65536>& MinLightRed() {
    static const std::array<uint16_t, 65536> table = [] {
        std::array<uint16_t, 65536> t{};
        long double blue[256], green[256], red[257];
        for (int i = 0; i < 256; ++i) {
            blue[i] = 0.3L * static_cast<long double>(i);
            green[i] = 0.59L * static_cast<long double>(i);
            red[i] = 0.11L * static_cast<long double>(i);
        }
        for (int b = 0; b < 256; ++b)
            for (int g = 0; g < 256; ++g) {
                const long double s = blue[b] + green[g];
                int lo = 0, hi = 256;
                while (lo < hi) {
                    const int mid = (lo + hi) / 2;
                    const long double gray = s + red[mid];
                    if (Trunc(gray) >= 128)
                        hi = mid;
                    else
                        lo = mid + 1;
                }
                t[static_cast<size_t>(b << 8 | g)] = static_cast<uint16_t>(lo);
            }
        return t;
    }();
    return table;
}

// The light count a line must exceed to be content: round(length * percent / 100) in extended
// precision. Values beyond the possible counts are held at -1 (every line is content) or at the
// length (no line is), which leaves every comparison as it was and keeps the rounding defined;
// a percentage that is not a number makes no line content.
int64_t ContentThreshold(int32_t length, double percent) {
    const long double t = static_cast<long double>(length) * static_cast<long double>(percent) / 100.0L;
    if (std::isnan(t)) return length;
    if (t < -1.0L) return -1;
    if (t > static_cast<long double>(length)) return length;
    return Round(t);
}

// Run length of a scan: MinRun, or about one millimetre at the given resolution when MinRun is
// negative. A negative resolution (a damaged header) gives 0 rather than a negative length,
// which would move the side past the content line it found.
int32_t ScanRun(int32_t minRun, int32_t resolution) {
    if (minRun >= 0) return minRun;
    const int64_t r = Round(static_cast<long double>(resolution) / 25.0L);
    return r < 0 ? 0 : static_cast<int32_t>(r);
}

// Scans lines 0, 1, ... n - 1; the first line that begins a stretch of run + 1 content lines,
// else the last content line met, else 0.
template <class IsContent>
int32_t ScanUp(int32_t n, int32_t run, IsContent isContent) {
    int32_t result = 0, count = 0;
    for (int32_t l = 0; l < n; ++l) {
        if (isContent(l)) {
            result = l;
            if (++count > run) return l - run;
        } else {
            count = 0;
        }
    }
    return result;
}

// The mirror of ScanUp: lines n - 1, ... 0, initial result n - 1.
template <class IsContent>
int32_t ScanDown(int32_t n, int32_t run, IsContent isContent) {
    int32_t result = n - 1, count = 0;
    for (int32_t l = n - 1; l >= 0; --l) {
        if (isContent(l)) {
            result = l;
            if (++count > run) return l + run;
        } else {
            count = 0;
        }
    }
    return result;
}

// Light counts of the columns of an image, computed a block of neighbouring columns at a time
// (one pass over the rows reads a few bytes of each row) and only for the blocks a scan visits.
class ColumnCounts {
public:
    static constexpr int32_t kBlock = 64;

    ColumnCounts(int32_t width, int32_t height, const std::vector<uint8_t*>& rows, uint8_t format, int32_t whiteIndex)
        : width_(width), height_(height), rows_(rows), format_(format), whiteIndex_(whiteIndex),
          counts_(static_cast<size_t>(width), 0), done_(static_cast<size_t>((width + kBlock - 1) / kBlock), false) {
        if (format_ == fmt8Bit)
            for (int v = 0; v < 256; ++v) light8_[v] = whiteIndex_ == 255 ? v >= 128 : v <= 128;
    }

    int32_t operator()(int32_t x) {
        const size_t block = static_cast<size_t>(x / kBlock);
        if (!done_[block]) {
            Compute(static_cast<int32_t>(block) * kBlock, std::min(width_, static_cast<int32_t>(block + 1) * kBlock));
            done_[block] = true;
        }
        return counts_[static_cast<size_t>(x)];
    }

private:
    void Compute(int32_t x0, int32_t x1) {
        int32_t* c = counts_.data() + x0;
        const int32_t n = x1 - x0;
        switch (format_) {
            case fmt1Bit: {
                // x0 is a multiple of 64, so the block is the bytes x0 / 8 ... (x1 - 1) / 8.
                for (int32_t y = 0; y < height_; ++y) {
                    const uint8_t* p = rows_[static_cast<size_t>(y)] + x0 / 8;
                    for (int32_t i = 0; i < n; ++i) c[i] += (p[i >> 3] >> (7 - (i & 7))) & 1;
                }
                if (whiteIndex_ != 1)
                    for (int32_t i = 0; i < n; ++i) c[i] = height_ - c[i];
                break;
            }
            case fmt8Bit:
                for (int32_t y = 0; y < height_; ++y) {
                    const uint8_t* p = rows_[static_cast<size_t>(y)] + x0;
                    for (int32_t i = 0; i < n; ++i) c[i] += light8_[p[i]];
                }
                break;
            case fmt24Bit: {
                const auto& minRed = MinLightRed();
                for (int32_t y = 0; y < height_; ++y) {
                    const uint8_t* p = rows_[static_cast<size_t>(y)] + 3 * static_cast<ptrdiff_t>(x0);
                    for (int32_t i = 0; i < n; ++i, p += 3) c[i] += p[2] >= minRed[static_cast<size_t>(p[0] << 8 | p[1])];
                }
                break;
            }
            default: break;
        }
    }

    int32_t width_, height_;
    const std::vector<uint8_t*>& rows_;
    uint8_t format_;
    int32_t whiteIndex_;
    std::vector<int32_t> counts_;
    std::vector<bool> done_;
    std::array<uint8_t, 256> light8_{};
};

}  // namespace

int32_t TDIB::CountRowOnes(int32_t Y) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    if (RowBytes <= 0) return 0;
    const uint8_t* p = Rows[static_cast<size_t>(Y)];
    const int32_t full = RowBytes - 1;  // every byte but the last is wholly inside the row
    int32_t ones = 0, i = 0;
    for (; i + 8 <= full; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        ones += std::popcount(word);
    }
    for (; i < full; ++i) ones += std::popcount(p[i]);
    const int32_t lastBits = Width() - 8 * full;  // 1 ... 8
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> lastBits);
    return ones + std::popcount(static_cast<uint8_t>(p[full] & mask));
}

int32_t TDIB::CountColumnOnes(int32_t X) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    const int32_t h = Height();
    const size_t byte = static_cast<size_t>(X / 8);
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (X % 8));
    int32_t ones = 0;
    for (int32_t y = 0; y < h; ++y) ones += (Rows[static_cast<size_t>(y)][byte] & bit) != 0;
    return ones;
}

void TDIB::FindBlackBorder(int32_t MinRun, TRect& Rect, double Percent) {
    const int32_t w = Width(), h = Height();
    Rect = TRect{0, 0, w - 1, h - 1};
    if (!Header) return;
    const uint8_t format = ImageFormat;
    if (format != fmt1Bit && format != fmt8Bit && format != fmt24Bit) return;

    const int32_t white = WhiteIndex();
    const int64_t columnThreshold = ContentThreshold(h, Percent);
    const int64_t rowThreshold = ContentThreshold(w, Percent);
    const int32_t runX = ScanRun(MinRun, XResolution());
    const int32_t runY = ScanRun(MinRun, YResolution());

    ColumnCounts columns(w, h, Rows, format, white);
    auto columnIsContent = [&](int32_t x) { return columns(x) > columnThreshold; };

    std::array<uint8_t, 256> light8{};
    for (int v = 0; v < 256; ++v) light8[v] = white == 255 ? v >= 128 : v <= 128;
    auto rowLight = [&](int32_t y) -> int32_t {
        const uint8_t* p = Rows[static_cast<size_t>(y)];
        int32_t n = 0;
        switch (format) {
            case fmt1Bit: {
                const int32_t ones = CountRowOnes(y);
                return white == 1 ? ones : w - ones;
            }
            case fmt8Bit:
                for (int32_t x = 0; x < w; ++x) n += light8[p[x]];
                return n;
            default: {
                const auto& minRed = MinLightRed();
                for (int32_t x = 0; x < w; ++x, p += 3) n += p[2] >= minRed[static_cast<size_t>(p[0] << 8 | p[1])];
                return n;
            }
        }
    };
    auto rowIsContent = [&](int32_t y) { return rowLight(y) > rowThreshold; };

    const int32_t left = ScanUp(w, runX, columnIsContent);
    const int32_t top = ScanUp(h, runY, rowIsContent);
    const int32_t right = ScanDown(w, runX, columnIsContent);
    const int32_t bottom = ScanDown(h, runY, rowIsContent);
    Rect = TRect{left, top, right, bottom};
}

int32_t TDIB::BackgroundIndex() {
    if (ImageFormat == fmt1Bit) return WhiteIndex();
    THistogram histogram;
    GetHistogram(histogram);
    const bool darkWhite = WhiteIndex() == 0;
    const int32_t first = darkWhite ? 0 : 128, last = darkWhite ? 128 : 255;
    int32_t best = 255;
    for (int32_t c = first; c <= last; ++c)
        if (histogram[static_cast<size_t>(c)] > histogram[static_cast<size_t>(best)]) best = c;
    if (ImageFormat == fmt24Bit) return best + 256 * best + 65536 * best;
    return best;
}

void TDIB::ClearOutsideRect(const TRect& Rect) {
    const int32_t v = BackgroundIndex();
    const int32_t w = Width(), h = Height();
    if (Rect.Top > 0) detail::FillRectClipped(*this, TRect{0, 0, w - 1, Rect.Top - 1}, v);
    if (Rect.Bottom < h - 1) detail::FillRectClipped(*this, TRect{0, Rect.Bottom + 1, w - 1, h - 1}, v);
    if (Rect.Left > 0) detail::FillRectClipped(*this, TRect{0, 0, Rect.Left - 1, h - 1}, v);
    if (Rect.Right < w - 1) detail::FillRectClipped(*this, TRect{Rect.Right + 1, 0, w - 1, h - 1}, v);
}

}  // namespace qil
