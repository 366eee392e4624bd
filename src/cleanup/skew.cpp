// Skew estimation by projection profiles along slanted lines.
//
// For each candidate slope s (a drop of s rows over the page width) staircase lines are
// drawn from evenly spaced starting rows: s + 1 horizontal segments of W div (s + 1) pixels,
// each one row lower than the one before, falling toward the right (Left lines) or rising
// toward the right (Right lines). The dark pixels along each line form a profile; lines that
// run along text rows collect many, lines between rows almost none, so the slope whose
// profile deviates most (SumSquaredDeviation) is the skew. The result is arcsin(shift / W)
// in degrees, positive when the text lines rise toward the right.
//
// Notes:
//  - |Angle| < 0.1 answers 0 without reading the page; a negative Angle searches nothing and
//    answers 0.
//  - MaxShift = Round(sin(Angle) * W), at most H; candidates are ShiftStep = MaxShift div
//    Round(Angle / Accuracy) rows apart (at least 1). A negative Accuracy counts as 0.1.
//    Accuracy 0 (or one so small that Angle / Accuracy is out of range) asks for the finest
//    search, ShiftStep 1; an Accuracy so coarse that Round(Angle / Accuracy) is 0 leaves
//    one candidate on each side, ShiftStep = MaxShift.
//  - Band (rows between line starts) = Step when Step > 0, else half a millimetre of the
//    page's vertical resolution; at least 2.
//  - Counted pixels: set bits (1 bit), pixels brighter than the page's mean gray level
//    StdDevThreshold(histogram, 0) (8 and 24 bits). When BlackIndex is 0 each line's count
//    is replaced by W - count, so the profile counts dark pixels.
//  - Strict comparisons: the first candidate reaching a score keeps it.
//  - An image without pixels answers 0.
//
// The estimator asks for many short segments (each s costs (s + 1) * Lines of them), so it
// counts through a table of running bit counts per byte of each row, each entry carrying its
// byte: a segment then costs two table reads and two lookups. For 8 and 24 bits the counted pixels are first
// packed into such a bit row. The counts are exactly those of CountSetBits, CountAbove8
// and CountAbove24.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "cleanup/profile_bits.h"
#include "dib/dib.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;

// Weighted gray of a stored 24-bit pixel, blue first: Trunc(0.3 B + 0.59 G + 0.11 R) in
// extended precision.
inline int64_t Gray24(const uint8_t* p) { return Trunc(0.3L * p[0] + 0.59L * p[1] + 0.11L * p[2]); }

// Packed bit rows (W bits each, most significant bit first) turned into one table: entry
// Q[y * (Bytes + 1) + b] holds, above its low 8 bits, the number of set bits in bytes
// 0 .. b - 1 of row y, and in its low 8 bits byte b itself (0 for the entry after the last
// byte). 32-bit entries serve rows up to 2^24 - 1 pixels.
//
// A span x0 .. x1 - 1 of row y holds Prefix(y, x1) - Prefix(y, x0) set bits, where
// Prefix(y, x) = the count of entry x div 8 + the set bits among the top x mod 8 bits of its
// byte: one table read and one lookup per end.
template <class TEntry>
class TBitRowCounter {
public:
    TBitRowCounter(int32_t w, int32_t h, const std::vector<const uint8_t*>& rows)
        : Bytes((w + 7) / 8), Q(static_cast<size_t>(h) * (Bytes + 1)) {
        for (int32_t b = 0; b < 8; ++b)
            for (int32_t v = 0; v < 256; ++v)
                Top[b][v] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(v & (0xFF00u >> b) & 0xFF)));
        uint8_t byteBits[256];
        for (int32_t v = 0; v < 256; ++v) byteBits[v] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(v)));
        for (int32_t y = h - 1; y >= 0; --y) {  // storage order of 1-bit pages: bottom row first
            const uint8_t* row = rows[static_cast<size_t>(y)];
            TEntry* q = &Q[static_cast<size_t>(y) * (Bytes + 1)];
            TEntry total = 0;
            for (int32_t b = 0; b < Bytes; ++b) {
                q[b] = static_cast<TEntry>((total << 8) | row[b]);
                total += byteBits[row[b]];
            }
            q[Bytes] = static_cast<TEntry>(total << 8);
        }
    }

    int32_t Prefix(const TEntry* q, int32_t x) const {
        const TEntry v = q[x >> 3];
        return static_cast<int32_t>(v >> 8) + Top[x & 7][v & 0xFF];
    }
    const TEntry* Row(int32_t y) const { return &Q[static_cast<size_t>(y) * (Bytes + 1)]; }

    int32_t Bytes;
    std::vector<TEntry> Q;
    uint8_t Top[8][256];  // Top[b][v]: set bits among the top b bits of v
};

// The search shared by the three formats over packed rows of counted (bright or set) pixels.
//
// For one slope s, line i sums segment k (fixed columns) of row i * Band + k over k = 0 .. s.
// The sums are gathered row by row instead, for many slopes at once: row y adds its segments
// k = y mod Band, y mod Band + Band, ... to the lines (y - k) div Band of each slope, so each
// row's counting table is read once while it is in cache (from the bottom row up, the order in
// which 1-bit rows are stored). Integer sums do not depend on the order, so the profiles are
// those of the segment-by-segment description, and the scores are compared in the order of
// the search.
template <class TEntry>
double SearchSkewWith(int32_t w, int32_t h, int32_t yResolution, bool blackIsZero, int32_t step, double angle,
                      double accuracy, std::vector<const uint8_t*> rows) {
    using Counter = TBitRowCounter<TEntry>;
    int64_t maxShift = Round(std::sin(static_cast<long double>(angle) * kPi / 180) * w);
    if (maxShift >= h) maxShift = h;
    if (maxShift <= 0) return 0.0;  // only s = 0 or nothing: the result is 0

    long double acc = accuracy < 0 ? 0.1L : static_cast<long double>(accuracy);
    long double ratio = static_cast<long double>(angle) / acc;
    int64_t shiftStep;
    if (!(ratio < 1e18L)) {
        shiftStep = 1;  // Accuracy 0 or vanishingly small: the finest search
    } else {
        int64_t candidates = Round(ratio);
        shiftStep = candidates == 0 ? maxShift : maxShift / candidates;
    }
    if (shiftStep <= 0) shiftStep = 1;

    int64_t band = step > 0 ? step : Round(static_cast<long double>(yResolution) / 2.54L / 20);
    if (band < 2) band = 2;

    const auto counter = std::make_unique<Counter>(w, h, rows);

    // The candidate slopes, in the order of the search, with their line counts.
    struct Candidate {
        int64_t S, Lines, Count, LastRow;  // Count segments per line; rows 0 .. LastRow are read
        size_t FirstSegment, FirstSum;
        int64_t ScoreL, ScoreR;
    };
    std::vector<Candidate> candidates;
    for (int64_t s = 0; s <= maxShift; s += shiftStep) {
        const int64_t lines = (h - s) / band;
        if (lines <= 0) continue;
        const int64_t count = w / (s + 1) > 0 ? s + 1 : 0;
        candidates.push_back(Candidate{s, lines, count, (lines - 1) * band + count - 1, 0, 0, 0, 0});
    }
    // Candidates are searched in groups whose segments and sums fit the second-level cache, so
    // each group reads every row's counting table once while it is in cache. Within a group a
    // row adds its segments to the lines of every candidate.
    struct Segment {
        int32_t L0, L1, R0, R1;  // the left and right lines' spans: columns L0 .. L1 - 1, R0 .. R1 - 1
    };
    constexpr size_t kGroupBytes = 512 * 1024;
    std::vector<Segment> segments;
    std::vector<int32_t> leftSum, rightSum;
    std::vector<int32_t> left(static_cast<size_t>(h)), right(static_cast<size_t>(h));
    for (size_t g0 = 0; g0 < candidates.size();) {
        size_t g1 = g0, bytes = 0;
        segments.clear();
        leftSum.clear();
        int64_t lastRow = -1;
        do {
            Candidate& c = candidates[g1];
            const int32_t seg = static_cast<int32_t>(w / (c.S + 1));
            c.FirstSegment = segments.size();
            for (int64_t k = 0; k < c.Count; ++k) {
                const int32_t x = static_cast<int32_t>(k * seg);
                segments.push_back(Segment{x, x + seg, w - x - seg, w - x});
            }
            c.FirstSum = leftSum.size();
            leftSum.resize(leftSum.size() + static_cast<size_t>(c.Lines), 0);
            lastRow = std::max(lastRow, c.LastRow);
            bytes += static_cast<size_t>(c.Count) * sizeof(Segment) + static_cast<size_t>(c.Lines) * 2 * sizeof(int32_t);
            ++g1;
        } while (g1 < candidates.size() && bytes < kGroupBytes);
        rightSum.assign(leftSum.size(), 0);
        for (int64_t y = lastRow; y >= 0; --y) {  // bottom up, as the rows are stored
            const TEntry* q = counter->Row(static_cast<int32_t>(y));
            const int64_t yBand = y / band;
            for (size_t ci = g0; ci < g1; ++ci) {
                const Candidate& c = candidates[ci];
                if (y > c.LastRow) continue;
                // Segment k of line i lies in row i * band + k: k = y - i * band, 0 <= k < Count.
                int64_t i = std::min<int64_t>(yBand, c.Lines - 1);
                const Segment* segs = segments.data() + c.FirstSegment;
                int32_t* ls = leftSum.data() + c.FirstSum;
                int32_t* rs = rightSum.data() + c.FirstSum;
                for (int64_t k = y - i * band; k < c.Count && i >= 0; k += band, --i) {
                    const Segment& sg = segs[k];
                    ls[i] += counter->Prefix(q, sg.L1) - counter->Prefix(q, sg.L0);
                    rs[i] += counter->Prefix(q, sg.R1) - counter->Prefix(q, sg.R0);
                }
            }
        }
        for (size_t ci = g0; ci < g1; ++ci) {
            Candidate& c = candidates[ci];
            for (int64_t i = 0; i < c.Lines; ++i) {
                int64_t l = leftSum[c.FirstSum + static_cast<size_t>(i)], r = rightSum[c.FirstSum + static_cast<size_t>(i)];
                if (blackIsZero) {
                    l = w - l;
                    r = w - r;
                }
                left[static_cast<size_t>(i)] = static_cast<int32_t>(l);
                right[static_cast<size_t>(i)] = static_cast<int32_t>(r);
            }
            c.ScoreL = TDIB::SumSquaredDeviation(left, static_cast<int32_t>(c.Lines));
            c.ScoreR = TDIB::SumSquaredDeviation(right, static_cast<int32_t>(c.Lines));
        }
        g0 = g1;
    }
    double best = 0.0;
    int64_t bestShift = 0;
    for (const Candidate& c : candidates) {
        if (static_cast<long double>(c.ScoreL) > best) {
            best = static_cast<double>(c.ScoreL);
            bestShift = -c.S;
        }
        if (static_cast<long double>(c.ScoreR) > best) {
            best = static_cast<double>(c.ScoreR);
            bestShift = c.S;
        }
    }
    long double q = static_cast<long double>(bestShift) / w;
    return static_cast<double>(std::atan(q / std::sqrt(1 - q * q)) * 180 / kPi);
}

double SearchSkew(int32_t w, int32_t h, int32_t yResolution, bool blackIsZero, int32_t step, double angle, double accuracy,
                  std::vector<const uint8_t*> rows) {
    if (w < (1 << 24)) return SearchSkewWith<uint32_t>(w, h, yResolution, blackIsZero, step, angle, accuracy, std::move(rows));
    return SearchSkewWith<uint64_t>(w, h, yResolution, blackIsZero, step, angle, accuracy, std::move(rows));
}

bool NoSearch(const TDIB& d, double angle) { return std::fabs(angle) < 0.1 || d.Width() <= 0 || d.Height() <= 0; }

// Packs "value above Level" of every pixel into bit rows and counts them.
template <class Above>
double SearchPacked(TDIB& d, int32_t step, double angle, double accuracy, Above above) {
    const int32_t w = d.Width(), h = d.Height();
    const int32_t bytes = (w + 7) / 8;
    std::vector<uint8_t> packed(static_cast<size_t>(h) * bytes, 0);
    std::vector<const uint8_t*> rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* out = &packed[static_cast<size_t>(y) * bytes];
        above(d.Rows[y], w, out);
        rows[static_cast<size_t>(y)] = out;
    }
    return SearchSkew(w, h, d.YResolution(), d.BlackIndex() == 0, step, angle, accuracy, std::move(rows));
}

}  // namespace

int32_t TDIB::CountSetBits(int32_t x, int32_t y, int32_t count) const { return bits::CountRowBits(Rows[y], x, count); }

int32_t TDIB::CountAbove8(int32_t x, int32_t y, int32_t level, int32_t count) const {
    const uint8_t* p = Rows[y] + x;
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) n += p[i] > level;
    return n;
}

int32_t TDIB::CountAbove24(int32_t x, int32_t y, int32_t level, int32_t count) const {
    const uint8_t* p = Rows[y] + 3 * static_cast<ptrdiff_t>(x);
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i, p += 3) n += Gray24(p) > level;
    return n;
}

int64_t TDIB::SumSquaredDeviation(const std::vector<int32_t>& profile, int32_t n) {
    if (n <= 0) return 0;
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += profile[static_cast<size_t>(i)];
    int64_t m = sum / n;
    int64_t total = 0;
    for (int32_t i = 0; i < n; ++i) {
        int64_t d = profile[static_cast<size_t>(i)] - m;
        total += d * d;
    }
    return total;
}

double TDIB::EstimateSkew(int32_t step, double angle, double accuracy) {
    switch (ImageFormat) {
        case fmt1Bit: return EstimateSkew1(step, angle, accuracy);
        case fmt8Bit: return EstimateSkew8(step, angle, accuracy);
        case fmt24Bit: return EstimateSkew24(step, angle, accuracy);
        default: return 0.0;
    }
}

double TDIB::EstimateSkew1(int32_t step, double angle, double accuracy) {
    if (NoSearch(*this, angle)) return 0.0;
    std::vector<const uint8_t*> rows(Rows.begin(), Rows.end());
    return SearchSkew(Width(), Height(), YResolution(), BlackIndex() == 0, step, angle, accuracy, std::move(rows));
}

double TDIB::EstimateSkew8(int32_t step, double angle, double accuracy) {
    if (NoSearch(*this, angle)) return 0.0;
    THistogram histogram;
    GetHistogram(histogram);
    const int32_t level = StdDevThreshold(histogram, 0);
    // A level outside 0..254 makes every pixel dark (or, below 0, bright).
    uint8_t above[256];
    for (int v = 0; v < 256; ++v) above[v] = v > level ? 1 : 0;
    return SearchPacked(*this, step, angle, accuracy, [&](const uint8_t* src, int32_t w, uint8_t* out) {
        int32_t x = 0;
        for (; x + 8 <= w; x += 8, src += 8)
            *out++ = static_cast<uint8_t>(above[src[0]] << 7 | above[src[1]] << 6 | above[src[2]] << 5 | above[src[3]] << 4 |
                                          above[src[4]] << 3 | above[src[5]] << 2 | above[src[6]] << 1 | above[src[7]]);
        if (x < w) {
            uint8_t b = 0;
            for (int k = 0; x < w; ++x, ++k) b |= static_cast<uint8_t>(above[*src++] << (7 - k));
            *out = b;
        }
    });
}

double TDIB::EstimateSkew24(int32_t step, double angle, double accuracy) {
    if (NoSearch(*this, angle)) return 0.0;
    THistogram histogram;
    GetHistogram(histogram);
    const int32_t level = StdDevThreshold(histogram, 0);
    return SearchPacked(*this, step, angle, accuracy, [&](const uint8_t* src, int32_t w, uint8_t* out) {
        // Scanned pages hold long runs of one color; the last answer is reused for them.
        uint32_t lastColor = 0xFFFFFFFFu;
        uint8_t lastAbove = 0;
        for (int32_t x = 0; x < w; ++x, src += 3) {
            uint32_t color = src[0] | (uint32_t(src[1]) << 8) | (uint32_t(src[2]) << 16);
            if (color != lastColor) {
                lastColor = color;
                lastAbove = Gray24(src) > level ? 1 : 0;
            }
            if (lastAbove) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    });
}

}  // namespace qil
