// Component tracing, speck removal and the small page filters on drawn 300 dpi pages:
// a dense bilevel text page (2528 x 3300: about 70 lines of 110 glyphs, dots and commas, and
// scattered specks), the newspaper-like page of the block detection tests, and a 24-bit A4
// page (gray text with a red stamp and blue form lines) for colored-ink dropout.
#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/cleanup/newspaper_page.h"
#include "cleanup/blobs.h"
#include "dib/dib.h"

using namespace qil;

namespace {

struct Lcg {
    uint32_t s;
    uint32_t Next() { return (s = s * 1664525u + 1013904223u) >> 8; }
    int32_t Between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Next() % uint32_t(hi - lo + 1)); }
};

void DrawDenseTextPage(TDIB& page) {
    page.CreateNew(2528, 3300, fmt1Bit, 300, 300);
    page.FillWhite();
    const int32_t black = page.BlackIndex();
    auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) { page.PaintRect(TRect{x0, y0, x1, y1}, black); };
    Lcg rng{12345};
    for (int32_t base = 180; base + 40 < 3150; base += 42) {
        int32_t x = 150;
        while (x < 2528 - 180) {
            const int32_t w = rng.Between(12, 20), kind = rng.Between(0, 9);
            const int32_t top = base - (kind < 3 ? 30 : 20);
            switch (kind) {
                case 0: case 3:  // stem and bowl
                    fill(x, top, x + 2, base);
                    fill(x, base - 12, x + w, base - 10);
                    fill(x + w - 2, base - 12, x + w, base);
                    fill(x, base - 2, x + w, base);
                    break;
                case 1: case 4:  // two stems and a bar
                    fill(x, top, x + 2, base);
                    fill(x + w - 2, top, x + w, base);
                    fill(x, top, x + w, top + 2);
                    break;
                case 2:  // "i": stem and a separate dot
                    fill(x + 4, base - 20, x + 6, base);
                    fill(x + 4, base - 28, x + 6, base - 25);
                    break;
                case 5:  // ring
                    fill(x, top, x + w, top + 2);
                    fill(x, base - 2, x + w, base);
                    fill(x, top, x + 2, base);
                    fill(x + w - 2, top, x + w, base);
                    break;
                case 6:  // comma or full stop
                    fill(x + 3, base - 3, x + 5, base + rng.Between(0, 4));
                    break;
                default:  // diagonal stroke
                    for (int32_t k = 0; k <= 20; ++k) fill(x + k * w / 20, base - k, x + k * w / 20 + 2, base - k);
                    break;
            }
            x += w + rng.Between(4, 8);
            if (rng.Between(0, 6) == 0) x += 14;  // word gap
        }
    }
    for (int32_t i = 0; i < 8000; ++i) {  // specks: dust and thresholding noise
        const int32_t x = rng.Between(0, 2520), y = rng.Between(0, 3292), s = rng.Between(0, 2);
        fill(x, y, x + s, y + rng.Between(0, 2));
    }
}

TDIB& DensePage() {
    static TDIB page;
    if (page.Width() == 0) DrawDenseTextPage(page);
    return page;
}

TDIB& NewspaperPage() {
    static TDIB page;
    if (page.Width() == 0) testpage::DrawNewspaperPage(page, 2528, 3300, 300);
    return page;
}

TDIB& PageFor(int64_t which) { return which == 0 ? DensePage() : NewspaperPage(); }
const char* PageName(int64_t which) { return which == 0 ? "dense_text" : "newspaper"; }

TDIB& ColorPage() {
    static TDIB page;
    if (page.Width() == 0) {
        page.CreateNew(2480, 3508, fmt24Bit, 300, 300);
        TDIB& text = NewspaperPage();
        const int32_t black = text.BlackIndex();
        for (int32_t y = 0; y < 3508; ++y)
            for (int32_t x = 0; x < 2480; ++x) {
                uint32_t c = 0x00F4F0EA;  // paper
                if (x < text.Width() && y < text.Height() && text.GetPixel(x, y) == black) c = 0x00303030;
                if ((y % 60) < 2) c = 0x004060E0;                                        // blue form lines
                const int32_t dx = x - 1800, dy = y - 600;
                if (dx * dx + dy * dy < 250 * 250 && dx * dx + dy * dy > 200 * 200) c = 0x00D02828;  // red stamp
                page.SetPixelColor(x, y, c);
            }
    }
    return page;
}

void BM_FindBlobs8(benchmark::State& state) {
    TDIB& page = PageFor(state.range(0));
    int32_t n = 0;
    for (auto _ : state) {
        TBlobList list;
        page.FindBlobs8(0, 0, 0, &list);
        n = list.Count();
    }
    state.SetLabel(PageName(state.range(0)));
    state.counters["components"] = n;
}
BENCHMARK(BM_FindBlobs8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FindBlobs4(benchmark::State& state) {
    TDIB& page = PageFor(state.range(0));
    int32_t n = 0;
    for (auto _ : state) {
        TBlobList list;
        page.FindBlobs4(0, 0, 0, &list);
        n = list.Count();
    }
    state.SetLabel(PageName(state.range(0)));
    state.counters["components"] = n;
}
BENCHMARK(BM_FindBlobs4)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Each iteration works on a fresh copy; the copy is made outside the timed part.
template <class Op>
void OnCopies(benchmark::State& state, TDIB& source, Op op) {
    int64_t result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TDIB> copy(source.Duplicate());
        state.ResumeTiming();
        result = op(*copy);
    }
    state.counters["result"] = static_cast<double>(result);
}

void BM_Despeckle3x3(benchmark::State& state) {
    state.SetLabel(PageName(state.range(0)));
    OnCopies(state, PageFor(state.range(0)), [](TDIB& d) { return d.Despeckle(3, 3); });
}
BENCHMARK(BM_Despeckle3x3)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SmartDespeckle3x3(benchmark::State& state) {
    state.SetLabel(PageName(state.range(0)));
    OnCopies(state, PageFor(state.range(0)), [](TDIB& d) { return d.SmartDespeckle(3, 3, false); });
}
BENCHMARK(BM_SmartDespeckle3x3)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SmartDespeckle3x3PruneRuns(benchmark::State& state) {
    state.SetLabel(PageName(state.range(0)));
    OnCopies(state, PageFor(state.range(0)), [](TDIB& d) { return d.SmartDespeckle(3, 3, true); });
}
BENCHMARK(BM_SmartDespeckle3x3PruneRuns)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Repair(benchmark::State& state) {
    state.SetLabel(PageName(state.range(0)));
    OnCopies(state, PageFor(state.range(0)), [](TDIB& d) { return d.Repair(2); });
}
BENCHMARK(BM_Repair)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RemoveDither(benchmark::State& state) {
    state.SetLabel(PageName(state.range(0)));
    OnCopies(state, PageFor(state.range(0)), [](TDIB& d) {
        d.RemoveDither();
        return 0;
    });
}
BENCHMARK(BM_RemoveDither)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DropColoredInk(benchmark::State& state) {
    OnCopies(state, ColorPage(), [](TDIB& d) {
        d.DropColoredInk(true, false, false, 255);
        return 0;
    });
}
BENCHMARK(BM_DropColoredInk)->Unit(benchmark::kMillisecond);

}  // namespace
