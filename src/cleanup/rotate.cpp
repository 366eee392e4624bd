// Rotation by two in-place shears.
//
// Rotate straightens a page by the small angle the skew estimator measured. It does not
// resample a true rotation: first every row moves sideways in proportion to its row number,
// then every column moves up or down in proportion to its column number. Size, format and
// color table stay; pixels pushed out at one edge are lost and the uncovered strip at the
// other edge takes the fill value (WhiteIndex or BlackIndex; 0x00FFFFFF or 0 for 24 bits).
//
// Notes:
//  - Shear factors: RowFactor = |Round(sin(t) * H)| / H with the sine taken as cos(t - pi/2),
//    ColFactor = |Round(sin(t) * W)| / W, in extended precision; so the bottom row and the
//    right column move by whole pixels.
//  - A positive angle moves rows left and columns down; a negative one rows right and
//    columns up. The row pass runs first and the column pass sees the sheared rows.
//  - Angles below 0.1 degree in magnitude change nothing; a shear larger than the page
//    fills whole rows or columns.
//  - Every row and every column is moved on its own, so the whole-pixel shear moves the
//    bytes of a row at once (bit strings for 1-bit rows) and, in the column pass, all the
//    columns that share one shift together, row by row. The result is the one of moving the
//    pixels one at a time in the directions that read each source before overwriting it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "dib/dib.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;

struct ShearFactors {
    long double Row = 0;
    long double Col = 0;
};

long double RowFactorOf(double angle, int32_t h) {
    if (h <= 0) return 0;
    long double theta = static_cast<long double>(angle) * kPi / 180;
    long double sine = std::cos(theta - kPi / 2);
    return std::fabs(static_cast<long double>(Round(sine * h))) / h;
}

long double ColFactorOf(double angle, int32_t w) {
    if (w <= 0) return 0;
    long double theta = static_cast<long double>(angle) * kPi / 180;
    return std::fabs(static_cast<long double>(Round(std::sin(theta) * w))) / w;
}

int64_t AbsI(int64_t v) { return v < 0 ? -v : v; }

// ---- Whole-pixel shears ----

// Moves pixels [0, w) of a packed 1-bit row by n toward lower X (Left) or higher X, the
// vacated pixels taking FillBit; the padding bits after pixel w - 1 are left untouched.
void ShiftBitRow(uint8_t* row, int32_t w, int64_t n, bool left, bool fillBit, std::vector<uint8_t>& ext) {
    if (w <= 0 || n <= 0) return;
    if (n > w) n = w;
    int32_t rowBytes = (w + 7) / 8;
    uint8_t fb = fillBit ? 0xFF : 0x00;
    // ext holds the source bits with fill bits before or after them, aligned so that output
    // bit k is ext bit k + d.
    int64_t d;
    if (left) {
        int64_t q = n >> 3;
        ext.assign(static_cast<size_t>(rowBytes + q + 2), fb);
        std::memcpy(ext.data(), row, static_cast<size_t>(rowBytes));
        int valid = w - 8 * (rowBytes - 1);
        auto keep = static_cast<uint8_t>(0xFF << (8 - valid));
        ext[rowBytes - 1] = static_cast<uint8_t>((ext[rowBytes - 1] & keep) | (fb & ~keep));
        d = n;
    } else {
        int64_t p = (n + 7) >> 3;
        ext.assign(static_cast<size_t>(p + rowBytes + 1), 0);
        std::memset(ext.data(), fb, static_cast<size_t>(p));
        std::memcpy(ext.data() + p, row, static_cast<size_t>(rowBytes));
        d = 8 * p - n;
    }
    int64_t q = d >> 3;
    int r = static_cast<int>(d & 7);
    const uint8_t* e = ext.data() + q;
    auto outByte = [&](int32_t i) -> uint8_t {
        return r ? static_cast<uint8_t>((e[i] << r) | (e[i + 1] >> (8 - r))) : e[i];
    };
    int32_t i = 0;
    for (; i + 8 <= rowBytes - 1; i += 8) {  // eight bytes at a time: e has a byte beyond each
        uint64_t v;
        std::memcpy(&v, e + i, 8);
        v = __builtin_bswap64(v);
        if (r) v = (v << r) | (e[i + 8] >> (8 - r));
        v = __builtin_bswap64(v);
        std::memcpy(row + i, &v, 8);
    }
    for (; i < rowBytes - 1; ++i) row[i] = outByte(i);
    int valid = w - 8 * (rowBytes - 1);
    auto mask = static_cast<uint8_t>(0xFF << (8 - valid));
    row[rowBytes - 1] = static_cast<uint8_t>((row[rowBytes - 1] & ~mask) | (outByte(rowBytes - 1) & mask));
}

// Copies pixels [a, b) of Src to the same positions of Dst (1-bit rows).
inline void CopyBitRange(uint8_t* dst, const uint8_t* src, int32_t a, int32_t b) {
    int32_t b0 = a >> 3, b1 = (b - 1) >> 3;
    auto m0 = static_cast<uint8_t>(0xFF >> (a & 7));
    auto m1 = static_cast<uint8_t>(0xFF << (7 - ((b - 1) & 7)));
    if (b0 == b1) {
        uint8_t m = m0 & m1;
        dst[b0] = static_cast<uint8_t>((dst[b0] & ~m) | (src[b0] & m));
        return;
    }
    dst[b0] = static_cast<uint8_t>((dst[b0] & ~m0) | (src[b0] & m0));
    if (b1 > b0 + 1) std::memcpy(dst + b0 + 1, src + b0 + 1, static_cast<size_t>(b1 - b0 - 1));
    dst[b1] = static_cast<uint8_t>((dst[b1] & ~m1) | (src[b1] & m1));
}

inline void FillBitRange(uint8_t* dst, int32_t a, int32_t b, uint8_t fb) {
    int32_t b0 = a >> 3, b1 = (b - 1) >> 3;
    auto m0 = static_cast<uint8_t>(0xFF >> (a & 7));
    auto m1 = static_cast<uint8_t>(0xFF << (7 - ((b - 1) & 7)));
    if (b0 == b1) {
        uint8_t m = m0 & m1;
        dst[b0] = static_cast<uint8_t>((dst[b0] & ~m) | (fb & m));
        return;
    }
    dst[b0] = static_cast<uint8_t>((dst[b0] & ~m0) | (fb & m0));
    if (b1 > b0 + 1) std::memset(dst + b0 + 1, fb, static_cast<size_t>(b1 - b0 - 1));
    dst[b1] = static_cast<uint8_t>((dst[b1] & ~m1) | (fb & m1));
}

// Fills Count pixels of 3 bytes from Dst with the raw 24-bit value.
inline void Fill24(uint8_t* dst, int64_t count, int32_t value) {
    uint8_t b = static_cast<uint8_t>(value >> 16), g = static_cast<uint8_t>(value >> 8), r = static_cast<uint8_t>(value);
    for (int64_t i = 0; i < count; ++i, dst += 3) {
        dst[0] = b;
        dst[1] = g;
        dst[2] = r;
    }
}

// A run of adjacent columns that move by the same number of rows.
struct ColumnRun {
    int32_t First;
    int32_t End;  // one past the last column
    int64_t Shift;
};

// The column pass of a 1-bit page (RowBytes >= 8). A row is rebuilt eight bytes at a time:
// each chunk (at byte 0, 8, 16 ..., and one ending at the row's last byte when RowBytes is not
// a multiple of 8) takes the bits of each run it meets from that run's source row, under a
// mask in memory order, and keeps its other bits (columns that do not move, padding). Row k
// takes run r's bits from row k - Shift (positive) or k + Shift, or the fill, in the order of
// the per-pixel moves; a chunk that overlaps the one before it recomputes the same bits.
void ShearColumns1(const std::vector<uint8_t*>& rows, int32_t rowBytes, int32_t h, const std::vector<ColumnRun>& runs,
                   bool positive, uint8_t fillByte) {
    struct Piece {
        int64_t Shift;
        uint64_t Mask;  // in memory order
    };
    struct Chunk {
        int32_t Offset;
        uint64_t Keep;  // in memory order
        size_t First, Count;
    };
    std::vector<Piece> pieces;
    std::vector<Chunk> chunks;
    std::vector<int32_t> offsets;
    for (int32_t o = 0; o + 8 <= rowBytes; o += 8) offsets.push_back(o);
    if (rowBytes % 8) offsets.push_back(rowBytes - 8);
    for (int32_t offset : offsets) {
        const int64_t x0 = 8 * int64_t(offset), x1 = x0 + 64;  // the chunk's pixels x0 .. x1 - 1
        Chunk c{offset, ~0ull, pieces.size(), 0};
        for (const ColumnRun& run : runs) {
            const int64_t a = std::max<int64_t>(run.First, x0), b = std::min<int64_t>(run.End, x1);
            if (a >= b) continue;
            const int64_t lo = a - x0, hi = b - x0;  // bits lo .. hi - 1, bit 63 = pixel x0
            const uint64_t m = (hi == 64 ? ~0ull : ~(~0ull >> hi)) & (~0ull >> lo);
            pieces.push_back(Piece{run.Shift, __builtin_bswap64(m)});
            c.Keep &= ~__builtin_bswap64(m);
            ++c.Count;
        }
        if (c.Count) chunks.push_back(c);
    }
    uint64_t fill;
    std::memset(&fill, fillByte, 8);
    auto moveRow = [&](int32_t k) {
        uint8_t* dst = rows[static_cast<size_t>(k)];
        for (const Chunk& c : chunks) {
            uint64_t d;
            std::memcpy(&d, dst + c.Offset, 8);
            d &= c.Keep;
            for (size_t i = c.First; i < c.First + c.Count; ++i) {
                const Piece& p = pieces[i];
                const int64_t src = positive ? k - p.Shift : k + p.Shift;
                uint64_t s = fill;
                if (src >= 0 && src < h) std::memcpy(&s, rows[static_cast<size_t>(src)] + c.Offset, 8);
                d |= s & p.Mask;
            }
            std::memcpy(dst + c.Offset, &d, 8);
        }
    };
    if (positive)
        for (int32_t k = h - 1; k >= 0; --k) moveRow(k);
    else
        for (int32_t k = 0; k < h; ++k) moveRow(k);
}

}  // namespace

int32_t TDIB::BlendColors(int32_t a, int32_t b, double weightA, double weightB) {
    long double wa = weightA, wb = weightB;
    auto channel = [&](int shift) -> int32_t {
        long double ca = (a >> shift) & 255, cb = (b >> shift) & 255;
        return static_cast<int32_t>(Round(wa * ca + wb * cb)) & 255;
    };
    return channel(0) | (channel(8) << 8) | (channel(16) << 16);
}

void TDIB::Rotate(bool fillWithWhite, bool interpolate, double rowAngle, double colAngle) {
    if (!interpolate) {
        ShearImage(fillWithWhite, rowAngle);
        return;
    }
    switch (ImageFormat) {
        case fmt1Bit: ShearInterpolated1(fillWithWhite, rowAngle, colAngle); break;
        case fmt8Bit: ShearInterpolated8(fillWithWhite, rowAngle, colAngle); break;
        case fmt24Bit: ShearInterpolated24(fillWithWhite, rowAngle, colAngle); break;
        default: break;  // 4-bit images are left as they are
    }
}

void TDIB::ShearImage(bool fillWithWhite, double angle) {
    if (std::fabs(angle) < 0.1) return;
    const int32_t w = Width(), h = Height();
    if (w <= 0 || h <= 0) return;
    const long double rowFactor = RowFactorOf(angle, h), colFactor = ColFactorOf(angle, w);
    const int32_t fill = fillWithWhite ? WhiteIndex() : BlackIndex();
    const bool positive = angle >= 0;
    const uint8_t format = ImageFormat;

    // Rows: a positive angle moves row t left by n, a negative one right by n.
    std::vector<uint8_t> ext;
    for (int32_t t = 0; t < h; ++t) {
        int64_t n = std::min<int64_t>(AbsI(Round(rowFactor * t)), w);
        if (n == 0) continue;
        uint8_t* row = Rows[t];
        int64_t keep = w - n;
        switch (format) {
            case fmt1Bit: ShiftBitRow(row, w, n, positive, fill > 0, ext); break;
            case fmt8Bit:
                if (positive) {
                    std::memmove(row, row + n, static_cast<size_t>(keep));
                    std::memset(row + keep, fill & 255, static_cast<size_t>(n));
                } else {
                    std::memmove(row + n, row, static_cast<size_t>(keep));
                    std::memset(row, fill & 255, static_cast<size_t>(n));
                }
                break;
            case fmt24Bit:
                if (positive) {
                    std::memmove(row, row + 3 * n, static_cast<size_t>(3 * keep));
                    Fill24(row + 3 * keep, n, fill);
                } else {
                    std::memmove(row + 3 * n, row, static_cast<size_t>(3 * keep));
                    Fill24(row, n, fill);
                }
                break;
            default:
                if (positive) {
                    for (int32_t k = 0; k < keep; ++k) SetPixel(k, t, GetPixel(k + static_cast<int32_t>(n), t));
                    for (int32_t k = static_cast<int32_t>(keep); k < w; ++k) SetPixel(k, t, fill);
                } else {
                    for (int32_t k = w - 1; k >= n; --k) SetPixel(k, t, GetPixel(k - static_cast<int32_t>(n), t));
                    for (int32_t k = 0; k < n; ++k) SetPixel(k, t, fill);
                }
                break;
        }
    }

    // Columns: a positive angle moves column t down by n, a negative one up by n. Adjacent
    // columns with one shift are moved together; rows are visited in the order that reads
    // every source row before it is overwritten.
    std::vector<ColumnRun> runs;
    for (int32_t t = 0; t < w;) {
        int64_t n = std::min<int64_t>(AbsI(Round(colFactor * t)), h);
        int32_t end = t + 1;
        while (end < w && std::min<int64_t>(AbsI(Round(colFactor * end)), h) == n) ++end;
        if (n > 0) runs.push_back(ColumnRun{t, end, n});
        t = end;
    }
    if (runs.empty()) return;
    const uint8_t fillByte1 = fill > 0 ? 0xFF : 0x00;
    if (format == fmt1Bit && RowBytes >= 8) {
        ShearColumns1(Rows, RowBytes, h, runs, positive, fillByte1);
        return;
    }
    auto moveRow = [&](int32_t k, const ColumnRun& run, bool fromSource, int32_t srcRow) {
        uint8_t* dst = Rows[k];
        switch (format) {
            case fmt1Bit:
                if (fromSource)
                    CopyBitRange(dst, Rows[srcRow], run.First, run.End);
                else
                    FillBitRange(dst, run.First, run.End, fillByte1);
                break;
            case fmt8Bit:
                if (fromSource)
                    std::memcpy(dst + run.First, Rows[srcRow] + run.First, static_cast<size_t>(run.End - run.First));
                else
                    std::memset(dst + run.First, fill & 255, static_cast<size_t>(run.End - run.First));
                break;
            case fmt24Bit:
                if (fromSource)
                    std::memcpy(dst + 3 * run.First, Rows[srcRow] + 3 * run.First, static_cast<size_t>(3 * (run.End - run.First)));
                else
                    Fill24(dst + 3 * run.First, run.End - run.First, fill);
                break;
            default:
                for (int32_t x = run.First; x < run.End; ++x) SetPixel(x, k, fromSource ? GetPixel(x, srcRow) : fill);
                break;
        }
    };
    if (positive) {
        for (int32_t k = h - 1; k >= 0; --k)
            for (const ColumnRun& run : runs) {
                bool from = k >= run.Shift;
                moveRow(k, run, from, from ? k - static_cast<int32_t>(run.Shift) : 0);
            }
    } else {
        for (int32_t k = 0; k < h; ++k)
            for (const ColumnRun& run : runs) {
                bool from = k + run.Shift < h;
                moveRow(k, run, from, from ? k + static_cast<int32_t>(run.Shift) : 0);
            }
    }
}

// ---- Interpolated shears ----
//
// Four passes, each only when its angle asks for it: rows right (RowAngle < 0), columns up
// (ColAngle < 0), rows left (RowAngle > 0), columns down (ColAngle > 0). For row or column t,
// s = Factor * t, j = Trunc(s), f = Frac(s); j = 0 leaves it as it is. The pixel at distance
// j takes the weight f and its neighbour one step nearer 1 - f, so the content moves by
// j - 1 + f while j pixels are filled. Blends round to nearest with ties to even.

namespace {

struct Access8 {
    static int32_t Get(const uint8_t* row, int32_t x) { return row[x]; }
    static void Set(uint8_t* row, int32_t x, int32_t v) { row[x] = static_cast<uint8_t>(v & 255); }
};

struct Access24 {
    static int32_t Get(const uint8_t* row, int32_t x) {
        const uint8_t* p = row + 3 * x;
        return p[2] | (p[1] << 8) | (p[0] << 16);
    }
    static void Set(uint8_t* row, int32_t x, int32_t v) {
        uint8_t* p = row + 3 * x;
        p[0] = static_cast<uint8_t>(v >> 16);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v);
    }
};

struct Access1 {
    static int32_t Get(const uint8_t* row, int32_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
    static void Set(uint8_t* row, int32_t x, int32_t v) {
        auto m = static_cast<uint8_t>(0x80 >> (x & 7));
        if (v > 0)
            row[x >> 3] |= m;
        else
            row[x >> 3] &= static_cast<uint8_t>(~m);
    }
};

// Blend of the weight f (for A) and 1 - f (for B), the same for a whole row or column.
struct Blend8 {
    long double F, G;
    explicit Blend8(long double f) : F(f), G(1 - f) {}
    int32_t operator()(int32_t a, int32_t b) const {
        if (a == b) return a;  // f * a + (1 - f) * a rounds to a
        return static_cast<int32_t>(Round(F * a + G * b));
    }
};

struct Blend24 {
    double F, G;
    explicit Blend24(long double f) : F(static_cast<double>(f)), G(static_cast<double>(1 - f)) {}
    int32_t operator()(int32_t a, int32_t b) const { return a == b ? a : TDIB::BlendColors(a, b, F, G); }
};

// For bits the blend of a mixed pair is fixed per line: Round(f) for (1, 0), Round(1 - f)
// for (0, 1).
struct Blend1 {
    int32_t OneZero, ZeroOne;
    explicit Blend1(long double f)
        : OneZero(static_cast<int32_t>(Round(f * 1 + (1 - f) * 0))), ZeroOne(static_cast<int32_t>(Round(f * 0 + (1 - f) * 1))) {}
    int32_t operator()(int32_t a, int32_t b) const { return a == b ? a : (a ? OneZero : ZeroOne); }
};

struct LineShift {
    int64_t J;
    long double F;
};

LineShift ShiftOf(long double factor, int32_t t) {
    long double s = factor * t;
    return LineShift{AbsI(Trunc(s)), std::fabs(Frac(s))};
}

template <class Access, class Blend>
void ShearInterpolated(TDIB& d, int32_t fill, double rowAngle, double colAngle) {
    const int32_t w = d.Width(), h = d.Height();
    if (w <= 0 || h <= 0) return;
    const long double rowFactor = RowFactorOf(rowAngle, h), colFactor = ColFactorOf(colAngle, w);

    auto rowPass = [&](bool right) {
        for (int32_t t = 0; t < h; ++t) {
            LineShift sh = ShiftOf(rowFactor, t);
            if (sh.J == 0) continue;
            uint8_t* row = d.Rows[t];
            Blend blend(sh.F);
            int32_t j = static_cast<int32_t>(std::min<int64_t>(sh.J, w));
            if (right) {
                for (int32_t x = w - 1; x >= j; --x) Access::Set(row, x, blend(Access::Get(row, x - j), Access::Get(row, x - j + 1)));
                for (int32_t x = 0; x < j; ++x) Access::Set(row, x, fill);
            } else {
                for (int32_t x = 0; x < w - j; ++x) Access::Set(row, x, blend(Access::Get(row, x + j), Access::Get(row, x + j - 1)));
                for (int32_t x = w - j; x < w; ++x) Access::Set(row, x, fill);
            }
        }
    };

    // Columns are moved row by row: every column reads only rows on the side not yet
    // written, so visiting the rows in the pass's direction keeps each column's result.
    struct Column {
        int32_t X;
        int32_t J;
        Blend B;
    };
    auto colPass = [&](bool up) {
        std::vector<Column> cols;
        for (int32_t t = 0; t < w; ++t) {
            LineShift sh = ShiftOf(colFactor, t);
            if (sh.J == 0) continue;
            cols.push_back(Column{t, static_cast<int32_t>(std::min<int64_t>(sh.J, h)), Blend(sh.F)});
        }
        if (cols.empty()) return;
        if (up) {
            for (int32_t y = 0; y < h; ++y) {
                uint8_t* row = d.Rows[y];
                for (const Column& c : cols) {
                    if (y < h - c.J)
                        Access::Set(row, c.X, c.B(Access::Get(d.Rows[y + c.J], c.X), Access::Get(d.Rows[y + c.J - 1], c.X)));
                    else
                        Access::Set(row, c.X, fill);
                }
            }
        } else {
            for (int32_t y = h - 1; y >= 0; --y) {
                uint8_t* row = d.Rows[y];
                for (const Column& c : cols) {
                    if (y >= c.J)
                        Access::Set(row, c.X, c.B(Access::Get(d.Rows[y - c.J], c.X), Access::Get(d.Rows[y - c.J + 1], c.X)));
                    else
                        Access::Set(row, c.X, fill);
                }
            }
        }
    };

    if (rowAngle < 0) rowPass(true);
    if (colAngle < 0) colPass(true);
    if (rowAngle > 0) rowPass(false);
    if (colAngle > 0) colPass(false);
}

bool BothBelowTenth(double rowAngle, double colAngle) { return std::fabs(colAngle) < 0.1 && std::fabs(rowAngle) < 0.1; }

}  // namespace

void TDIB::ShearInterpolated1(bool fillWithWhite, double rowAngle, double colAngle) {
    if (BothBelowTenth(rowAngle, colAngle)) return;
    ShearInterpolated<Access1, Blend1>(*this, fillWithWhite ? WhiteIndex() : BlackIndex(), rowAngle, colAngle);
}

void TDIB::ShearInterpolated8(bool fillWithWhite, double rowAngle, double colAngle) {
    if (BothBelowTenth(rowAngle, colAngle)) return;
    ShearInterpolated<Access8, Blend8>(*this, fillWithWhite ? WhiteIndex() : BlackIndex(), rowAngle, colAngle);
}

void TDIB::ShearInterpolated24(bool fillWithWhite, double rowAngle, double colAngle) {
    if (BothBelowTenth(rowAngle, colAngle)) return;
    ShearInterpolated<Access24, Blend24>(*this, fillWithWhite ? WhiteIndex() : BlackIndex(), rowAngle, colAngle);
}

}  // namespace qil
