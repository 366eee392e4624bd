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

template <class Acc>
void meanFilter(const SourceRows& src, TDIB& target, int32_t w, int32_t h, int32_t hw, int32_t hh) {
    std::vector<Acc> col(size_t(w), 0);
    // Rows 0 ... min(hh, h - 1) for output row 0.
    int32_t top = 0, bottom = std::min(hh, h - 1);
    for (int32_t r = top; r <= bottom; ++r) {
        const uint8_t* s = src.rows[size_t(r)];
        for (int32_t x = 0; x < w; ++x) col[size_t(x)] += s[x];
    }
    // Rounded quotients of the interior count, rebuilt when the row count changes.
    std::vector<uint8_t> table;
    int64_t tableCount = -1;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t newTop = std::max(0, y - hh), newBottom = std::min(h - 1, y + hh);
        while (bottom < newBottom) {
            const uint8_t* s = src.rows[size_t(++bottom)];
            for (int32_t x = 0; x < w; ++x) col[size_t(x)] += s[x];
        }
        while (top < newTop) {
            const uint8_t* s = src.rows[size_t(top++)];
            for (int32_t x = 0; x < w; ++x) col[size_t(x)] -= s[x];
        }
        const int64_t rowCount = bottom - top + 1;
        uint8_t* out = target.Rows[y];
        // Columns x - hw ... x + hw clipped to the row.
        int64_t sum = 0;
        const int32_t firstRight = std::min(hw, w - 1);
        for (int32_t x = 0; x <= firstRight; ++x) sum += col[size_t(x)];
        auto edgePixel = [&](int32_t x) {
            const int64_t cols = int64_t(std::min(w - 1, x + hw)) - std::max(0, x - hw) + 1;
            out[x] = static_cast<uint8_t>(Divider(rowCount * cols).round(sum));
        };
        const int32_t interiorFirst = hw, interiorLast = w - 1 - hw;  // full windows
        int32_t x = 0;
        for (; x < w && x < interiorFirst; ++x) {
            if (x > 0 && x + hw < w) sum += col[size_t(x + hw)];
            edgePixel(x);
        }
        if (x <= interiorLast) {
            const int64_t count = rowCount * (2 * int64_t(hw) + 1);
            const bool useTable = count <= 512;
            if (useTable && count != tableCount) {
                table.assign(size_t(255 * count + 1), 0);
                Divider d(count);
                for (int64_t s = 0; s <= 255 * count; ++s) table[size_t(s)] = static_cast<uint8_t>(d.round(s));
                tableCount = count;
            }
            const Divider d(count);
            for (; x <= interiorLast; ++x) {
                if (x > 0) {
                    sum += col[size_t(x + hw)];
                    if (x - hw - 1 >= 0) sum -= col[size_t(x - hw - 1)];
                }
                out[x] = useTable ? table[size_t(sum)] : static_cast<uint8_t>(d.round(sum));
            }
        }
        for (; x < w; ++x) {
            if (x > 0) {
                if (x + hw < w) sum += col[size_t(x + hw)];
                if (x - hw - 1 >= 0) sum -= col[size_t(x - hw - 1)];
            }
            edgePixel(x);
        }
    }
}

// ---- window minimum / maximum ----

template <bool IsMax>
inline uint8_t pick(uint8_t a, uint8_t b) {
    if constexpr (IsMax)
        return a > b ? a : b;
    else
        return a < b ? a : b;
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
            for (int32_t x = 0; x < len; ++x) dst[x] = pick<IsMax>(a[x], a[x + j]);
            cur = dst;
            which ^= 1;
            j *= 2;
        }
        if (j == k) {
            std::memcpy(win, cur, size_t(outN));
        } else {
            const int32_t off = k - j;
            for (int32_t x = 0; x < outN; ++x) win[x] = pick<IsMax>(cur[x], cur[x + off]);
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

template <bool IsMax>
void extremeFilter(const TDIB& source, TDIB& target, int32_t areaW, int32_t areaH) {
    requireTarget(source, target);
    const int32_t w = source.Width(), h = source.Height();
    if (w <= 0 || h <= 0) return;
    const int32_t hw = halfWindow(areaW, w), hh = halfWindow(areaH, h);
    const int32_t kw = 2 * hw + 1, kh = 2 * hh + 1;

    // Horizontal pass into Target: R(x) over the window moved inside the row,
    // R(x) = Win[clamp(x - hw, 0, w - kw)]. The last two columns (every column of a page
    // narrower than 3) keep R(w - 3) of their row and take no vertical pass.
    {
        std::vector<uint8_t> win(static_cast<size_t>(w)), s1, s2, line(static_cast<size_t>(w));
        const int32_t lastStart = w - kw;
        const int32_t copyFrom = std::clamp(w - 3 - hw, 0, lastStart);
        for (int32_t y = 0; y < h; ++y) {
            std::memcpy(line.data(), source.Rows[y], size_t(w));  // the target may be the source
            slidingExtreme<IsMax>(line.data(), w, kw, win.data(), s1, s2);
            uint8_t* out = target.Rows[y];
            int32_t x = 0;
            for (; x < hw && x < w; ++x) out[x] = win[0];
            for (; x < w && x - hw <= lastStart; ++x) out[x] = win[size_t(x - hw)];
            for (; x < w; ++x) out[x] = win[size_t(lastStart)];
            for (x = std::max(0, w - 2); x < w; ++x) out[x] = win[size_t(copyFrom)];
        }
    }

    // Vertical pass over columns 0 ... w - 3, in place in Target, with van Herk / Gil-Werman
    // blocks of kh rows: the window starting at row s is pick(Suf[s], Pre[s + kh - 1]).
    const int32_t nc = w - 2;
    if (nc <= 0 || kh == 1) return;
    const size_t rowLen = size_t(nc);
    const int32_t blocks = (h + kh - 1) / kh;
    // Suffix extremes of two blocks (current and next) and prefix extremes of the next block.
    std::vector<uint8_t> sufBuf[2] = {std::vector<uint8_t>(size_t(kh) * rowLen), std::vector<uint8_t>(size_t(kh) * rowLen)};
    std::vector<uint8_t> preBuf(size_t(kh) * rowLen);
    std::vector<uint8_t> outRow(rowLen);
    auto blockRows = [&](int32_t b) { return std::min(kh, h - b * kh); };
    auto computeSuf = [&](int32_t b, std::vector<uint8_t>& suf) {
        const int32_t base = b * kh, n = blockRows(b);
        std::memcpy(&suf[size_t(n - 1) * rowLen], target.Rows[base + n - 1], rowLen);
        for (int32_t i = n - 2; i >= 0; --i) {
            uint8_t* __restrict d = &suf[size_t(i) * rowLen];
            const uint8_t* __restrict a = &suf[size_t(i + 1) * rowLen];
            const uint8_t* __restrict r = target.Rows[base + i];
            for (size_t x = 0; x < rowLen; ++x) d[x] = pick<IsMax>(a[x], r[x]);
        }
    };
    auto computePre = [&](int32_t b) {
        const int32_t base = b * kh, n = blockRows(b);
        std::memcpy(&preBuf[0], target.Rows[base], rowLen);
        for (int32_t i = 1; i < n; ++i) {
            uint8_t* __restrict d = &preBuf[size_t(i) * rowLen];
            const uint8_t* __restrict a = &preBuf[size_t(i - 1) * rowLen];
            const uint8_t* __restrict r = target.Rows[base + i];
            for (size_t x = 0; x < rowLen; ++x) d[x] = pick<IsMax>(a[x], r[x]);
        }
    };
    const int32_t lastStart = h - kh;
    computeSuf(0, sufBuf[0]);
    for (int32_t b = 0; b < blocks && b * kh <= lastStart; ++b) {
        std::vector<uint8_t>& suf = sufBuf[b & 1];
        const bool hasNext = b + 1 < blocks;
        // Block b + 1 is read before this block's results overwrite its first rows.
        if (hasNext) {
            computeSuf(b + 1, sufBuf[(b + 1) & 1]);
            computePre(b + 1);
        }
        const int32_t sEnd = std::min(lastStart, b * kh + kh - 1);
        for (int32_t s = b * kh; s <= sEnd; ++s) {
            const uint8_t* __restrict a = &suf[size_t(s - b * kh) * rowLen];
            const uint8_t* result = a;  // s aligned to the block: the block itself
            if (s != b * kh) {
                const uint8_t* __restrict p = &preBuf[size_t(s + kh - 1 - (b + 1) * kh) * rowLen];
                uint8_t* __restrict o = outRow.data();
                for (size_t x = 0; x < rowLen; ++x) o[x] = pick<IsMax>(a[x], p[x]);
                result = o;
            }
            const int32_t c = s + hh;
            const int32_t first = s == 0 ? 0 : c, last = s == lastStart ? h - 1 : c;
            for (int32_t y = first; y <= last; ++y) std::memcpy(target.Rows[y], result, rowLen);
        }
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
    const int32_t w = Width(), h = Height();
    if (w <= 0 || h <= 0) return;
    auto half = [](int32_t area, int32_t size) {
        const int64_t v = std::max<int64_t>(1, (int64_t(area) + 1) / 2);
        return static_cast<int32_t>(std::min<int64_t>(v, size));  // beyond the image it makes no difference
    };
    const int32_t hw = half(areaW, w), hh = half(areaH, h);
    SourceRows src(*this, target);
    const int64_t maxColumn = 255 * (std::min<int64_t>(h, 2 * int64_t(hh) + 1));
    if (maxColumn <= std::numeric_limits<int32_t>::max())
        meanFilter<int32_t>(src, target, w, h, hw, hh);
    else
        meanFilter<int64_t>(src, target, w, h, hw, hh);
}

// LocalAverageThreshold: each pixel v with window mean m (LocalMeanImage of AreaW x AreaH)
// becomes HighValue when v > m - Contrast, else LowValue; then 1 bit if ToBinary.
// Notes: AreaW and AreaH below 1 act as 1 (3 x 3 windows). Only 8-bit images are accepted.
void TDIB::LocalAverageThreshold(int32_t areaW, int32_t areaH, int32_t contrast, bool toBinary, uint8_t lowValue,
                                 uint8_t highValue) {
    require8(*this);
    const int32_t w = Width(), h = Height();
    {
        TDIB mean;
        mean.CreateNew(w, h, fmt8Bit, XResolution(), YResolution());
        LocalMeanImage(mean, areaW, areaH);
        // v > m - c  <=>  v - m + c > 0; v - m lies in -255 ... 255, so c can be clamped.
        const int16_t c = static_cast<int16_t>(std::clamp<int32_t>(contrast, -256, 256));
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* __restrict p = Rows[y];
            const uint8_t* __restrict m = mean.Rows[y];
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t above = static_cast<uint8_t>(-static_cast<int>(int16_t(p[x]) - int16_t(m[x]) + c > 0));
                p[x] = static_cast<uint8_t>((highValue & above) | (lowValue & ~above));
            }
        }
    }
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
    {
        TDIB lo, hi;
        lo.CreateNew(w, h, fmt8Bit, 1, 1);
        hi.CreateNew(w, h, fmt8Bit, 1, 1);
        LocalMinImage(lo, areaW, areaH);
        LocalMaxImage(hi, areaW, areaH);
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* __restrict p = Rows[y];
            const uint8_t* __restrict l = lo.Rows[y];
            const uint8_t* __restrict u = hi.Rows[y];
            for (int32_t x = 0; x < w; ++x) {
                const int32_t range = int32_t(u[x]) - int32_t(l[x]);
                const int32_t cmp = range < contrast ? int32_t(level) : (int32_t(u[x]) + int32_t(l[x])) >> 1;
                p[x] = int32_t(p[x]) < cmp ? lowValue : highValue;
            }
        }
    }
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
    long double ks = static_cast<long double>(k) * 256.0L;
    int64_t kScaled = 0;
    if (ks == ks) kScaled = Trunc(std::clamp(ks, -2147483648.0L, 2147483647.0L));

    int32_t v = window > h ? h - 1 : window;
    if (v < 1) v = 1;
    int32_t hz = window >= w ? w - 1 : window;
    if (hz % 2 == 0) hz += 1;
    if (hz < 1) hz = 1;

    SourceRows src(source, target);
    std::vector<int64_t> colS(size_t(w), 0), colSS(size_t(w), 0);
    auto addRow = [&](int32_t r) {
        const uint8_t* s = src.rows[size_t(r)];
        for (int32_t x = 0; x < w; ++x) {
            colS[size_t(x)] += s[x];
            colSS[size_t(x)] += int32_t(s[x]) * int32_t(s[x]);
        }
    };
    auto subRow = [&](int32_t r) {
        const uint8_t* s = src.rows[size_t(r)];
        for (int32_t x = 0; x < w; ++x) {
            colS[size_t(x)] -= s[x];
            colSS[size_t(x)] -= int32_t(s[x]) * int32_t(s[x]);
        }
    };
    auto produce = [&](int32_t y, int64_t n) {
        const uint8_t* srcRow = src.rows[size_t(y)];
        uint8_t* out = target.Rows[y];
        int64_t s = 0, ss = 0;
        int32_t cols = 0, xo = 0, oldest = 0;
        auto pixel = [&](const Divider& d) {
            const int64_t mean = d.floor(s);
            const int64_t variance = std::min<int64_t>(d.floor(ss - s * mean), kSqrtTableSize - 1);
            const int64_t deviation = SqrtTable[size_t(variance)];
            const bool dark = 256 * (int64_t(srcRow[xo]) - mean + 1) <= deviation * kScaled;
            out[xo++] = dark ? 0 : 255;
        };
        for (int32_t j = 0; j < hz; ++j) {
            s += colS[size_t(j)];
            ss += colSS[size_t(j)];
            if (++cols & 1) pixel(Divider(n * cols));
        }
        const Divider steady(n * hz);
        for (int32_t j = hz; j < w; ++j) {
            s += colS[size_t(j)] - colS[size_t(oldest)];
            ss += colSS[size_t(j)] - colSS[size_t(oldest)];
            ++oldest;
            pixel(steady);
        }
        while (cols > 0) {
            s -= colS[size_t(oldest)];
            ss -= colSS[size_t(oldest)];
            ++oldest;
            if (--cols & 1) pixel(Divider(n * cols));
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

}  // namespace qil
