// Finding ruling lines: long black runs along the rows (or columns) of a 1-bit page and their
// grouping into line rectangles. Shared by the line removal methods and the public finders.
#pragma once

#include <cstdint>
#include <vector>

#include "dib/dib.h"

namespace qil::detail {

// A run or a line in the coordinates of its own direction: `Lo` ... `Hi` are the rows (for
// vertical lines: the columns) it covers, `Start` ... `End` the pixels along them.
struct LineSeg {
    int32_t Lo, Hi, Start, End;
    friend bool operator==(const LineSeg&, const LineSeg&) = default;
};

inline TRect ToRect(const LineSeg& s, bool horizontal) {
    return horizontal ? TRect{s.Start, s.Lo, s.End, s.Hi} : TRect{s.Lo, s.Start, s.Hi, s.End};
}

inline LineSeg FromRect(const TRect& r, bool horizontal) {
    return horizontal ? LineSeg{r.Top, r.Bottom, r.Left, r.Right} : LineSeg{r.Left, r.Right, r.Top, r.Bottom};
}

// Every run of at least minLength pixels along the rows (horizontal) or the columns, in row
// (column) order and along each in pixel order, with Lo = Hi = the row (column). A run starts
// at a black pixel X and bridges white pixels, one hole each, until the holes exceed both
// maxHoles and (K - X + 1) div 64, K just after the latest hole, or the line ends; it ends at
// the last black pixel at or before that point, and the scan resumes two pixels after it.
// Raises "This operation requires 1 bit per pixel bitmap !" for other formats.
std::vector<LineSeg> FindLineRuns(TDIB& dib, bool horizontal, int32_t minLength, int32_t maxHoles);

// Each run grows the first line of `lines` (by index; records already there come first) that it
// touches when the line is grown by one row (column) on either side, or starts a new line.
void GroupLineRuns(const std::vector<LineSeg>& runs, std::vector<LineSeg>& lines);

// (End - Start + 1) / (Hi - Lo + 1) in extended precision is at least minRatio.
bool LineLongEnough(const LineSeg& l, double minRatio);

// FindLineRuns, GroupLineRuns into an empty list, and the lines that are long enough.
std::vector<LineSeg> FindLineSegs(TDIB& dib, bool horizontal, int32_t minLength, int32_t maxHoles, double minRatio);

}  // namespace qil::detail
