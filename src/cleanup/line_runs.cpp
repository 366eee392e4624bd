// The run finders read the page 64 pixels at a time: each row is turned into words of "black"
// bits (bit 63 the leftmost pixel, whatever bit value the color table makes black), and the
// vertical finder scans the columns as rows of the bit-transposed page. Both give the runs, in
// the order, that a pixel-by-pixel scan gives.
#include "cleanup/line_runs.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/exceptions.h"

namespace qil::detail {

namespace {

constexpr const char* kNeeds1 = "This operation requires 1 bit per pixel bitmap !";

// One row of black bits, `n` pixels long; the bits after pixel n - 1 are 0.
class BitLine {
public:
    BitLine(const uint64_t* words, int32_t n) : w_(words), n_(n) {}

    bool Black(int32_t k) const { return (w_[k >> 6] >> (63 - (k & 63))) & 1; }

    // The first black pixel at or after `from`, or n.
    int32_t NextBlack(int32_t from) const {
        if (from >= n_) return n_;
        int32_t i = from >> 6;
        uint64_t word = w_[i] & (~uint64_t(0) >> (from & 63));
        const int32_t last = (n_ - 1) >> 6;
        while (word == 0) {
            if (++i > last) return n_;
            word = w_[i];
        }
        return std::min(n_, i * 64 + std::countl_zero(word));
    }

    // The first white pixel at or after `from`, or n.
    int32_t NextWhite(int32_t from) const {
        if (from >= n_) return n_;
        int32_t i = from >> 6;
        uint64_t word = ~w_[i] & (~uint64_t(0) >> (from & 63));
        const int32_t last = (n_ - 1) >> 6;
        while (word == 0) {
            if (++i > last) return n_;
            word = ~w_[i];
        }
        return std::min(n_, i * 64 + std::countl_zero(word));
    }

private:
    const uint64_t* w_;
    int32_t n_;
};

// The runs of one row, in the run finder's own steps; `emit`(start, end) for each run of at
// least minLength pixels.
template <class Emit>
void RunsOfLine(const BitLine& line, int32_t n, int32_t minLength, int32_t maxHoles, Emit emit) {
    int32_t x = line.NextBlack(0);
    while (x < n) {
        int32_t k = x + 1, holes = 0;
        for (;;) {
            // The allowance: MaxHoles, or one hole per 64 pixels of the run so far.
            if (holes > maxHoles && holes > (k - x + 1) / 64) break;
            k = line.NextWhite(k);
            if (k >= n) break;
            ++holes;
            ++k;
        }
        if (k >= n) k = n - 1;
        while (k >= x && !line.Black(k)) --k;
        if (k - x + 1 >= minLength) emit(x, k);
        // The pixel right after the run is passed over: the scan goes on two pixels later.
        x = line.NextBlack(k + 2);
    }
}

// Black bits of image row y into `out` (wordsPerRow words), the bits after the last pixel 0.
void LoadBlackWords(const TDIB& dib, int32_t y, bool blackIsOne, int32_t wordsPerRow, uint64_t* out,
                    std::vector<uint8_t>& scratch) {
    const int32_t w = dib.Header->biWidth;
    scratch.assign(static_cast<size_t>(wordsPerRow) * 8, 0);
    std::memcpy(scratch.data(), dib.Rows[static_cast<size_t>(y)], static_cast<size_t>(dib.RowBytes));
    for (int32_t i = 0; i < wordsPerRow; ++i) {
        uint64_t v;
        std::memcpy(&v, scratch.data() + 8 * i, 8);
        if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
        out[i] = blackIsOne ? v : ~v;
    }
    if (wordsPerRow > 0) {
        const int32_t tail = w - 64 * (wordsPerRow - 1);  // 1 ... 64 pixels in the last word
        out[wordsPerRow - 1] &= tail == 64 ? ~uint64_t(0) : ~(~uint64_t(0) >> tail);
    }
}

// Transposes a 64 x 64 bit block in place: bit 63 - j of word i becomes bit 63 - i of word j.
void Transpose64(uint64_t a[64]) {
    uint64_t m = 0x00000000FFFFFFFFull;
    for (int j = 32; j != 0; j >>= 1, m ^= (m << j)) {
        for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
            const uint64_t t = (a[k] ^ (a[k | j] >> j)) & m;
            a[k] ^= t;
            a[k | j] ^= (t << j);
        }
    }
}

}  // namespace

// Every run of at least minLength pixels, in row order (columns for the vertical direction)
// and along each row in pixel order, as LineSeg records with Lo = Hi = the row.
std::vector<LineSeg> FindLineRuns(TDIB& dib, bool horizontal, int32_t minLength, int32_t maxHoles) {
    if (dib.ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    std::vector<LineSeg> runs;
    const int32_t w = dib.Width(), h = dib.Height();
    if (w <= 0 || h <= 0) return runs;
    const bool blackIsOne = dib.BlackIndex() > 0;
    const int32_t wordsPerRow = (w + 63) / 64;
    std::vector<uint8_t> scratch;

    if (horizontal) {
        std::vector<uint64_t> row(static_cast<size_t>(wordsPerRow));
        for (int32_t y = 0; y < h; ++y) {
            LoadBlackWords(dib, y, blackIsOne, wordsPerRow, row.data(), scratch);
            RunsOfLine(BitLine(row.data(), w), w, minLength, maxHoles,
                       [&](int32_t a, int32_t b) { runs.push_back(LineSeg{y, y, a, b}); });
        }
        return runs;
    }

    // Columns as rows of the transposed page: column x is h bits in wordsPerColumn words.
    const int32_t wordsPerColumn = (h + 63) / 64;
    std::vector<uint64_t> columns(static_cast<size_t>(wordsPerColumn) * static_cast<size_t>(wordsPerRow) * 64);
    std::vector<uint64_t> band(static_cast<size_t>(wordsPerRow) * 64);
    uint64_t block[64];
    for (int32_t by = 0; by < wordsPerColumn; ++by) {
        std::fill(band.begin(), band.end(), 0);
        const int32_t rowsHere = std::min(64, h - 64 * by);
        for (int32_t r = 0; r < rowsHere; ++r)
            LoadBlackWords(dib, 64 * by + r, blackIsOne, wordsPerRow, band.data() + static_cast<size_t>(r) * wordsPerRow,
                           scratch);
        for (int32_t bx = 0; bx < wordsPerRow; ++bx) {
            for (int32_t r = 0; r < 64; ++r) block[r] = band[static_cast<size_t>(r) * wordsPerRow + bx];
            Transpose64(block);
            for (int32_t c = 0; c < 64; ++c)
                columns[static_cast<size_t>(64 * bx + c) * wordsPerColumn + by] = block[c];
        }
    }
    for (int32_t x = 0; x < w; ++x) {
        const uint64_t* col = columns.data() + static_cast<size_t>(x) * wordsPerColumn;
        RunsOfLine(BitLine(col, h), h, minLength, maxHoles, [&](int32_t a, int32_t b) { runs.push_back(LineSeg{x, x, a, b}); });
    }
    return runs;
}

// Groups runs into lines. `lines` may hold earlier records (they come first and are tested
// first); each run joins the first line, in creation order, that it touches when the line is
// grown by one row on either side, else it starts a new line. Runs arrive in row order, so a
// line created here whose last row lies more than one row above the current run can never be
// touched again and is no longer tested; the first line found is the same one.
void GroupLineRuns(const std::vector<LineSeg>& runs, std::vector<LineSeg>& lines) {
    const size_t earlier = lines.size();
    auto touches = [](const LineSeg& l, const LineSeg& r) {
        // RectsIntersect of (line grown by one row) and the run, on well-formed ranges.
        const int64_t lo = int64_t(l.Lo) - 1, hi = int64_t(l.Hi) + 1;
        return lo <= r.Hi && r.Lo <= hi && l.Start <= r.End && r.Start <= l.End;
    };
    auto join = [](LineSeg& l, const LineSeg& r) {
        l.Lo = std::min(l.Lo, r.Lo);
        l.Start = std::min(l.Start, r.Start);
        l.Hi = std::max(l.Hi, r.Hi);
        l.End = std::max(l.End, r.End);
    };
    std::vector<size_t> active;  // lines created here that can still be touched, in creation order
    int32_t currentRow = 0;
    bool first = true;
    for (const LineSeg& r : runs) {
        if (first || r.Lo != currentRow) {
            currentRow = r.Lo;
            first = false;
            std::erase_if(active, [&](size_t j) { return int64_t(lines[j].Hi) + 1 < currentRow; });
        }
        bool joined = false;
        for (size_t j = 0; j < earlier && !joined; ++j)
            if (touches(lines[j], r)) {
                join(lines[j], r);
                joined = true;
            }
        for (size_t a = 0; a < active.size() && !joined; ++a)
            if (touches(lines[active[a]], r)) {
                join(lines[active[a]], r);
                joined = true;
            }
        if (!joined) {
            active.push_back(lines.size());
            lines.push_back(r);
        }
    }
}

// Length along the line divided by its thickness, in extended precision, at least MinRatio.
bool LineLongEnough(const LineSeg& l, double minRatio) {
    const long double ratio = static_cast<long double>(int64_t(l.End) - l.Start + 1) /
                              static_cast<long double>(int64_t(l.Hi) - l.Lo + 1);
    return ratio >= static_cast<long double>(minRatio);
}

std::vector<LineSeg> FindLineSegs(TDIB& dib, bool horizontal, int32_t minLength, int32_t maxHoles, double minRatio) {
    std::vector<LineSeg> lines;
    GroupLineRuns(FindLineRuns(dib, horizontal, minLength, maxHoles), lines);
    std::erase_if(lines, [&](const LineSeg& l) { return !LineLongEnough(l, minRatio); });
    return lines;
}

}  // namespace qil::detail
