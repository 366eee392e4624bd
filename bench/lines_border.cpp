// Line removal and black border removal on 300 dpi A4 pages (2528 x 3300 pixels).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "dib/dib.h"

using namespace qil;

namespace {

constexpr int32_t kW = 2528, kH = 3300;

void Box(TDIB& d, int32_t l, int32_t t, int32_t r, int32_t b, int32_t v) {
    for (int32_t y = t; y <= b; ++y)
        for (int32_t x = l; x <= r; ++x) d.SetPixel(x, y, v);
}

// Text-like blocks: glyph cells of 22 x 30 pixels with a few strokes each, 40-pixel line pitch.
void Text(TDIB& d, int32_t l, int32_t t, int32_t r, int32_t b, std::mt19937& rng) {
    const int32_t black = d.BlackIndex();
    std::uniform_int_distribution<int> pick(0, 9);
    for (int32_t y = t; y + 30 <= b; y += 40)
        for (int32_t x = l; x + 22 <= r; x += 26) {
            if (pick(rng) == 0) continue;  // a space
            const int strokes = 2 + pick(rng) % 3;
            for (int s = 0; s < strokes; ++s) {
                if (pick(rng) < 5) {
                    const int32_t sx = x + pick(rng) * 2;
                    Box(d, sx, y + pick(rng), sx + 2, y + 20 + pick(rng), black);
                } else {
                    const int32_t sy = y + pick(rng) * 3;
                    Box(d, x + pick(rng), sy, x + 12 + pick(rng), sy + 2, black);
                }
            }
        }
}

std::unique_ptr<TDIB> WhitePage() {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(kW, kH, fmt1Bit, 300, 300);
    d->Fill(0xFF);  // (black, white) table: bit 1 is white
    return d;
}

std::unique_ptr<TDIB> RuledForm() {
    auto d = WhitePage();
    std::mt19937 rng(3);
    const int32_t black = d->BlackIndex();
    const int32_t left = 150, right = kW - 150, top = 300, bottom = kH - 300;
    for (int32_t y = top; y <= bottom; y += 120) Box(*d, left, y, right, y + 2, black);
    for (int32_t x = left; x <= right; x += 444) Box(*d, x, top, x + 2, bottom, black);
    for (int32_t y = top; y + 120 <= bottom; y += 120)
        for (int32_t x = left; x + 444 <= right; x += 444) Text(*d, x + 15, y + 20, x + 430, y + 110, rng);
    Text(*d, left, 60, right, top - 40, rng);
    return d;
}

std::unique_ptr<TDIB> TextPage() {
    auto d = WhitePage();
    std::mt19937 rng(5);
    Text(*d, 150, 150, kW - 150, kH - 150, rng);
    return d;
}

void RunRemoveLines(benchmark::State& state, std::unique_ptr<TDIB> page) {
    int32_t lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page->Duplicate());
        state.ResumeTiming();
        lines = d->RemoveLines(100, 2, 10, 100, 2, 10, true, false);
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = lines;
}

void BM_RemoveLines_RuledForm(benchmark::State& state) { RunRemoveLines(state, RuledForm()); }
BENCHMARK(BM_RemoveLines_RuledForm)->Unit(benchmark::kMillisecond);

void BM_RemoveLines_TextPage(benchmark::State& state) { RunRemoveLines(state, TextPage()); }
BENCHMARK(BM_RemoveLines_TextPage)->Unit(benchmark::kMillisecond);

// A page with a dark border 80 pixels wide on every side (120 on the left) and text inside.
std::unique_ptr<TDIB> BorderedPage(uint8_t format) {
    auto text = TextPage();
    auto d = std::make_unique<TDIB>();
    d->CreateNew(kW, kH, format, 300, 300);
    const int32_t white = d->WhiteIndex();
    const int32_t dark = format == fmt24Bit ? 0x101010 : (format == fmt8Bit ? 16 : d->BlackIndex());
    const int32_t black = format == fmt1Bit ? d->BlackIndex() : 0;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const bool border = x < 120 || x >= kW - 80 || y < 80 || y >= kH - 80;
            d->SetPixel(x, y, border ? dark : (text->GetPixel(x, y) == text->BlackIndex() ? black : white));
        }
    return d;
}

void BM_FindBlackBorder(benchmark::State& state) {
    auto d = BorderedPage(static_cast<uint8_t>(state.range(0)));
    TRect r;
    for (auto _ : state) {
        d->FindBlackBorder(0, r, 1);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_FindBlackBorder)->Arg(fmt1Bit)->Arg(fmt8Bit)->Arg(fmt24Bit)->Unit(benchmark::kMillisecond);

void BM_ClearOutsideRect(benchmark::State& state) {
    auto page = BorderedPage(static_cast<uint8_t>(state.range(0)));
    TRect r;
    page->FindBlackBorder(0, r, 1);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> d(page->Duplicate());
        state.ResumeTiming();
        d->ClearOutsideRect(r);
        benchmark::DoNotOptimize(d->Bits);
    }
}
BENCHMARK(BM_ClearOutsideRect)->Arg(fmt1Bit)->Arg(fmt8Bit)->Arg(fmt24Bit)->Unit(benchmark::kMillisecond);

}  // namespace
