// Projection profiles of TDIB and the integer-array toolkit that smooths, summarises,
// binarises, histograms, run-length encodes and scans such arrays for extrema.
//
// A profile is a std::vector<int32_t> owned by the caller. Black is decided by BlackIndex: on
// 1-bit images set bits are black when BlackIndex is 1, clear bits otherwise; on 8 and 24-bit
// images a pixel is dark when its value (24-bit: (B + G + R) div 3) is 128 ... 255 with
// BlackIndex != 0, or 0 ... 127 with BlackIndex = 0.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "cleanup/profile_bits.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

namespace qil {

namespace {

bool insideImage(const TRect& r, int32_t width, int32_t height) {
    return r.Left >= 0 && r.Right <= width - 1 && r.Top >= 0 && r.Bottom <= height - 1;
}

// Dark test of one 8 or 24-bit value (see the file comment).
struct DarkTest {
    bool high;
    bool operator()(int32_t v) const { return high ? v >= 128 : v <= 127; }
};

// kSpreadBits[b]: byte k of the word is 1 when bit 0x80 >> k of b is set.
constexpr std::array<uint64_t, 256> MakeSpreadBits() {
    std::array<uint64_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int k = 0; k < 8; ++k)
            if (b & (0x80 >> k)) t[b] |= uint64_t(1) << (8 * k);
    return t;
}
constexpr std::array<uint64_t, 256> kSpreadBits = MakeSpreadBits();

inline int32_t pixelValue(const uint8_t* row, int32_t x, bool is24) {
    if (!is24) return row[x];
    const uint8_t* p = row + 3 * x;
    return (p[0] + p[1] + p[2]) / 3;
}

}  // namespace

// ---- Profiles ----

// Notes:
//  - 1-bit: one entry per column of the rectangle (entry 0 is column rect.Left), counting the
//    black pixels of rows rect.Top ... rect.Bottom. A rectangle not inside the image raises
//    "Invalid rect !". An inverted rectangle that still passes that test (Left > Right or
//    Top > Bottom) gives no entries or entries of 0 rather than negative counts.
//  - 8/24-bit: RowBytes entries, entry X (X < Width) the dark pixels of column X over rows
//    rect.Top ... rect.Bottom; rect.Left and rect.Right are not used. A start row outside the
//    image raises "Invalid start line", an end row below it "Invalid end line".
//  - 4-bit: an empty array.
std::vector<int32_t> TDIB::ColumnProfile(const TRect& rect) {
    const int32_t w = Width();
    const int32_t h = Height();
    if (ImageFormat == fmt1Bit) {
        if (!insideImage(rect, w, h)) throw Exception("Invalid rect !");
        const int32_t cols = rect.Right - rect.Left + 1;
        if (cols <= 0) return {};
        std::vector<int32_t> profile(static_cast<size_t>(cols), 0);
        // Eight columns at a time: each byte adds its eight black bits to eight byte-wide
        // counters of one 64-bit word, flushed into the profile before they can overflow.
        const uint8_t flip = BlackIndex() == 1 ? 0x00 : 0xFF;
        const int32_t firstByte = rect.Left >> 3;
        const int32_t lastByte = rect.Right >> 3;
        const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (rect.Left & 7));
        const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> ((rect.Right & 7) + 1));
        const int32_t nBytes = lastByte - firstByte + 1;
        const uint8_t firstMask = nBytes == 1 ? static_cast<uint8_t>(headMask & tailMask) : headMask;
        std::vector<uint64_t> acc(static_cast<size_t>(nBytes), 0);
        auto flush = [&] {
            for (int32_t i = 0; i < nBytes; ++i) {
                uint64_t a = acc[static_cast<size_t>(i)];
                if (a == 0) continue;
                for (int32_t k = 0; k < 8; ++k) {
                    int32_t col = (firstByte + i) * 8 + k - rect.Left;
                    if (col >= 0 && col < cols) profile[static_cast<size_t>(col)] += static_cast<int32_t>((a >> (8 * k)) & 0xFF);
                }
                acc[static_cast<size_t>(i)] = 0;
            }
        };
        int32_t pending = 0;
        for (int32_t y = rect.Top; y <= rect.Bottom; ++y) {
            const uint8_t* row = Rows[y] + firstByte;
            uint64_t* a = acc.data();
            a[0] += kSpreadBits[static_cast<uint8_t>((row[0] ^ flip) & firstMask)];
            for (int32_t i = 1; i < nBytes - 1; ++i) a[i] += kSpreadBits[static_cast<uint8_t>(row[i] ^ flip)];
            if (nBytes > 1) a[nBytes - 1] += kSpreadBits[static_cast<uint8_t>((row[nBytes - 1] ^ flip) & tailMask)];
            if (++pending == 255) {
                flush();
                pending = 0;
            }
        }
        flush();
        return profile;
    }
    if (ImageFormat == fmt8Bit || ImageFormat == fmt24Bit) {
        std::vector<int32_t> profile(static_cast<size_t>(std::max(RowBytes, 0)), 0);
        const int32_t start = rect.Top;
        const int32_t end = rect.Bottom;
        if (start < 0 || start > h - 1) throw Exception("Invalid start line");
        if (end > h - 1) throw Exception("Invalid end line");
        const bool is24 = ImageFormat == fmt24Bit;
        const DarkTest dark{BlackIndex() != 0};
        for (int32_t y = start; y <= end; ++y) {
            const uint8_t* row = Rows[y];
            for (int32_t x = 0; x < w; ++x)
                if (dark(pixelValue(row, x, is24))) ++profile[x];
        }
        return profile;
    }
    return {};
}

// Notes:
//  - 1-bit: one entry per row of the rectangle (entry 0 is row rect.Top), counting the black
//    pixels of columns rect.Left ... rect.Right; "Invalid rect !" as for ColumnProfile.
//  - 8/24-bit: Height entries, entry Y the dark pixels of row Y over columns rect.Left ...
//    rect.Right; "Invalid start column" / "Invalid end column" for columns outside the image.
//  - 4-bit: an empty array.
std::vector<int32_t> TDIB::RowProfile(const TRect& rect) {
    const int32_t w = Width();
    const int32_t h = Height();
    if (ImageFormat == fmt1Bit) {
        if (!insideImage(rect, w, h)) throw Exception("Invalid rect !");
        const int32_t rows = rect.Bottom - rect.Top + 1;
        if (rows <= 0) return {};
        const int32_t cols = std::max(rect.Right - rect.Left + 1, 0);
        const bool setIsBlack = BlackIndex() == 1;
        std::vector<int32_t> profile(static_cast<size_t>(rows), 0);
        for (int32_t i = 0; i < rows; ++i) {
            int32_t set = bits::CountRowBits(Rows[rect.Top + i], rect.Left, cols);
            profile[i] = setIsBlack ? set : cols - set;
        }
        return profile;
    }
    if (ImageFormat == fmt8Bit || ImageFormat == fmt24Bit) {
        std::vector<int32_t> profile(static_cast<size_t>(std::max(h, 0)), 0);
        const int32_t start = rect.Left;
        const int32_t end = rect.Right;
        if (start < 0 || start > w - 1) throw Exception("Invalid start column");
        if (end > w - 1) throw Exception("Invalid end column");
        const bool is24 = ImageFormat == fmt24Bit;
        const DarkTest dark{BlackIndex() != 0};
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* row = Rows[y];
            int32_t n = 0;
            for (int32_t x = start; x <= end; ++x)
                if (dark(pixelValue(row, x, is24))) ++n;
            profile[y] = n;
        }
        return profile;
    }
    return {};
}

// Notes:
//  - Counts the rows y ... y + count - 1 whose pixel x has bit value 1; count <= 0 gives 0.
//  - Rows outside the image and a column outside it count nothing (they are never read).
//  - Raises "This operation requires 1 bit per pixel bitmap !" on other formats.
int32_t TDIB::CountSetBitsInColumn(int32_t x, int32_t y, int32_t count) {
    if (ImageFormat != fmt1Bit) throw Exception("This operation requires 1 bit per pixel bitmap !");
    if (count <= 0 || x < 0 || x >= Width()) return 0;
    const int64_t first = std::max<int64_t>(y, 0);
    const int64_t last = std::min<int64_t>(int64_t(y) + count - 1, int64_t(Height()) - 1);
    const int32_t byte = x >> 3;
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
    int32_t n = 0;
    for (int64_t r = first; r <= last; ++r)
        if (Rows[static_cast<size_t>(r)][byte] & mask) ++n;
    return n;
}

void TDIB::FreeProfile(std::vector<int32_t>& values) {
    values.clear();
    values.shrink_to_fit();
}

// ---- The array toolkit ----

// Notes:
//  - Moving average in place with window max(window, 2) div 2 on each side: windows 2 and 3
//    both average three neighbours, 4 and 5 five.
//  - Only the entries 1 ... count - 2 of the input ever contribute (the first and the last
//    entry never do); an entry whose window holds none of them becomes 0. The mean truncates.
void TDIB::SmoothProfile(std::vector<int32_t>& values, int32_t window) {
    const int64_t n = static_cast<int64_t>(values.size());
    if (n == 0) return;
    const int64_t half = std::max(window, 2) / 2;
    // prefix[k] = sum of the input entries 1 ... k - 1 that may contribute.
    std::vector<int64_t> prefix(static_cast<size_t>(n + 1), 0);
    for (int64_t k = 0; k < n; ++k)
        prefix[k + 1] = prefix[k] + ((k > 0 && k < n - 1) ? values[k] : 0);
    for (int64_t i = 0; i < n; ++i) {
        int64_t lo = std::max<int64_t>(1, i - half);
        int64_t hi = std::min<int64_t>(n - 2, i + half);
        values[i] = lo > hi ? 0 : static_cast<int32_t>((prefix[hi + 1] - prefix[lo]) / (hi - lo + 1));
    }
}

// Notes:
//  - As SmoothProfile with the fixed offsets -4 ... 4 and the weights 1, 3, 5, 7, 9, 7, 5, 3, 1;
//    both the weighted sum and the sum of weights run over the offsets whose entry lies in
//    1 ... count - 2.
void TDIB::SmoothProfileWeighted(std::vector<int32_t>& values) {
    static constexpr int64_t weights[9] = {1, 3, 5, 7, 9, 7, 5, 3, 1};
    const int64_t n = static_cast<int64_t>(values.size());
    if (n == 0) return;
    const std::vector<int32_t> copy = values;
    for (int64_t i = 0; i < n; ++i) {
        int64_t sum = 0, weight = 0;
        for (int64_t j = -4; j <= 4; ++j) {
            int64_t k = i + j;
            if (k > 0 && k < n - 1) {
                sum += weights[j + 4] * copy[k];
                weight += weights[j + 4];
            }
        }
        values[i] = weight == 0 ? 0 : static_cast<int32_t>(sum / weight);
    }
}

// The sum in 64 bits divided by the count, truncated toward zero; "Invalid histo size" when
// empty.
int32_t TDIB::ProfileMean(const std::vector<int32_t>& values) {
    if (values.empty()) throw Exception("Invalid histo size");
    int64_t sum = 0;
    for (int32_t v : values) sum += v;
    return static_cast<int32_t>(sum / static_cast<int64_t>(values.size()));
}

int32_t TDIB::ProfileMax(const std::vector<int32_t>& values) {
    if (values.empty()) throw Exception("Invalid histo size");
    return *std::max_element(values.begin(), values.end());
}

// An empty array raises "Invalid histo size" as ProfileMax does.
int32_t TDIB::ProfileMin(const std::vector<int32_t>& values) {
    if (values.empty()) throw Exception("Invalid histo size");
    return *std::min_element(values.begin(), values.end());
}

void TDIB::BinarizeProfile(std::vector<int32_t>& values, int32_t threshold, int32_t low, int32_t high) {
    for (int32_t& v : values) v = v > threshold ? high : low;
}

// Notes:
//  - histo gets ProfileMax + 1 entries, entry v counting the values equal to v; size is
//    written with that count.
//  - "Invalid histo size" for an empty array (and for a maximum of 2147483647, whose entry
//    count would not fit); "Invalid negative histo value !" when any value is negative.
void TDIB::ProfileHistogram(const std::vector<int32_t>& values, std::vector<int32_t>& histo, int32_t& size) {
    if (values.empty()) throw Exception("Invalid histo size");
    if (ProfileMin(values) < 0) throw Exception("Invalid negative histo value !");
    const int32_t top = ProfileMax(values);
    if (top == std::numeric_limits<int32_t>::max()) throw Exception("Invalid histo size");
    size = top + 1;
    histo.assign(static_cast<size_t>(size), 0);
    for (int32_t v : values) ++histo[v];
}

// Notes:
//  - One entry per maximal run of equal values, in order: the run's length, negated when the
//    run's value is 0. Example: 0, 0, 3, 3, 3, 0, 1 gives -2, 3, -1, 1.
//  - An empty array gives no runs.
void TDIB::RunLengths(const std::vector<int32_t>& values, std::vector<int32_t>& runs, int32_t& runCount) {
    runs.clear();
    const size_t n = values.size();
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && values[j] == values[i]) ++j;
        int32_t len = static_cast<int32_t>(j - i);
        runs.push_back(values[i] == 0 ? -len : len);
        i = j;
    }
    runCount = static_cast<int32_t>(runs.size());
}

// Notes:
//  - marks gets one entry per value: 1 at a maximum, -1 at a minimum, 0 elsewhere. Fewer than
//    three values are never marked.
//  - End rules for positions 0, 1, n - 1 and n - 2 (in this order, a later one overwriting),
//    then interior positions 2 ... n - 3 against both neighbours on each side (strict against
//    the outer ones). With three values the rules of position 1 would compare with entries
//    outside the array; a missing neighbour fails its comparison, so position 1 stays unmarked.
//  - useMean clears minima above and maxima below the truncated mean.
//  - Adjacent equal marks keep the more extreme one (the later one on a tie), then a walk makes
//    maxima and minima alternate, inserting the extreme value between two equal kinds when it
//    is more extreme than both, else dropping the weaker of the two.
void TDIB::FindExtrema(const std::vector<int32_t>& values, std::vector<int32_t>& marks, bool useMean) {
    const int32_t n = static_cast<int32_t>(values.size());
    marks.assign(values.size(), 0);
    if (n < 3) return;
    const std::vector<int32_t>& v = values;
    auto at = [&](int32_t i) { return v[static_cast<size_t>(i)]; };
    auto exists = [&](int32_t i) { return i >= 0 && i < n; };

    // 1. End rules.
    if (at(0) <= at(1) && at(0) < at(2)) marks[0] = -1;
    if (at(0) >= at(1) && at(0) > at(2)) marks[0] = 1;
    if (exists(3)) {
        if (at(1) <= at(0) && at(1) <= at(2) && at(1) < at(3)) marks[1] = -1;
        if (at(1) >= at(0) && at(1) >= at(2) && at(1) > at(3)) marks[1] = 1;
    }
    if (at(n - 1) <= at(n - 2) && at(n - 1) < at(n - 3)) marks[n - 1] = -1;
    if (at(n - 1) >= at(n - 2) && at(n - 1) > at(n - 3)) marks[n - 1] = 1;
    if (exists(n - 4)) {
        if (at(n - 2) <= at(n - 1) && at(n - 2) <= at(n - 3) && at(n - 2) < at(n - 4)) marks[n - 2] = -1;
        if (at(n - 2) >= at(n - 1) && at(n - 2) >= at(n - 3) && at(n - 2) > at(n - 4)) marks[n - 2] = 1;
    }

    // 2. Interior.
    for (int32_t i = 2; i <= n - 3; ++i) {
        const int32_t x = at(i);
        if (x >= at(i - 1) && x > at(i - 2) && x >= at(i + 1) && x > at(i + 2)) marks[i] = 1;
        if (x <= at(i - 1) && x < at(i - 2) && x <= at(i + 1) && x < at(i + 2)) marks[i] = -1;
    }

    // 3. Against the mean.
    if (useMean) {
        const int32_t mean = ProfileMean(values);
        for (int32_t i = 0; i < n; ++i) {
            if (marks[i] == -1 && at(i) > mean) marks[i] = 0;
            if (marks[i] == 1 && at(i) < mean) marks[i] = 0;
        }
    }

    // 4. Adjacent twins.
    for (int32_t i = 0; i <= n - 2; ++i) {
        if (marks[i] == 0 || marks[i + 1] != marks[i]) continue;
        if (marks[i] == -1) {
            if (at(i) >= at(i + 1)) marks[i] = 0;
            else marks[i + 1] = 0;
        } else {
            if (at(i) <= at(i + 1)) marks[i] = 0;
            else marks[i + 1] = 0;
        }
    }

    // 5. Alternation. kind/pos: the last mark that differed from the one before it.
    int32_t kind = 0, pos = 0;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t m = marks[k];
        if (m == 0) continue;
        if (m != kind) {
            kind = m;
            pos = k;
            continue;
        }
        // A second mark of the same kind after the one at pos: look for the first most extreme
        // value strictly between them.
        int32_t best = -1;
        for (int32_t i = pos + 1; i < k; ++i) {
            if (best < 0 || (m == 1 ? at(i) < at(best) : at(i) > at(best))) best = i;
        }
        if (m == 1) {
            if (best >= 0 && at(best) < at(k) && at(best) < at(pos)) marks[best] = -1;
            else if (at(pos) < at(k)) marks[pos] = 0;
            else marks[k] = 0;
        } else {
            if (best >= 0 && at(best) > at(k) && at(best) > at(pos)) marks[best] = 1;
            else if (at(pos) > at(k)) marks[pos] = 0;
            else marks[k] = 0;
        }
    }
}

}  // namespace qil
