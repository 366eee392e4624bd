// Text and image block detection on a drawn 300 dpi A4 newspaper-like page (three text
// columns, a headline and two halftone pictures), and the profile routines it leans on.
#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/cleanup/newspaper_page.h"
#include "cleanup/blobs.h"
#include "dib/dib.h"

using namespace qil;

namespace {

TDIB& Page() {
    static TDIB page;
    if (page.Width() == 0) testpage::DrawNewspaperPage(page, 2480, 3508, 300);
    return page;
}

void BM_FindImagesAndText(benchmark::State& state) {
    TDIB& page = Page();
    int32_t text = 0, images = 0;
    for (auto _ : state) {
        TBlobList textBlocks, imageBlocks;
        page.FindImagesAndText(textBlocks, imageBlocks);
        text = textBlocks.Count();
        images = imageBlocks.Count();
    }
    state.counters["text"] = text;
    state.counters["images"] = images;
}
BENCHMARK(BM_FindImagesAndText)->Unit(benchmark::kMillisecond);

void BM_HalfSize(benchmark::State& state) {
    TDIB& page = Page();
    for (auto _ : state) {
        std::unique_ptr<TDIB> half(page.HalfSize());
        benchmark::DoNotOptimize(half->Bits);
    }
}
BENCHMARK(BM_HalfSize)->Unit(benchmark::kMillisecond);

void BM_ColumnProfilePage(benchmark::State& state) {
    TDIB& page = Page();
    for (auto _ : state) {
        std::vector<int32_t> p = page.ColumnProfile(TRect{0, 0, page.Width() - 1, page.Height() - 1});
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(BM_ColumnProfilePage)->Unit(benchmark::kMillisecond);

void BM_RowProfilePage(benchmark::State& state) {
    TDIB& page = Page();
    for (auto _ : state) {
        std::vector<int32_t> p = page.RowProfile(TRect{0, 0, page.Width() - 1, page.Height() - 1});
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(BM_RowProfilePage)->Unit(benchmark::kMillisecond);

}  // namespace
