// PNG saving and loading of a 300 dpi A4 page in each pixel format.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "dib/dib.h"
#include "platform/streams.h"

using namespace qil;

namespace {

// A drawn page: "text lines" of short dark bars on white, a photo-like gradient block with
// some noise in the lower third (for 8 and 24 bits).
std::unique_ptr<TDIB> page(uint8_t format) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(2480, 3508, format, 300, 300);
    std::mt19937 rng(7);
    const int32_t white = format == fmt24Bit ? 0xFFFFFF : format == fmt8Bit ? 255 : format == fmt4Bit ? 15 : 1;
    for (int32_t y = 0; y < d->Height(); ++y)
        for (int32_t x = 0; x < d->Width(); ++x) {
            int32_t v = white;
            bool inText = y < 2300 && (y % 60) < 30 && x > 200 && x < 2280 && ((x / 23 + y / 60) % 5 != 0) && (x % 23) < 17;
            if (inText && (rng() % 7) != 0) v = 0;
            if (y >= 2400 && y < 3300 && x > 300 && x < 2180) {
                uint32_t g = static_cast<uint32_t>((x - 300) * 255 / 1880) ^ (rng() & 7);
                switch (format) {
                    case fmt24Bit: v = static_cast<int32_t>(g | ((255 - g) << 8) | (((y / 4) & 255) << 16)); break;
                    case fmt8Bit: v = static_cast<int32_t>(g & 255); break;
                    case fmt4Bit: v = static_cast<int32_t>((g >> 4) & 15); break;
                    default: v = (g & 255) > 127 ? 1 : 0; break;
                }
            }
            d->SetPixel(x, y, v);
        }
    return d;
}

void BM_PngSave(benchmark::State& state) {
    auto d = page(static_cast<uint8_t>(state.range(0)));
    int64_t size = 0;
    for (auto _ : state) {
        TMemoryStream m;
        d->SaveToPngStream(m);
        size = m.Size();
        benchmark::DoNotOptimize(m.Memory());
    }
    state.counters["file_bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(int64_t(state.iterations()) * d->DIBSize);
}
BENCHMARK(BM_PngSave)->Arg(fmt1Bit)->Arg(fmt4Bit)->Arg(fmt8Bit)->Arg(fmt24Bit)->Unit(benchmark::kMillisecond);

void BM_PngLoad(benchmark::State& state) {
    auto d = page(static_cast<uint8_t>(state.range(0)));
    TMemoryStream m;
    d->SaveToPngStream(m);
    for (auto _ : state) {
        TBufferStream s(m.Memory(), m.Size());
        TDIB loaded;
        loaded.LoadFromPngStream(s);
        benchmark::DoNotOptimize(loaded.Bits);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * d->DIBSize);
}
BENCHMARK(BM_PngLoad)->Arg(fmt1Bit)->Arg(fmt4Bit)->Arg(fmt8Bit)->Arg(fmt24Bit)->Unit(benchmark::kMillisecond);

}  // namespace
