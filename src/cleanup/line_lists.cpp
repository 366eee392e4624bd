// The public line finders, which report runs and lines in blob lists.
#include "cleanup/blobs.h"
#include "cleanup/line_runs.h"
#include "dib/dib.h"

namespace qil {

namespace {

// Grouping and ratio filter on a list that may already hold records: those records take part in
// the grouping (first, in their order), grow in place and are deleted when too short like the
// new ones; their other fields stay.
int32_t FindLinesInto(TDIB& dib, bool horizontal, int32_t minLength, int32_t maxHoles, double minRatio,
                      TBlobList& list) {
    std::vector<detail::LineSeg> runs = detail::FindLineRuns(dib, horizontal, minLength, maxHoles);
    std::vector<detail::LineSeg> lines;
    const int32_t earlier = list.Count();
    for (int32_t i = 0; i < earlier; ++i) {
        const TBlob& b = list.Items(i);
        lines.push_back(detail::FromRect(TRect{b.Left, b.Top, b.Right, b.Bottom}, horizontal));
    }
    detail::GroupLineRuns(runs, lines);
    for (int32_t i = 0; i < earlier; ++i) {
        TBlob& b = list.Items(i);
        const TRect r = detail::ToRect(lines[static_cast<size_t>(i)], horizontal);
        b.Left = r.Left;
        b.Top = r.Top;
        b.Right = r.Right;
        b.Bottom = r.Bottom;
    }
    for (size_t i = static_cast<size_t>(earlier); i < lines.size(); ++i)
        list.AddBlob(detail::ToRect(lines[i], horizontal), 0, 0, 0);
    for (int32_t j = list.Count() - 1; j >= 0; --j)
        if (!detail::LineLongEnough(lines[static_cast<size_t>(j)], minRatio)) list.Delete(j);
    return list.Count();
}

}  // namespace

int32_t TDIB::FindHorizontalRuns(int32_t MinLength, int32_t MaxHoles, TBlobList& Runs) {
    for (const detail::LineSeg& s : detail::FindLineRuns(*this, true, MinLength, MaxHoles))
        Runs.AddRect(s.Start, s.Lo, s.End, s.Lo);
    return Runs.Count();
}

int32_t TDIB::FindVerticalRuns(int32_t MinLength, int32_t MaxHoles, TBlobList& Runs) {
    for (const detail::LineSeg& s : detail::FindLineRuns(*this, false, MinLength, MaxHoles))
        Runs.AddRect(s.Lo, s.Start, s.Lo, s.End);
    return Runs.Count();
}

int32_t TDIB::FindHorizontalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, TBlobList& Lines) {
    return FindLinesInto(*this, true, MinLength, MaxHoles, MinRatio, Lines);
}

int32_t TDIB::FindVerticalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, TBlobList& Lines) {
    return FindLinesInto(*this, false, MinLength, MaxHoles, MinRatio, Lines);
}

}  // namespace qil
