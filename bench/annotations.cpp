// Reading annotation records: parsing a page with many marks, and finding the last page of a
// long directory chain.
#include <benchmark/benchmark.h>

#include "annotations/annotations.h"
#include "annotations/tiff_decoder.h"
#include "../tests/annotations/annotation_writer.h"

using namespace qil;
using namespace qil::testing;

namespace {

AnnoData manyMarks(int marks) {
    AnnoData d;
    d.Default("OiGroup", CStr("Reviewers"));
    for (int i = 0; i < marks; ++i) {
        switch (i % 3) {
            case 0: d.Mark(4).ForMark("OiAnoDat", PointData({{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}})); break;
            case 1: d.Mark(10).ForMark("OiAnText", TextData(750, "A note of some length for the page")); break;
            default: d.Mark(5).ForMark("OiIndex", CStr("42")); break;
        }
    }
    return d;
}

void BM_ParseMarks(benchmark::State& state) {
    AnnoData d = manyMarks(static_cast<int>(state.range(0)));
    TAnnotations a;
    for (auto _ : state) {
        a.LoadFromBuffer(d.bytes.data(), static_cast<int32_t>(d.bytes.size()));
        benchmark::DoNotOptimize(a.Count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(d.bytes.size()));
}
BENCHMARK(BM_ParseMarks)->Arg(100)->Arg(10000);

void BM_LastPageOfLongChain(benchmark::State& state) {
    std::vector<std::vector<TiffTag>> pages(static_cast<size_t>(state.range(0)), {ShortTag(256, 1), ShortTag(257, 1)});
    pages.back().push_back(AnnotationTag(manyMarks(3).bytes));
    TiffFile f = BuildTiff(false, pages);
    TAnnotations a;
    for (auto _ : state) {
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        a.LoadFromStream(s, static_cast<int32_t>(state.range(0)) - 1);
        benchmark::DoNotOptimize(a.Count());
    }
}
BENCHMARK(BM_LastPageOfLongChain)->Arg(10)->Arg(1000);

}  // namespace
