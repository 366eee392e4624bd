// Global thresholds: a fixed level, five ways of choosing a level from the page, error-diffusion
// binarization and the OR merge of two binarized pages.
//
// Conventions of this file: a level L is a gray value 0 ... 255 and a pixel is "above" the
// level when its value is strictly greater than L. Round is to nearest with ties to even,
// Trunc is toward zero. Floating-point steps run in long double (80-bit) unless a value is
// said to be held as a double, in which case it is stored into a double variable at exactly
// that step.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr const char* kNeeds8 = "This operation requires 8 bit per pixel bitmap !";
constexpr const char* kNeedsSame = "This operation requires same bit per pixel bitmap !";

// Level used when a page offers no information to choose one from.
constexpr int32_t kNeutralLevel = 127;

inline uint8_t clampByte(int32_t v) { return static_cast<uint8_t>(std::min(std::max(v, 0), 255)); }

int32_t truncToInt32(long double v) {
    // Trunc with the result kept inside the signed 32-bit range (NaN gives 0).
    if (!(v == v)) return 0;
    if (v >= 2147483647.0L) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0L) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(Trunc(v));
}

}  // namespace

// Threshold: every byte v of the RowBytes bytes of each row becomes HighValue when v > Level,
// LowValue otherwise. The 8-bit color table is left as it is; with ToBinary the result is then
// converted to 1 bit (0 -> black, anything else -> white).
namespace {

// One row of Threshold: a branch-free select so the loop vectorizes; built for AVX2 as well
// and chosen at load time by the processor (integer work: the same bytes either way).
[[gnu::target_clones("avx2", "default")]] void ThresholdRow(uint8_t* p, size_t n, uint8_t level, uint8_t lowValue,
                                                            uint8_t highValue) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t above = static_cast<uint8_t>(-static_cast<int>(p[i] > level));
        p[i] = static_cast<uint8_t>((highValue & above) | (lowValue & ~above));
    }
}

}  // namespace

void TDIB::Threshold(uint8_t level, bool toBinary, uint8_t lowValue, uint8_t highValue) {
    if (ImageFormat != fmt8Bit) throw Exception(kNeeds8);
    const int32_t h = Height();
    const size_t n = static_cast<size_t>(RowBytes);
    for (int32_t y = h - 1; y >= 0; --y) ThresholdRow(Rows[y], n, level, lowValue, highValue);  // storage order
    if (toBinary) ConvertToFormat(fmt1Bit);
}

// AutoThreshold: algorithms 0, 1, 2 and 4 work on GetHistogram of the image, algorithm 3 on
// its pixels; any other number uses the level 127 without looking at the image. The result
// is taken modulo 256 (so Lloyd's -1 of an empty page becomes 255), Threshold runs with it,
// and the level is returned. A format Threshold refuses is refused after the level was
// computed (4-bit images are already refused by GetHistogram).
uint8_t TDIB::AutoThreshold(uint8_t algorithm, bool toBinary, uint8_t lowValue, uint8_t highValue) {
    int32_t result = kNeutralLevel;
    THistogram histogram;
    switch (algorithm) {
        case 0: GetHistogram(histogram); result = OtsuThreshold(histogram); break;
        case 1: GetHistogram(histogram); result = LloydThreshold(histogram); break;
        case 2: GetHistogram(histogram); result = RidlerCalvardThreshold(histogram); break;
        case 3: result = UniformErrorThreshold(); break;
        case 4: GetHistogram(histogram); result = StdDevThreshold(histogram, 0.0); break;
        default: break;
    }
    const uint8_t level = static_cast<uint8_t>(static_cast<uint32_t>(result) & 0xFFu);
    Threshold(level, toBinary, lowValue, highValue);
    return level;
}

// Otsu's between-class variance on unnormalised counts. For each split k (dark class 0 ... k)
// with both classes occupied, s = (d / (N[k] (T - N[k]))) d with d = N[k] mu - M[k]; the first k
// with the largest s wins. N[k] are the cumulative counts, M[k] the cumulative moments held as
// doubles, T the total and mu = M[255] / T held as a double.
// Notes: a histogram with one occupied level (or none) has no split and gives 127.
int32_t TDIB::OtsuThreshold(const THistogram& histogram) {
    std::array<uint64_t, 256> cumCount;
    std::array<double, 256> cumMoment;
    uint64_t n = 0;
    double m = 0.0;
    for (int i = 0; i < 256; ++i) {
        n += histogram[i];
        const int64_t product = static_cast<int64_t>(static_cast<uint64_t>(i) * histogram[i]);
        m = static_cast<double>(static_cast<long double>(m) + static_cast<long double>(product));
        cumCount[i] = n;
        cumMoment[i] = m;
    }
    const int32_t total = static_cast<int32_t>(cumCount[255]);
    int32_t result = kNeutralLevel;
    if (total == 0) return result;  // no pixels: no split to look at
    const double mu = static_cast<double>(static_cast<long double>(cumMoment[255]) / static_cast<long double>(total));
    double best = 0.0;
    for (int k = 0; k < 256; ++k) {
        const int64_t nk = static_cast<int64_t>(cumCount[k]);
        if (nk == 0 || nk == static_cast<int64_t>(total)) continue;
        const double d = static_cast<double>(static_cast<long double>(nk) * static_cast<long double>(mu) -
                                             static_cast<long double>(cumMoment[k]));
        const int64_t weight = nk * (static_cast<int64_t>(total) - nk);
        const double s = static_cast<double>((static_cast<long double>(d) / static_cast<long double>(weight)) *
                                             static_cast<long double>(d));
        if (s > best) {
            best = s;
            result = k;
        }
    }
    return result;
}

// The rounded mean gray level, Round(sum i h[i] / sum h[i]) (one pass, no Lloyd-Max iteration).
// The moment is accumulated as a double. An empty histogram gives -1.
int32_t TDIB::LloydThreshold(const THistogram& histogram) {
    int64_t count = 0;
    double moment = 0.0;
    for (int i = 0; i < 256; ++i) {
        count += static_cast<int64_t>(histogram[i]);
        const int64_t product = static_cast<int64_t>(static_cast<uint64_t>(i) * histogram[i]);
        moment = static_cast<double>(static_cast<long double>(moment) + static_cast<long double>(product));
    }
    if (count == 0) return -1;
    return static_cast<int32_t>(Round(static_cast<long double>(moment) / static_cast<long double>(count)));
}

// Ridler and Calvard's iterative selection: start at the rounded mean T, then repeatedly take
// T' = Round((mean of 0 ... T + mean of T+1 ... 255) / 2) (each class mean held as a double, an
// empty class counting as T) until T' = T.
// Notes: an empty histogram gives 127. The iteration can fall into a cycle of levels that never
// agree; when a level comes back, the lowest level of the cycle is returned.
int32_t TDIB::RidlerCalvardThreshold(const THistogram& histogram) {
    int64_t count = 0, moment = 0;
    for (int i = 0; i < 256; ++i) {
        count += static_cast<int64_t>(histogram[i]);
        moment += static_cast<int64_t>(i) * static_cast<int64_t>(histogram[i]);
    }
    if (count == 0) return kNeutralLevel;
    int32_t t = static_cast<int32_t>(Round(static_cast<long double>(moment) / static_cast<long double>(count)));
    std::array<bool, 256> seen{};
    std::vector<int32_t> path;
    for (;;) {
        seen[t] = true;
        path.push_back(t);
        int64_t lowCount = 0, lowSum = 0, highCount = 0, highSum = 0;
        for (int i = 0; i <= t; ++i) {
            lowCount += static_cast<int64_t>(histogram[i]);
            lowSum += static_cast<int64_t>(i) * static_cast<int64_t>(histogram[i]);
        }
        for (int i = t + 1; i < 256; ++i) {
            highCount += static_cast<int64_t>(histogram[i]);
            highSum += static_cast<int64_t>(i) * static_cast<int64_t>(histogram[i]);
        }
        const double lowMean = lowCount == 0 ? static_cast<double>(t)
                                             : static_cast<double>(static_cast<long double>(lowSum) / lowCount);
        const double highMean = highCount == 0 ? static_cast<double>(t)
                                               : static_cast<double>(static_cast<long double>(highSum) / highCount);
        const int32_t next = static_cast<int32_t>(
            Round((static_cast<long double>(lowMean) + static_cast<long double>(highMean)) / 2.0L));
        if (next == t) return t;
        if (seen[next]) {
            // A cycle: the levels from the first visit of Next up to T repeat for ever.
            auto first = std::find(path.begin(), path.end(), next);
            return *std::min_element(first, path.end());
        }
        t = next;
    }
}

// Uniform error threshold on the 2 x 2 blocks of the page (rows and columns in steps of two; a
// last odd row or column takes no part). From the sorted values q1 <= q2 <= q3 <= q4 of every
// block, suffix sums give for each v the number A[v] of block pixels >= v, B[v] of same-block
// pixel pairs both >= v and C[v] of blocks all >= v. Eight bisection steps on t in 0 ... 255
// keep the lower half when sqrt((b^2 - c) / (a^2 - b)) >= 1 (a, b, c = the fractions above t,
// held as doubles; v = 0 when a^2 - b is exactly 0; a negative radicand keeps the upper half)
// and the last t tried is returned.
// Notes: a page without a single 2 x 2 block (one pixel high or wide, or empty) gives 127. The
// pixels are read as 8-bit values, so any other format is refused.
int32_t TDIB::UniformErrorThreshold() {
    if (ImageFormat != fmt8Bit) throw Exception(kNeeds8);
    std::array<int64_t, 257> a{}, b{}, c{};
    const int32_t w = Width(), h = Height();
    for (int32_t y = 0; y < h - 1; y += 2) {
        const uint8_t* r0 = Rows[y];
        const uint8_t* r1 = Rows[y + 1];
        for (int32_t x = 0; x < w - 1; x += 2) {
            uint8_t q[4] = {r0[x], r0[x + 1], r1[x], r1[x + 1]};
            // Sorting network for four values.
            if (q[0] > q[1]) std::swap(q[0], q[1]);
            if (q[2] > q[3]) std::swap(q[2], q[3]);
            if (q[0] > q[2]) std::swap(q[0], q[2]);
            if (q[1] > q[3]) std::swap(q[1], q[3]);
            if (q[1] > q[2]) std::swap(q[1], q[2]);
            ++a[q[0]];
            ++a[q[1]];
            ++a[q[2]];
            ++a[q[3]];
            b[q[0]] += 3;
            b[q[1]] += 2;
            b[q[2]] += 1;
            ++c[q[0]];
        }
    }
    for (int v = 255; v >= 0; --v) {
        a[v] += a[v + 1];
        b[v] += b[v + 1];
        c[v] += c[v + 1];
    }
    const int64_t nA = a[0], nB = b[0], nC = c[0];
    if (nC == 0) return kNeutralLevel;  // no block: the fractions would be 0 / 0
    int32_t lo = 0, hi = 255, t = 0;
    while (lo != hi - 1) {
        t = (lo + hi) / 2;
        const double fa = static_cast<double>(static_cast<long double>(a[t + 1]) / nA);
        const double fb = static_cast<double>(static_cast<long double>(b[t + 1]) / nB);
        const double fc = static_cast<double>(static_cast<long double>(c[t + 1]) / nC);
        const long double den = static_cast<long double>(fa) * fa - fb;
        bool keepLow;
        if (den == 0.0L) {
            keepLow = false;  // v = 0, v - 1 < 0
        } else {
            const long double radicand = (static_cast<long double>(fb) * fb - fc) / den;
            keepLow = radicand >= 0.0L && std::sqrt(radicand) - 1.0L >= 0.0L;
        }
        if (keepLow)
            lo = t;
        else
            hi = t;
    }
    return t;
}

// Mean plus K standard deviations of the histogram: p[i] = h[i] / N held as doubles, the mean
// accumulated as a double over i = 1 ... 255, the variance in long double, and the result
// Trunc(mean + K sigma). With K = 0 this is the truncated mean level (LloydThreshold gives
// the rounded one).
// Notes: an empty histogram gives 127; a result outside the signed 32-bit range is clamped to it.
int32_t TDIB::StdDevThreshold(const THistogram& histogram, double k) {
    uint64_t n = 0;
    for (int i = 0; i < 256; ++i) n += histogram[i];
    if (n == 0) return kNeutralLevel;
    std::array<double, 256> p;
    for (int i = 0; i < 256; ++i)
        p[i] = static_cast<double>(static_cast<long double>(histogram[i]) / static_cast<long double>(n));
    double mean = 0.0;
    for (int i = 1; i < 256; ++i)
        mean = static_cast<double>(static_cast<long double>(mean) + static_cast<long double>(i) * p[i]);
    long double var = 0.0L;
    for (int i = 0; i < 256; ++i) {
        const long double dev = static_cast<long double>(i) - mean;
        var += dev * dev * p[i];
    }
    const long double sigma = std::sqrt(var);
    return truncToInt32(static_cast<long double>(mean) + static_cast<long double>(k) * sigma);
}

namespace {

// The lowest and highest of N bytes, folded into Lo and Hi (vector loop; built for AVX2 as
// well and chosen at load time).
[[gnu::target_clones("avx2", "default")]] void RowMinMax(const uint8_t* __restrict p, size_t n, uint8_t& lo, uint8_t& hi) {
    uint8_t l = lo, u = hi;
    for (size_t i = 0; i < n; ++i) {
        l = p[i] < l ? p[i] : l;
        u = p[i] > u ? p[i] : u;
    }
    lo = l, hi = u;
}

// The output value and the four error shares of a pixel value (see FloydSteinbergDither).
struct DitherShare {
    int32_t E7, E3, E5, E1;
    uint8_t Out;
};

// The error diffusion along one row. The pixel about to be visited and the three pixels below
// that take its error are carried in registers: Cur = (x, y), Bl = (x - 1, y + 1),
// Bc = (x, y + 1); (x + 1, y + 1) is untouched until x reaches it. Each addition is clamped on
// its own, in the same order as pixel by pixel. The output value and the four shares depend on
// the (clamped) value of the pixel alone, so they come from per-value tables, which keeps the
// chain from one pixel to the next short.
struct DitherChain {
    uint8_t* Row;
    uint8_t* Below;
    int32_t Cur, Bl, Bc;
    DitherChain(uint8_t* row, uint8_t* below) : Row(row), Below(below), Cur(row[1]), Bl(below[0]), Bc(below[1]) {}
    void Step(const std::array<DitherShare, 256>& shares, int32_t x) {
        const DitherShare& sh = shares[static_cast<size_t>(Cur)];
        Row[x] = sh.Out;
        Cur = clampByte(Row[x + 1] + sh.E7);
        Below[x - 1] = clampByte(Bl + sh.E3);
        Bl = clampByte(Bc + sh.E5);
        Bc = clampByte(Below[x + 1] + sh.E1);
    }
    void Finish(int32_t w) {
        Row[w - 1] = static_cast<uint8_t>(Cur);
        Below[w - 2] = static_cast<uint8_t>(Bl);
        Below[w - 1] = static_cast<uint8_t>(Bc);
    }
};

}  // namespace

// Floyd-Steinberg error diffusion with the error measured against the page's own gray range:
// min and max are the lowest and highest occupied levels, mid = (min + max) shr 1. A pixel
// above mid becomes HighValue with error v - max, otherwise LowValue with error v - min; the
// error goes 7/16 right, 3/16 down-left, 5/16 down, 1/16 down-right, each share truncated toward
// zero on its own and each neighbour clamped to 0 ... 255 after the addition.
// Notes: only the inner pixels x = 1 ... Width - 2 of rows 0 ... Height - 2 spread an error; the
// first and last pixel of each row and the whole last row are thresholded against mid without
// spreading. A one-pixel-wide page is thresholded pixel by pixel (each pixel once).
void TDIB::FloydSteinbergDither(bool toBinary, uint8_t lowValue, uint8_t highValue) {
    if (ImageFormat != fmt8Bit) throw Exception(kNeeds8);
    const int32_t w = Width(), h = Height();
    // The lowest and highest occupied bins of GetHistogram: with the gray table the lowest and
    // highest pixel values, found directly.
    int32_t minLevel = 0, maxLevel = 0;
    if (IsGrayPalette()) {
        uint8_t lo = 255, hi = 0;
        for (int32_t y = h - 1; y >= 0; --y) RowMinMax(Rows[y], static_cast<size_t>(w), lo, hi);
        if (w > 0 && h > 0) minLevel = lo, maxLevel = hi;
    } else {
        THistogram histogram;
        GetHistogram(histogram);
        for (int i = 0; i < 256; ++i)
            if (histogram[i] != 0) {
                minLevel = i;
                break;
            }
        for (int i = 255; i >= 0; --i)
            if (histogram[i] != 0) {
                maxLevel = i;
                break;
            }
    }
    const int32_t mid = (minLevel + maxLevel) >> 1;
    auto edge = [&](uint8_t& v) { v = v > mid ? highValue : lowValue; };
    // For a pixel of value v: its output and the shares (e * 7) / 16, (e * 3) / 16,
    // (e * 5) / 16 and e / 16 of its error e = v - (maxLevel or minLevel), divided toward zero.
    std::array<DitherShare, 256> shares;
    for (int32_t v = 0; v < 256; ++v) {
        const int32_t e = v - (v > mid ? maxLevel : minLevel);
        shares[static_cast<size_t>(v)] =
            DitherShare{(e * 7) / 16, (e * 3) / 16, (e * 5) / 16, e / 16, v > mid ? highValue : lowValue};
    }
    auto finish = [&](DitherChain& c) {
        c.Finish(w);
        edge(c.Row[0]);
        if (w > 1) edge(c.Row[w - 1]);
    };
    int32_t y = 0;
    if (w >= 4) {
        // Two rows at once, the lower one two pixels behind: each pixel still receives its
        // shares in the order of the pixel-by-pixel walk (from the row above, left to right,
        // before its left neighbour's), and the two chains of dependent steps interleave.
        for (; y + 2 < h; y += 2) {
            DitherChain a(Rows[y], Rows[y + 1]);
            a.Step(shares, 1);
            a.Step(shares, 2);
            DitherChain b(Rows[y + 1], Rows[y + 2]);
            for (int32_t x = 3; x + 1 < w; ++x) {
                a.Step(shares, x);
                b.Step(shares, x - 2);
            }
            finish(a);
            b.Step(shares, w - 3);
            b.Step(shares, w - 2);
            finish(b);
        }
    }
    for (; y + 1 < h; ++y) {
        if (w >= 3) {
            DitherChain c(Rows[y], Rows[y + 1]);
            for (int32_t x = 1; x + 1 < w; ++x) c.Step(shares, x);
            c.Finish(w);
        }
        if (w > 0) edge(Rows[y][0]);
        if (w > 1) edge(Rows[y][w - 1]);
    }
    if (h > 0) {
        uint8_t* row = Rows[h - 1];
        for (int32_t x = 0; x < w; ++x) edge(row[x]);
    }
    if (toBinary) ConvertToFormat(fmt1Bit);
}

// Bytewise OR of Other's RowBytes bytes of every row into this image. Both images must agree
// in format, RowBytes and Height (their widths may differ within the same RowBytes). On two
// 1-bit pages with the standard table a pixel stays black only where both are black.
void TDIB::OrImage(const TDIB& other) {
    if (ImageFormat != other.ImageFormat || RowBytes != other.RowBytes || Height() != other.Height())
        throw Exception(kNeedsSame);
    const int32_t h = Height();
    const size_t n = static_cast<size_t>(RowBytes);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* d = Rows[y];
        const uint8_t* s = other.Rows[y];
        for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(d[i] | s[i]);
    }
}

}  // namespace qil
