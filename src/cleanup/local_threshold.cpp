// Local thresholds and the window filters they rest on: window mean, window minimum and
// maximum, and a running mean / standard deviation threshold.
//
// Every window statistic costs O(1) per pixel whatever the window: the mean slides over
// running column sums, the minimum and maximum use a doubling scheme for windows shorter than
// 256 pixels and the van Herk / Gil-Werman block scheme beyond, and the mean and deviation of
// AdvancedDynamicThreshold slide over running column sums of values and squares. The results
// are the exact window statistics, so they do not depend on the scheme used.
#include "cleanup/local_threshold.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr std::array<int32_t, kSqrtTableSize> buildSqrtTable() {
    std::array<int32_t, kSqrtTableSize> t{};
    for (int32_t i = 0; i <= 128; ++i)
        for (int32_t v = i * i; v < (i + 1) * (i + 1); ++v) t[size_t(v)] = i;
    t[kSqrtTableSize - 1] = 129;  // 16641 = 129^2
    return t;
}

constexpr const char* kNeeds8 = "This operation requires 8 bit per pixel bitmap !";
constexpr const char* kBadArea = "Bad AreaW or AreaH value";

void require8(const TDIB& d) {
    if (d.ImageFormat != fmt8Bit) throw Exception(kNeeds8);
}

// Target of a window filter: an 8-bit image of the source's width and height.
void requireTarget(const TDIB& source, const TDIB& target) {
    require8(source);
    if (target.ImageFormat != fmt8Bit || target.Width() != source.Width() || target.Height() != source.Height())
        throw Exception(kNeeds8);
}

// The source rows of a filter, copied when the target is the source itself (the filters read
// source rows after they have written target rows).
struct SourceRows {
    std::vector<const uint8_t*> rows;
    std::vector<uint8_t> copy;
    SourceRows(const TDIB& source, const TDIB& target) {
        const int32_t w = source.Width(), h = source.Height();
        rows.assign(source.Rows.begin(), source.Rows.end());
        if (h > 0 && w > 0 && source.Bits == target.Bits) {
            copy.resize(size_t(w) * size_t(h));
            for (int32_t y = 0; y < h; ++y) {
                std::memcpy(&copy[size_t(y) * size_t(w)], source.Rows[y], size_t(w));
                rows[size_t(y)] = &copy[size_t(y) * size_t(w)];
            }
        }
    }
};

// Floor division of a non-negative integer below 2^53 by a fixed positive divisor, through a
// reciprocal and one correction step.
struct Divider {
    int64_t n;
    double inv;
    explicit Divider(int64_t divisor) : n(divisor), inv(1.0 / static_cast<double>(divisor)) {}
    int64_t quotient(int64_t a, int64_t& remainder) const {
        int64_t q = static_cast<int64_t>(static_cast<double>(a) * inv);
        int64_t r = a - q * n;
        while (r < 0) --q, r += n;
        while (r >= n) ++q, r -= n;
        remainder = r;
        return q;
    }
    int64_t floor(int64_t a) const {
        int64_t r;
        return quotient(a, r);
    }
    // Round(a / n), ties to even.
    int64_t round(int64_t a) const {
        int64_t r;
        int64_t q = quotient(a, r);
        if (2 * r > n || (2 * r == n && (q & 1))) ++q;
        return q;
    }
};

// ---- window mean ----

// Sums[i] = Col[i] + ... + Col[i + k - 1] for i < count, by k shifted vector additions; and the
// rounded means of an odd count n from such sums (below 2^23) by the multiply and shift of
// meanRow. Built for AVX2 as well and chosen at load time by the processor (integer work: the
// same values either way).
[[gnu::target_clones("avx2", "default")]] void windowSums(const int32_t* __restrict col, int32_t count, int32_t k,
                                                          uint32_t* __restrict sums) {
    for (int32_t i = 0; i < count; ++i) sums[i] = static_cast<uint32_t>(col[i]);
    for (int32_t j = 1; j < k; ++j) {
        const int32_t* __restrict c = col + j;
        for (int32_t i = 0; i < count; ++i) sums[i] += static_cast<uint32_t>(c[i]);
    }
}
[[gnu::target_clones("avx2", "default")]] void oddMeans(const uint32_t* __restrict sums, int32_t count, uint32_t n,
                                                        uint64_t m, int shift, uint8_t* __restrict out) {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((uint64_t(2 * sums[i] + n) * m) >> shift);
}
// The same means for an odd count n of at most 1024, in single precision: S * (1 / n) is within
// 255 * 2^-23 (about 3e-5) of S / n, while S / n lies at least 1 / (2 n) >= 1 / 2048 away from
// any half (2 S - (2 k + 1) n is a non-zero integer for odd n), so rounding the product to the
// nearest whole number (adding and taking away 1.5 * 2^23) gives Round(S / n) exactly.
[[gnu::target_clones("avx2", "default")]] void oddMeansSmall(const uint32_t* __restrict sums, int32_t count, float inverse,
                                                             uint8_t* __restrict out) {
    constexpr float kRound = 12582912.0f;  // 1.5 * 2^23
    for (int32_t i = 0; i < count; ++i) {
        const float q = (static_cast<float>(static_cast<int32_t>(sums[i])) * inverse + kRound) - kRound;
        out[i] = static_cast<uint8_t>(static_cast<int32_t>(q));
    }
}
// Window sums of a fixed odd K in one pass (the inner loop unrolls, the outer one vectorizes).
template <int K>
[[gnu::always_inline]] inline void fixedWindowSums(const int32_t* __restrict col, int32_t count, uint32_t* __restrict sums) {
    for (int32_t i = 0; i < count; ++i) {
        uint32_t t = static_cast<uint32_t>(col[i]);
        for (int j = 1; j < K; ++j) t += static_cast<uint32_t>(col[i + j]);
        sums[i] = t;
    }
}
#define QIL_WINDOW_SUMS(K)                                                                                      \
    [[gnu::target_clones("avx2", "default")]] void windowSums##K(const int32_t* c, int32_t n, uint32_t* s) {  \
        fixedWindowSums<K>(c, n, s);                                                                             \
    }
QIL_WINDOW_SUMS(3)
QIL_WINDOW_SUMS(5)
QIL_WINDOW_SUMS(7)
QIL_WINDOW_SUMS(9)
QIL_WINDOW_SUMS(11)
QIL_WINDOW_SUMS(13)
QIL_WINDOW_SUMS(15)
#undef QIL_WINDOW_SUMS
void sumWindows(const int32_t* col, int32_t count, int32_t k, uint32_t* sums) {
    using Fn = void (*)(const int32_t*, int32_t, uint32_t*);
    static const Fn fixed[] = {windowSums3, windowSums5, windowSums7, windowSums9, windowSums11, windowSums13, windowSums15};
    if (k >= 3 && k <= 15 && (k & 1))
        fixed[(k - 3) / 2](col, count, sums);
    else
        windowSums(col, count, k, sums);
}

// Round(S / N) for the window sums of one row: Sum[x] over the columns x - hw ... x + hw clipped
// to the row, N = rowCount x the number of those columns.
template <class Acc>
void meanRow(const Acc* col, int32_t w, int32_t hw, int64_t rowCount, std::vector<uint32_t>& prefix, uint8_t* out) {
    const int64_t fullCount = rowCount * (2 * int64_t(hw) + 1);
    if constexpr (std::is_same_v<Acc, int32_t>) {
        // Narrow windows of an odd count with sums below 2^23: the interior sums by shifted
        // additions (no serial prefix), the edges summed one by one.
        const int32_t first = std::min(hw, w), last = w - 1 - hw;
        if (255 * fullCount < (int64_t(1) << 23) && (fullCount & 1) && first <= last && 2 * hw + 1 <= 31) {
            auto edge = [&](int32_t x) {
                const int32_t lo = std::max(0, x - hw), hi = std::min(w - 1, x + hw);
                int64_t sum = 0;
                for (int32_t i = lo; i <= hi; ++i) sum += col[i];
                out[x] = static_cast<uint8_t>(Divider(rowCount * (hi - lo + 1)).round(sum));
            };
            for (int32_t x = 0; x < first; ++x) edge(x);
            const int32_t count = last - first + 1;
            prefix.resize(size_t(count));
            sumWindows(col, count, 2 * hw + 1, prefix.data());  // prefix[i]: the window of x = i + hw
            const uint32_t n = static_cast<uint32_t>(fullCount);
            if (n <= 1024) {
                oddMeansSmall(prefix.data(), count, 1.0f / static_cast<float>(n), out + hw);
                for (int32_t x = last + 1; x < w; ++x) edge(x);
                return;
            }
            const uint64_t d = 2 * uint64_t(n);
            int l = 0;
            while ((uint64_t(1) << l) < d) ++l;
            const int shift = 25 + l;
            const uint64_t m = ((uint64_t(1) << shift) + d - 1) / d;
            oddMeans(prefix.data(), count, n, m, shift, out + hw);
            for (int32_t x = last + 1; x < w; ++x) edge(x);
            return;
        }
    }
    if (255 * fullCount < (int64_t(1) << 23)) {
        // Every window sum is below 2^23: prefix sums modulo 2^32 give them exactly.
        prefix.resize(size_t(w) + 1);
        uint32_t* __restrict pre = prefix.data();
        pre[0] = 0;
        for (int32_t i = 0; i < w; ++i) pre[i + 1] = pre[i] + static_cast<uint32_t>(col[i]);
        auto edge = [&](int32_t x) {
            const int32_t lo = std::max(0, x - hw), hi = std::min(w - 1, x + hw);
            out[x] = static_cast<uint8_t>(Divider(rowCount * (hi - lo + 1)).round(int64_t(pre[hi + 1] - pre[lo])));
        };
        const int32_t first = std::min(hw, w), last = w - 1 - hw;  // interior: full windows
        for (int32_t x = 0; x < first; ++x) edge(x);
        if (first <= last && (fullCount & 1)) {
            // An odd count has no ties: Round(S / n) = floor((2 S + n) / (2 n)), and that
            // quotient of a dividend below 2^25 is an exact multiply and shift (Granlund and
            // Montgomery 1994, theorem 4.2, with l = ceil(log2(2 n)) and m = ceil(2^(25 + l) / (2 n))).
            const uint32_t n = static_cast<uint32_t>(fullCount);
            const uint64_t d = 2 * uint64_t(n);
            int l = 0;
            while ((uint64_t(1) << l) < d) ++l;
            const int shift = 25 + l;
            const uint64_t m = ((uint64_t(1) << shift) + d - 1) / d;
            const uint32_t* __restrict lead = pre + 2 * hw + 1;  // lead[x - hw] = pre[x + hw + 1]
            const uint32_t* __restrict trail = pre;              // trail[x - hw] = pre[x - hw]
            uint8_t* __restrict o = out + hw;
            const int32_t count = last - first + 1;
            for (int32_t i = 0; i < count; ++i) {
                const uint32_t dividend = 2 * (lead[i] - trail[i]) + n;
                o[i] = static_cast<uint8_t>((uint64_t(dividend) * m) >> shift);
            }
        } else {
            for (int32_t x = first; x <= last; ++x) edge(x);
        }
        for (int32_t x = std::max(first, last + 1); x < w; ++x) edge(x);
        return;
    }
    // Large windows: a sliding 64-bit sum and exact division.
    int64_t sum = 0;
    for (int32_t x = 0; x <= std::min(hw, w - 1); ++x) sum += col[x];
    const Divider full(fullCount);
    for (int32_t x = 0; x < w; ++x) {
        if (x > 0) {
            if (x + hw < w) sum += col[x + hw];
            if (x - hw - 1 >= 0) sum -= col[x - hw - 1];
        }
        const int32_t lo = std::max(0, x - hw), hi = std::min(w - 1, x + hw);
        const int64_t cols = hi - lo + 1;
        out[x] = static_cast<uint8_t>(cols == 2 * int64_t(hw) + 1 ? full.round(sum) : Divider(rowCount * cols).round(sum));
    }
}

// Window means of the rows of Rows, handed row by row to Emit(y, means of row y). The rows in
// the vertical window are kept in a ring of copies, so Emit may overwrite row y of the page.
template <class Acc, class Emit>
void meanRows(const std::vector<uint8_t*>& rows, int32_t w, int32_t h, int32_t hw, int32_t hh, Emit emit) {
    std::vector<Acc> col(static_cast<size_t>(w), 0);
    const int32_t ringRows = static_cast<int32_t>(std::min<int64_t>(h, 2 * int64_t(hh) + 2));
    std::vector<uint8_t> ring(size_t(ringRows) * size_t(w));
    auto slot = [&](int32_t r) { return &ring[size_t(r % ringRows) * size_t(w)]; };
    auto add = [&](int32_t r) {
        uint8_t* __restrict copy = slot(r);
        std::memcpy(copy, rows[size_t(r)], size_t(w));
        Acc* __restrict c = col.data();
        for (int32_t x = 0; x < w; ++x) c[x] += copy[x];
    };
    auto sub = [&](int32_t r) {
        const uint8_t* __restrict copy = slot(r);
        Acc* __restrict c = col.data();
        for (int32_t x = 0; x < w; ++x) c[x] -= copy[x];
    };
    std::vector<uint32_t> prefix;
    std::vector<uint8_t> means(static_cast<size_t>(w));
    int32_t top = 0, bottom = -1;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t newTop = std::max(0, y - hh), newBottom = std::min(h - 1, y + hh);
        while (top < newTop) sub(top++);  // leaves the ring slot free before it is reused
        while (bottom < newBottom) add(++bottom);
        meanRow(col.data(), w, hw, int64_t(bottom - top + 1), prefix, means.data());
        emit(y, static_cast<const uint8_t*>(means.data()), static_cast<const uint8_t*>(slot(y)));
    }
}

// hw = max(1, (Area + 1) div 2); beyond the image a larger value makes no difference.
int32_t meanHalf(int32_t area, int32_t size) {
    const int64_t v = std::max<int64_t>(1, (int64_t(area) + 1) / 2);
    return static_cast<int32_t>(std::min<int64_t>(v, std::max(size, 1)));
}

template <class Emit>
void forEachMeanRow(const TDIB& d, int32_t areaW, int32_t areaH, Emit emit) {
    const int32_t w = d.Width(), h = d.Height();
    if (w <= 0 || h <= 0) return;
    const int32_t hw = meanHalf(areaW, w), hh = meanHalf(areaH, h);
    // The rows are visited in storage order (bottom row first): the clipped windows are the
    // same read from either end, so the means are too, and memory is read forward.
    const std::vector<uint8_t*> rows(d.Rows.rbegin(), d.Rows.rend());
    auto flipped = [&](int32_t y, const uint8_t* means, const uint8_t* source) { emit(h - 1 - y, means, source); };
    if (255 * std::min<int64_t>(h, 2 * int64_t(hh) + 1) <= std::numeric_limits<int32_t>::max())
        meanRows<int32_t>(rows, w, h, hw, hh, flipped);
    else
        meanRows<int64_t>(rows, w, h, hw, hh, flipped);
}

// ---- window minimum / maximum ----

template <bool IsMax>
inline uint8_t pick(uint8_t a, uint8_t b) {
    if constexpr (IsMax)
        return a > b ? a : b;
    else
        return a < b ? a : b;
}

// Dst[x] = extreme of A[x] and B[x] (or of Dst[x] and B[x]), x < n: the vector loops of every
// pass below, built for AVX2 as well and chosen at load time by the processor (the same bytes
// either way).
#define QIL_EXTREME_PASSES(name, op)                                                                        \
    [[gnu::target_clones("avx2", "default")]] void name##Pass(uint8_t* __restrict dst, const uint8_t* __restrict a, \
                                                              const uint8_t* __restrict b, size_t n) {       \
        for (size_t x = 0; x < n; ++x) dst[x] = a[x] op b[x] ? a[x] : b[x];                                 \
    }                                                                                                        \
    [[gnu::target_clones("avx2", "default")]] void name##Into(uint8_t* __restrict dst, const uint8_t* __restrict b, \
                                                              size_t n) {                                    \
        for (size_t x = 0; x < n; ++x) dst[x] = dst[x] op b[x] ? dst[x] : b[x];                             \
    }
QIL_EXTREME_PASSES(min, <)
QIL_EXTREME_PASSES(max, >)
#undef QIL_EXTREME_PASSES

template <bool IsMax>
inline void pickPass(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
    if constexpr (IsMax)
        maxPass(dst, a, b, n);
    else
        minPass(dst, a, b, n);
}
template <bool IsMax>
inline void pickInto(uint8_t* dst, const uint8_t* b, size_t n) {
    if constexpr (IsMax)
        maxInto(dst, b, n);
    else
        minInto(dst, b, n);
}

// Windows of a few pixels or rows in one pass: Win[x] = extreme of P[x ... x + K - 1], and
// Out[x] = extreme of Rows[0][x] ... Rows[K - 1][x]. With K fixed the inner loop unrolls and the
// loop over x vectorizes; built for AVX2 as well (chosen at load time).
template <int K, bool IsMax>
[[gnu::always_inline]] inline void extremeOfWindow(uint8_t* __restrict win, const uint8_t* __restrict p, size_t outN) {
    for (size_t x = 0; x < outN; ++x) {
        uint8_t m = p[x];
        for (int j = 1; j < K; ++j) m = pick<IsMax>(m, p[x + size_t(j)]);
        win[x] = m;
    }
}
template <int K, bool IsMax>
[[gnu::always_inline]] inline void extremeOfRows(uint8_t* __restrict out, const uint8_t* const* rows, size_t n) {
    const uint8_t* r[K];
    for (int j = 0; j < K; ++j) r[j] = rows[j];
    for (size_t x = 0; x < n; ++x) {
        uint8_t m = r[0][x];
        for (int j = 1; j < K; ++j) m = pick<IsMax>(m, r[j][x]);
        out[x] = m;
    }
}
#define QIL_SMALL_EXTREMES(K)                                                                                  \
    [[gnu::target_clones("avx2", "default")]] void minWindow##K(uint8_t* w, const uint8_t* p, size_t n) {      \
        extremeOfWindow<K, false>(w, p, n);                                                                     \
    }                                                                                                           \
    [[gnu::target_clones("avx2", "default")]] void maxWindow##K(uint8_t* w, const uint8_t* p, size_t n) {      \
        extremeOfWindow<K, true>(w, p, n);                                                                      \
    }                                                                                                           \
    [[gnu::target_clones("avx2", "default")]] void minRows##K(uint8_t* o, const uint8_t* const* r, size_t n) { \
        extremeOfRows<K, false>(o, r, n);                                                                       \
    }                                                                                                           \
    [[gnu::target_clones("avx2", "default")]] void maxRows##K(uint8_t* o, const uint8_t* const* r, size_t n) { \
        extremeOfRows<K, true>(o, r, n);                                                                        \
    }
QIL_SMALL_EXTREMES(3)
QIL_SMALL_EXTREMES(5)
QIL_SMALL_EXTREMES(7)
QIL_SMALL_EXTREMES(9)
#undef QIL_SMALL_EXTREMES

using WindowFn = void (*)(uint8_t*, const uint8_t*, size_t);
using RowsFn = void (*)(uint8_t*, const uint8_t* const*, size_t);
// The one-pass kernels for a window of K (odd, 3 ... 9), or nullptr.
template <bool IsMax>
std::pair<WindowFn, RowsFn> smallKernels(int32_t k) {
    static const WindowFn windows[2][4] = {{minWindow3, minWindow5, minWindow7, minWindow9},
                                           {maxWindow3, maxWindow5, maxWindow7, maxWindow9}};
    static const RowsFn rows[2][4] = {{minRows3, minRows5, minRows7, minRows9}, {maxRows3, maxRows5, maxRows7, maxRows9}};
    if (k < 3 || k > 9 || k % 2 == 0) return {nullptr, nullptr};
    return {windows[IsMax][(k - 3) / 2], rows[IsMax][(k - 3) / 2]};
}

// Win[x] = extreme of p[x ... x + k - 1] for x = 0 ... n - k, into win (n - k + 1 values).
// Scratch holds n bytes. Doubling for k < 256 (at most nine vector passes), van Herk /
// Gil-Werman beyond (prefix and suffix extremes in blocks of k).
template <bool IsMax>
void slidingExtreme(const uint8_t* p, int32_t n, int32_t k, uint8_t* win, std::vector<uint8_t>& s1,
                    std::vector<uint8_t>& s2) {
    const int32_t outN = n - k + 1;
    if (k == 1) {
        std::memcpy(win, p, size_t(outN));
        return;
    }
    s1.resize(size_t(n));
    s2.resize(size_t(n));
    if (k < 256) {
        // m_j(x) = extreme of p[x ... x + j - 1], valid for x <= n - j.
        const uint8_t* cur = p;
        uint8_t* bufs[2] = {s1.data(), s2.data()};
        int which = 0;
        int32_t j = 1;
        while (2 * j <= k) {
            uint8_t* __restrict dst = bufs[which];
            const uint8_t* __restrict a = cur;
            const int32_t len = n - 2 * j + 1;
            pickPass<IsMax>(dst, a, a + j, size_t(len));
            cur = dst;
            which ^= 1;
            j *= 2;
        }
        if (j == k) {
            std::memcpy(win, cur, size_t(outN));
        } else {
            const int32_t off = k - j;
            pickPass<IsMax>(win, cur, cur + off, size_t(outN));
        }
        return;
    }
    uint8_t* pre = s1.data();
    uint8_t* suf = s2.data();
    for (int32_t i = 0; i < n; ++i) pre[i] = (i % k == 0) ? p[i] : pick<IsMax>(pre[i - 1], p[i]);
    for (int32_t i = n - 1; i >= 0; --i)
        suf[i] = (i % k == k - 1 || i == n - 1) ? p[i] : pick<IsMax>(suf[i + 1], p[i]);
    for (int32_t x = 0; x < outN; ++x) win[x] = pick<IsMax>(suf[x], pre[x + k - 1]);
}

// Window extent: a = Area (2 when Area <= 1, then Size - 1 when a >= Size), half = a div 2.
int32_t halfWindow(int32_t area, int32_t size) {
    int64_t a = area;
    if (a <= 1) a = 2;
    if (a >= size) a = int64_t(size) - 1;
    if (a < 0) a = 0;
    return static_cast<int32_t>(a / 2);
}

// The window extremes of an image produced row by row. Push gives the source rows in order;
// after row r the vertical result of the window starting at row r - kh + 1 is ready (van Herk /
// Gil-Werman over blocks of kh rows: prefix extremes run over the current block, suffix
// extremes of the previous block are kept), so only 2 kh rows are buffered.
template <bool IsMax>
class ExtremeRows {
public:
    ExtremeRows(int32_t w, int32_t h, int32_t areaW, int32_t areaH)
        : w_(w), hw_(halfWindow(areaW, w)), hh_(halfWindow(areaH, h)), kw_(2 * hw_ + 1), kh_(2 * hh_ + 1),
          nc_(std::max(0, w - 2)), copyFrom_(std::clamp(w - 3 - hw_, 0, w - kw_) + hw_),
          row_(static_cast<size_t>(w)), tails_(static_cast<size_t>(h)), window_(smallKernels<IsMax>(kw_).first),
          rows_(smallKernels<IsMax>(kh_).second) {
        if (vertical()) {
            result_.resize(size_t(nc_));
            if (rows_) {
                // Small windows: the last kh horizontal results in a ring, taken together.
                ring_.resize(size_t(kh_) * size_t(w_));
                ringRows_.resize(size_t(kh_));
                for (int32_t i = 0; i < kh_; ++i) ringRows_[size_t(i)] = &ring_[size_t(i) * size_t(w_)];
            } else {
                collect_.resize(size_t(kh_) * size_t(nc_));
                suf_.resize(size_t(kh_) * size_t(nc_));
                pre_.resize(size_t(nc_));
            }
        }
    }
    int32_t kh() const { return kh_; }
    int32_t hh() const { return hh_; }
    // Columns 0 ... w - 3 take the vertical pass (none on pages narrower than 3 or for one row).
    bool vertical() const { return nc_ > 0 && kh_ > 1; }
    int32_t columns() const { return nc_; }
    // The last two columns of row y (every column when w < 3): the horizontal extreme at w - 3.
    uint8_t tail(int32_t y) const { return tails_[size_t(y)]; }

    // Takes source row y (rows are pushed from the bottom of the page: y counts from the last
    // row, whose tail is kept as tail(h - 1 - y)); returns the vertical result (columns
    // 0 ... w - 3) of the window starting at pushed row y - kh + 1 when that window exists and
    // vertical(), else the horizontal result of row y itself. Into, when given, may receive the
    // vertical result instead of the stream's own buffer (the returned pointer says where it is).
    const uint8_t* push(int32_t y, const uint8_t* src, uint8_t* into = nullptr) {
        // Horizontal: windows starting at 0 ... w - kw are the columns hw ... w - 1 - hw; the
        // edge columns take the window moved inside.
        const bool ring = vertical() && rows_;
        uint8_t* r = ring && !ring_.empty() ? &ring_[size_t(y % kh_) * size_t(w_)] : row_.data();
        if (window_)
            window_(r + hw_, src, size_t(w_ - kw_ + 1));
        else
            slidingExtreme<IsMax>(src, w_, kw_, r + hw_, s1_, s2_);
        std::memset(r, r[hw_], size_t(hw_));
        std::memset(r + (w_ - hw_), r[w_ - 1 - hw_], size_t(hw_));
        tails_[tails_.size() - 1 - size_t(y)] = r[copyFrom_];
        if (!vertical()) return r;
        if (ring) {
            if (y < kh_ - 1) return nullptr;
            uint8_t* out = into ? into : result_.data();
            rows_(out, ringRows_.data(), size_t(nc_));  // the window of rows y - kh + 1 ... y
            return out;
        }
        const size_t n = size_t(nc_);
        const int32_t i = y % kh_;
        std::memcpy(&collect_[size_t(i) * n], r, n);
        uint8_t* __restrict pre = pre_.data();
        if (i == 0) {
            std::memcpy(pre, r, n);
        } else {
            pickInto<IsMax>(pre, r, n);
        }
        const uint8_t* out = nullptr;
        const int32_t s = y - kh_ + 1;
        if (s >= 0) {
            if (s % kh_ == 0) {
                out = pre;  // the window is this block
            } else {
                const uint8_t* __restrict a = &suf_[size_t(s % kh_) * n];
                uint8_t* __restrict o = result_.data();
                pickPass<IsMax>(o, a, pre, n);
                out = o;
            }
        }
        if (i == kh_ - 1) {
            // Block complete: its suffix extremes, for the windows starting inside it.
            for (int32_t j = kh_ - 2; j >= 0; --j) {
                uint8_t* __restrict d = &collect_[size_t(j) * n];
                const uint8_t* __restrict b = &collect_[size_t(j + 1) * n];
                pickInto<IsMax>(d, b, n);
            }
            collect_.swap(suf_);
        }
        return out;
    }

private:
    int32_t w_, hw_, hh_, kw_, kh_, nc_, copyFrom_;
    std::vector<uint8_t> row_, tails_, s1_, s2_, collect_, suf_, pre_, result_, ring_;
    WindowFn window_;
    RowsFn rows_;
    std::vector<const uint8_t*> ringRows_;
};

// Runs the streams over the rows of Source and calls Emit(y, results...) once for every row y,
// from the last row up, after source row y has been pushed; the column results of Emit cover
// columns 0 ... w - 3 (see ExtremeRows::tail for the rest). Emit may overwrite source row y.
// The rows go in storage order (bottom first), so memory is read forward; the windows (moved
// inside the page at both ends alike) give the same extremes read from either end.
// Into(y) may name where the result for row y is to be written when a window yields exactly
// that row (nullptr: the stream's own buffer); Emit then receives that pointer.
template <class Emit, class Into, class... Streams>
void forEachExtremeRow(const TDIB& source, Emit emit, Into into, Streams&... streams) {
    const int32_t h = source.Height();
    auto& first = std::get<0>(std::tie(streams...));
    const bool vertical = first.vertical();
    const int32_t kh = vertical ? first.kh() : 1, hh = vertical ? first.hh() : 0;
    const int32_t lastStart = h - kh;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t start = y - kh + 1;
        uint8_t* dst = vertical && start > 0 && start < lastStart ? into(h - 1 - (start + hh)) : nullptr;
        auto outs = std::make_tuple(streams.push(y, source.Rows[h - 1 - y], dst)...);
        const int32_t s = y - kh + 1;
        if (s < 0 || s > lastStart) continue;
        const int32_t c = s + hh;
        const int32_t from = s == 0 ? 0 : c, to = s == lastStart ? h - 1 : c;
        for (int32_t row = from; row <= to; ++row) std::apply([&](auto... o) { emit(h - 1 - row, o...); }, outs);
    }
}

template <bool IsMax>
void extremeFilter(const TDIB& source, TDIB& target, int32_t areaW, int32_t areaH) {
    requireTarget(source, target);
    const int32_t w = source.Width(), h = source.Height();
    if (w <= 0 || h <= 0) return;
    ExtremeRows<IsMax> stream(w, h, areaW, areaH);
    const size_t n = size_t(stream.columns());
    forEachExtremeRow(
        source,
        [&](int32_t y, const uint8_t* values) {
            uint8_t* out = target.Rows[y];
            if (values != out) std::memcpy(out, values, n);
            for (int32_t x = int32_t(n); x < w; ++x) out[x] = stream.tail(y);
        },
        [&](int32_t y) { return target.Rows[y]; }, stream);
}

// ---- running mean and deviation ----

// Floor division of 32-bit values by a fixed divisor with one 64 x 64 -> 128 bit multiplication
// (exact for every 32-bit dividend and divisor, Lemire, Kaser and Kurz 2019).
struct FastDiv32 {
    uint64_t m;
    bool one;
    explicit FastDiv32(uint32_t d) : m(d > 1 ? UINT64_MAX / d + 1 : 0), one(d == 1) {}
    int64_t floor(int64_t a) const {
        if (one) return a;
        return static_cast<int64_t>((static_cast<unsigned __int128>(m) * static_cast<uint64_t>(a)) >> 64);
    }
};

// The three phases of AdvancedDynamicThreshold over rows and, per output row, over columns.
template <class Col>
void runningThreshold(const SourceRows& src, TDIB& target, int32_t w, int32_t h, int32_t v, int32_t hz,
                      int64_t kScaled) {
    std::vector<Col> colS(static_cast<size_t>(w), 0), colSS(static_cast<size_t>(w), 0);
    auto addRow = [&](int32_t r) {
        const uint8_t* __restrict s = src.rows[size_t(r)];
        Col* __restrict cs = colS.data();
        Col* __restrict css = colSS.data();
        for (int32_t x = 0; x < w; ++x) {
            cs[x] += s[x];
            css[x] += Col(int32_t(s[x]) * int32_t(s[x]));
        }
    };
    auto subRow = [&](int32_t r) {
        const uint8_t* __restrict s = src.rows[size_t(r)];
        Col* __restrict cs = colS.data();
        Col* __restrict css = colSS.data();
        for (int32_t x = 0; x < w; ++x) {
            cs[x] -= s[x];
            css[x] -= Col(int32_t(s[x]) * int32_t(s[x]));
        }
    };
    auto produce = [&](int32_t y, int64_t n) {
        const uint8_t* srcRow = src.rows[size_t(y)];
        uint8_t* out = target.Rows[y];
        const Col* cs = colS.data();
        const Col* css = colSS.data();
        int64_t s = 0, ss = 0;
        int32_t cols = 0, xo = 0, oldest = 0;
        // mean = Trunc(S / N), variance = Trunc((SS - S mean) / N); the pixel is dark when
        // Trunc(v - deviation KScaled / 256 - mean) < 0, i.e. 256 (v - mean + 1) <= deviation KScaled.
        auto pixel = [&](const auto& d) {
            const int64_t mean = d.floor(s);
            const int64_t variance = std::min<int64_t>(d.floor(ss - s * mean), kSqrtTableSize - 1);
            const int64_t deviation = SqrtTable[size_t(variance)];
            const bool dark = 256 * (int64_t(srcRow[xo]) - mean + 1) <= deviation * kScaled;
            out[xo++] = dark ? 0 : 255;
        };
        // N x 65025 bounds SS, so below 2^32 the 32-bit divider applies.
        auto pixelFor = [&](int64_t count) {
            if (count * 65025 < (int64_t(1) << 32))
                pixel(FastDiv32(static_cast<uint32_t>(count)));
            else
                pixel(Divider(count));
        };
        for (int32_t j = 0; j < hz; ++j) {
            s += cs[j];
            ss += css[j];
            if (++cols & 1) pixelFor(n * cols);
        }
        const int64_t steadyCount = n * hz;
        if (steadyCount * 65025 < (int64_t(1) << 32)) {
            const FastDiv32 d(static_cast<uint32_t>(steadyCount));
            for (int32_t j = hz; j < w; ++j, ++oldest) {
                s += int64_t(cs[j]) - int64_t(cs[oldest]);
                ss += int64_t(css[j]) - int64_t(css[oldest]);
                pixel(d);
            }
        } else {
            const Divider d(steadyCount);
            for (int32_t j = hz; j < w; ++j, ++oldest) {
                s += int64_t(cs[j]) - int64_t(cs[oldest]);
                ss += int64_t(css[j]) - int64_t(css[oldest]);
                pixel(d);
            }
        }
        while (cols > 0) {
            s -= cs[oldest];
            ss -= css[oldest];
            ++oldest;
            if (--cols & 1) pixelFor(n * cols);
        }
    };

    int32_t yo = 0, oldest = 0, count = 0;
    for (int32_t i = 0; i < v; ++i) {
        addRow(i);
        if (++count & 1) produce(yo++, count);
    }
    for (int32_t r = v; r < h; ++r) {
        addRow(r);
        subRow(oldest++);
        produce(yo++, v);
    }
    while (count > 0) {
        subRow(oldest++);
        if (--count & 1) produce(yo++, count);
    }
}

}  // namespace

const std::array<int32_t, kSqrtTableSize> SqrtTable = buildSqrtTable();

// LocalMeanImage: Target(x, y) = Round(sum / count) over the columns x - hw ... x + hw and rows
// y - hh ... y + hh clipped to the image, hw = max(1, (AreaW + 1) div 2) and hh likewise (the
// default 7 x 7 gives 9 x 9 windows). The divisor counts the pixels inside the image.
// Notes: this image must be 8-bit and Target an 8-bit image of its size, else "This operation
// requires 8 bit per pixel bitmap !". Target may be this image.
void TDIB::LocalMeanImage(TDIB& target, int32_t areaW, int32_t areaH) {
    requireTarget(*this, target);
    const size_t w = static_cast<size_t>(Width());
    forEachMeanRow(*this, areaW, areaH, [&](int32_t y, const uint8_t* means, const uint8_t*) {
        std::memcpy(target.Rows[y], means, w);
    });
}

// LocalAverageThreshold: each pixel v with window mean m (LocalMeanImage of AreaW x AreaH)
// becomes HighValue when v > m - Contrast, else LowValue; then 1 bit if ToBinary.
// Notes: AreaW and AreaH below 1 act as 1 (3 x 3 windows). Only 8-bit images are accepted. The
// means are produced row by row and compared at once, instead of through a page-sized
// temporary image; the result is the same.
void TDIB::LocalAverageThreshold(int32_t areaW, int32_t areaH, int32_t contrast, bool toBinary, uint8_t lowValue,
                                 uint8_t highValue) {
    require8(*this);
    const int32_t w = Width();
    // v > m - c  <=>  v - m + c > 0; v - m lies in -255 ... 255, so c can be clamped.
    const int16_t c = static_cast<int16_t>(std::clamp<int32_t>(contrast, -256, 256));
    forEachMeanRow(*this, areaW, areaH, [&](int32_t y, const uint8_t* __restrict m, const uint8_t* __restrict v) {
        uint8_t* __restrict p = Rows[y];
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t above = static_cast<uint8_t>(-static_cast<int>(int16_t(v[x]) - int16_t(m[x]) + c > 0));
            p[x] = static_cast<uint8_t>((highValue & above) | (lowValue & ~above));
        }
    });
    if (toBinary) ConvertToFormat(fmt1Bit);
}

// LocalMinImage / LocalMaxImage: window sizes a = AreaW (2 when AreaW <= 1, Width - 1 when a >=
// Width), hw = a div 2, and likewise hh from AreaH and Height: 2 hw + 1 by 2 hh + 1 windows (an
// even 8 gives 9). Windows at the edges are moved inside the image, not shrunk. The last two
// columns take only the horizontal extreme of their row at column Width - 3.
// Notes: on a page narrower than 3 pixels every column takes the horizontal extreme of the first
// window of its row (columns 0 ... 2 hw), without a vertical pass. This image must be 8-bit and
// Target an 8-bit image of its size. Target may be this image.
void TDIB::LocalMinImage(TDIB& target, int32_t areaW, int32_t areaH) {
    extremeFilter<false>(*this, target, areaW, areaH);
}

void TDIB::LocalMaxImage(TDIB& target, int32_t areaW, int32_t areaH) {
    extremeFilter<true>(*this, target, areaW, areaH);
}

// LocalMinMaxThreshold: with lo, hi the window minimum and maximum, a pixel v becomes LowValue
// when v < Level in a low-contrast window (hi - lo < Contrast) and when v < (hi + lo) shr 1
// elsewhere; HighValue otherwise (a pixel equal to the comparison value is HighValue).
// Notes: AreaW and AreaH must lie in 1 ... Width and 1 ... Height ("Bad AreaW or AreaH value");
// only 8-bit images are accepted.
void TDIB::LocalMinMaxThreshold(uint8_t contrast, int32_t areaW, int32_t areaH, uint8_t level, bool toBinary,
                                uint8_t lowValue, uint8_t highValue) {
    const int32_t w = Width(), h = Height();
    if (areaW < 1 || areaH < 1 || areaW > w || areaH > h) throw Exception(kBadArea);
    require8(*this);
    if (w <= 0 || h <= 0) return;
    // The window minima and maxima are produced row by row and compared at once, instead of
    // through two page-sized temporary images; the result is the same.
    ExtremeRows<false> lo(w, h, areaW, areaH);
    ExtremeRows<true> hi(w, h, areaW, areaH);
    const int32_t n = lo.columns();
    auto decide = [&](uint8_t v, int32_t l, int32_t u) {
        const int32_t cmp = u - l < int32_t(contrast) ? int32_t(level) : (u + l) >> 1;
        return int32_t(v) < cmp ? lowValue : highValue;
    };
    forEachExtremeRow(
        *this,
        [&](int32_t y, const uint8_t* __restrict l, const uint8_t* __restrict u) {
            uint8_t* __restrict p = Rows[y];
            for (int32_t x = 0; x < n; ++x) p[x] = decide(p[x], l[x], u[x]);
            for (int32_t x = n; x < w; ++x) p[x] = decide(p[x], lo.tail(y), hi.tail(y));
        },
        [](int32_t) -> uint8_t* { return nullptr; }, lo, hi);
    if (toBinary) ConvertToFormat(fmt1Bit);
}

// AdvancedDynamicThreshold: Target(x, y) = 0 where Source(x, y) is darker than the mean of its
// window lowered by K deviations, 255 elsewhere. The vertical size is Window (H - 1 when Window
// > H), the horizontal size Window (W - 1 when Window >= W) made odd. Running column sums of the
// values and squares go through a ramp-up (an output row after each odd number of rows), a
// steady state and a ramp-down (an output row whenever the remaining count is odd), and each
// row runs the same three phases over its columns. Per pixel, with N the number of pixels
// summed: mean = Trunc(S / N), variance = Trunc((SS - S mean) / N), deviation =
// SqrtTable[variance], and the pixel is 0 when Trunc(v - deviation Trunc(256 K) / 256 - mean) < 0.
// Notes: both images must be 8-bit and of the same size ("This operation requires 8 bit per
// pixel bitmap !"); Target may be Source. Sums are 64-bit, so large windows cannot overflow.
// Window sizes are at least 1 (a page one row high, or a Window below 1, uses windows of one
// row or column rather than dividing by zero).
void TDIB::AdvancedDynamicThreshold(int32_t window, const TDIB& source, TDIB& target, double k) {
    requireTarget(source, target);
    const int32_t w = source.Width(), h = source.Height();
    if (w <= 0 || h <= 0) return;
    const long double ks = static_cast<long double>(k) * 256.0L;
    int64_t kScaled = 0;
    if (ks == ks) kScaled = Trunc(std::clamp(ks, -2147483648.0L, 2147483647.0L));

    int32_t v = window > h ? h - 1 : window;
    if (v < 1) v = 1;
    int32_t hz = window >= w ? w - 1 : window;
    if (hz % 2 == 0) hz += 1;
    if (hz < 1) hz = 1;

    SourceRows src(source, target);
    // Column sums of squares of V rows fit 32 bits up to V = 33025.
    if (int64_t(v) * 65025 <= std::numeric_limits<int32_t>::max())
        runningThreshold<int32_t>(src, target, w, h, v, hz, kScaled);
    else
        runningThreshold<int64_t>(src, target, w, h, v, hz, kScaled);
}

}  // namespace qil
