// Binarization of a 300 dpi A4 gray page (2480 x 3508), each result converted to 1 bit as the
// binarization command does.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "dib/dib.h"

using namespace qil;

namespace {

// A scan-like page: a light background with a slow lighting gradient and noise, lines of dark
// "text" strokes, and a gray photo block.
const TDIB& grayPage() {
    static std::unique_ptr<TDIB> page = [] {
        auto d = std::make_unique<TDIB>();
        d->CreateNew(2480, 3508, fmt8Bit, 300, 300);
        std::mt19937 rng(1);
        for (int y = 0; y < d->Height(); ++y) {
            uint8_t* row = d->Rows[y];
            for (int x = 0; x < d->Width(); ++x) {
                int v = 215 - (x + y) / 200 + int(rng() % 17) - 8;
                const bool textLine = (y % 60) >= 20 && (y % 60) < 44 && x > 200 && x < 2280;
                if (textLine && ((x / 7 + y / 5) % 5 == 0 || (x % 37) < 3)) v = 30 + int(rng() % 40);
                if (y > 2000 && y < 2800 && x > 400 && x < 1600) v = 40 + (x - 400) * 180 / 1200 + int(rng() % 21) - 10;
                row[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
        return d;
    }();
    return *page;
}

template <class Fn>
void runOnCopy(benchmark::State& state, Fn fn) {
    TDIB& page = const_cast<TDIB&>(grayPage());
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page.Duplicate());
        state.ResumeTiming();
        fn(*d);
        benchmark::DoNotOptimize(d->Bits);
    }
}

void BM_Threshold(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) { d.Threshold(127, true, 0, 255); });
}
BENCHMARK(BM_Threshold)->Unit(benchmark::kMillisecond);

void BM_AutoThresholdOtsu(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) { d.AutoThreshold(0, true, 0, 255); });
}
BENCHMARK(BM_AutoThresholdOtsu)->Unit(benchmark::kMillisecond);

void BM_LocalAverageThreshold7x7(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) { d.LocalAverageThreshold(7, 7, 16, true, 0, 255); });
}
BENCHMARK(BM_LocalAverageThreshold7x7)->Unit(benchmark::kMillisecond);

void BM_LocalMinMaxThreshold7x7(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) {
        THistogram h;
        d.GetHistogram(h);
        const auto level = static_cast<uint8_t>(TDIB::StdDevThreshold(h, 0));
        d.LocalMinMaxThreshold(16, 7, 7, level, true, 0, 255);
    });
}
BENCHMARK(BM_LocalMinMaxThreshold7x7)->Unit(benchmark::kMillisecond);

void BM_AdvancedDynamicThreshold(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) {
        TDIB r;
        r.CreateNew(d.Width(), d.Height(), fmt8Bit, d.XResolution(), d.YResolution());
        TDIB::AdvancedDynamicThreshold(9, d, r, -0.2);
        r.ConvertToFormat(fmt1Bit);
        r.Invert();
        benchmark::DoNotOptimize(r.Bits);
    });
}
BENCHMARK(BM_AdvancedDynamicThreshold)->Unit(benchmark::kMillisecond);

void BM_FloydSteinbergDither(benchmark::State& state) {
    runOnCopy(state, [](TDIB& d) { d.FloydSteinbergDither(true, 0, 255); });
}
BENCHMARK(BM_FloydSteinbergDither)->Unit(benchmark::kMillisecond);

// The window filters alone, for comparison with erode / dilate of other libraries.
void BM_LocalMinImage7x7(benchmark::State& state) {
    TDIB& page = const_cast<TDIB&>(grayPage());
    TDIB t;
    t.CreateNew(page.Width(), page.Height(), fmt8Bit, 1, 1);
    for (auto _ : state) {
        page.LocalMinImage(t, 7, 7);
        benchmark::DoNotOptimize(t.Bits);
    }
}
BENCHMARK(BM_LocalMinImage7x7)->Unit(benchmark::kMillisecond);

void BM_LocalMeanImage7x7(benchmark::State& state) {
    TDIB& page = const_cast<TDIB&>(grayPage());
    TDIB t;
    t.CreateNew(page.Width(), page.Height(), fmt8Bit, 1, 1);
    for (auto _ : state) {
        page.LocalMeanImage(t, 7, 7);
        benchmark::DoNotOptimize(t.Bits);
    }
}
BENCHMARK(BM_LocalMeanImage7x7)->Unit(benchmark::kMillisecond);

}  // namespace
