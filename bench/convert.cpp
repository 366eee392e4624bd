// Pixel-format conversions and histograms on a 300 dpi A4 page.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "dib/dib.h"

using namespace qil;

namespace {

std::unique_ptr<TDIB> colorPage() {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(2480, 3508, fmt24Bit, 300, 300);
    std::mt19937 rng(1);
    for (int y = 0; y < d->Height(); ++y)
        for (int i = 0; i < d->RowBytes; ++i) d->Rows[y][i] = static_cast<uint8_t>(rng());
    return d;
}

void BM_RGBToGray(benchmark::State& state) {
    auto page = colorPage();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page->Duplicate());
        state.ResumeTiming();
        d->RGBToGray(true, true, true, true);
        benchmark::DoNotOptimize(d->Bits);
    }
}
BENCHMARK(BM_RGBToGray)->Unit(benchmark::kMillisecond);

void BM_Convert8To1(benchmark::State& state) {
    auto page = colorPage();
    page->RGBToGray(true, true, true, true);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page->Duplicate());
        state.ResumeTiming();
        d->ConvertToFormat(fmt1Bit);
        benchmark::DoNotOptimize(d->Bits);
    }
}
BENCHMARK(BM_Convert8To1)->Unit(benchmark::kMillisecond);

void BM_Histogram24(benchmark::State& state) {
    auto page = colorPage();
    THistogram h;
    for (auto _ : state) {
        page->GetHistogram(h);
        benchmark::DoNotOptimize(h);
    }
}
BENCHMARK(BM_Histogram24)->Unit(benchmark::kMillisecond);

}  // namespace
