// Rectangles in pixel coordinates, row 0 at the top.
#pragma once

#include <cstdint>

namespace qil {

// Left/Top/Right/Bottom as stored. The cleanup algorithms treat Right and Bottom as the last
// column and row covered (inclusive); the platform helpers below follow the usual
// exclusive-right convention of the windowing system, as their callers expect.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) { return TRect{left, top, right, bottom}; }

// True when the rectangle has no area (Right <= Left or Bottom <= Top).
inline bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// Intersection with exclusive right and bottom edges; an empty result is all zero and the
// answer is false.
inline bool IntersectRect(TRect& dst, const TRect& a, const TRect& b) {
    TRect r{a.Left > b.Left ? a.Left : b.Left, a.Top > b.Top ? a.Top : b.Top,
            a.Right < b.Right ? a.Right : b.Right, a.Bottom < b.Bottom ? a.Bottom : b.Bottom};
    if (IsRectEmpty(r)) {
        dst = TRect{};
        return false;
    }
    dst = r;
    return true;
}

inline void InflateRect(TRect& r, int32_t dx, int32_t dy) {
    r.Left -= dx;
    r.Top -= dy;
    r.Right += dx;
    r.Bottom += dy;
}

inline void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
    r.Left += dx;
    r.Top += dy;
    r.Right += dx;
    r.Bottom += dy;
}

}  // namespace qil
