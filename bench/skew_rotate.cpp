// Skew estimation, shear rotation and scale-to-gray on a 300 dpi page of 2528 x 3300 pixels
// holding word-like blocks on text lines that fall 1 degree toward the right.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "dib/dib.h"

using namespace qil;

namespace {

std::unique_ptr<TDIB> BilevelPage() {
    auto d = std::make_unique<TDIB>();
    const int32_t w = 2528, h = 3300;
    d->CreateNew(w, h, fmt1Bit, 300, 300);
    d->FillWhite();
    std::mt19937 rng(7);
    for (int32_t top = 200; top < h - 300; top += 50) {
        int32_t x = 200;
        while (x < w - 300) {
            int32_t len = 40 + static_cast<int32_t>(rng() % 160);
            for (int32_t xx = x; xx < x + len; ++xx) {
                int32_t y0 = top + xx * 44 / w;  // Round(sin(1 degree) * 2528) = 44
                for (int32_t k = 0; k < 28; ++k)
                    if (rng() % 3) d->SetPixel(xx, y0 + k, 0);
            }
            x += len + 25;
        }
    }
    return d;
}

std::unique_ptr<TDIB> GrayPage() {
    auto d = BilevelPage();
    d->ConvertToFormat(fmt8Bit);
    return d;
}

void BM_EstimateSkew1(benchmark::State& state) {
    auto page = BilevelPage();
    for (auto _ : state) benchmark::DoNotOptimize(page->EstimateSkew(15, 5, 0.1));
}
BENCHMARK(BM_EstimateSkew1)->Unit(benchmark::kMillisecond);

void BM_EstimateSkew8(benchmark::State& state) {
    auto page = GrayPage();
    for (auto _ : state) benchmark::DoNotOptimize(page->EstimateSkew(15, 5, 0.1));
}
BENCHMARK(BM_EstimateSkew8)->Unit(benchmark::kMillisecond);

void RotateBench(benchmark::State& state, bool gray, bool interpolate) {
    auto page = gray ? GrayPage() : BilevelPage();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page->Duplicate());
        state.ResumeTiming();
        d->Rotate(true, interpolate, 1.0, 1.0);
        benchmark::DoNotOptimize(d->Bits);
    }
}
void BM_Rotate1(benchmark::State& s) { RotateBench(s, false, false); }
void BM_Rotate1Interpolated(benchmark::State& s) { RotateBench(s, false, true); }
void BM_Rotate8(benchmark::State& s) { RotateBench(s, true, false); }
void BM_Rotate8Interpolated(benchmark::State& s) { RotateBench(s, true, true); }
BENCHMARK(BM_Rotate1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate1Interpolated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate8Interpolated)->Unit(benchmark::kMillisecond);

void BM_ScaleToGray16_25(benchmark::State& state) {
    auto page = BilevelPage();
    for (auto _ : state) {
        std::unique_ptr<TDIB> g(page->ScaleToGray(16, 25));
        benchmark::DoNotOptimize(g->Bits);
    }
}
BENCHMARK(BM_ScaleToGray16_25)->Unit(benchmark::kMillisecond);

}  // namespace
