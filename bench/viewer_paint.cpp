// Repaints of the zooming viewer: a 1000 x 800 viewport showing a 300 dpi A4 page at 25 %,
// 100 % and 400 %, bilevel (through the gray cache below the antialiasing threshold) and in
// 24 bits. Each iteration repaints the visible part of the display panel into the backing
// store, as an uncovered window does. Built only with the GUI (offscreen platform).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>
#include <memory>

#include "dib/dib.h"
#include "viewer/qt/zoom_image.h"

using namespace qil;

namespace {

// Text-like bars over the page and a gradient block (24 bits) in its lower third.
HGLOBAL Page(uint8_t format) {
    TDIB d;
    d.CreateNew(2480, 3508, format, 300, 300);
    d.FillWhite();
    for (int32_t y = 0; y < d.Height(); ++y)
        for (int32_t x = 0; x < d.Width(); ++x) {
            if (y < 2300 && (y % 60) < 30 && x > 200 && x < 2280 && (x % 23) < 17 && ((x / 23 + y / 60) % 5 != 0))
                d.SetPixelColor(x, y, 0);
            else if (format == fmt24Bit && y >= 2400 && y < 3300 && x > 300 && x < 2180)
                d.SetPixelColor(x, y, static_cast<uint32_t>((x * 255 / 2480) | ((y & 255) << 8) | (128u << 16)));
        }
    d.OwnsHandle = false;
    return d.GetHandle();
}

// Drop: every iteration drops the gray cache first (Repaint), so the bilevel page is reduced
// again, as after a zoom change.
void Paint(benchmark::State& state, bool drop) {
    const auto format = static_cast<uint8_t>(state.range(0));
    const double zoom = static_cast<double>(state.range(1));
    TZoomImage view;
    view.setFrameShape(QFrame::NoFrame);
    // A 1000 x 800 viewport beside both scroll bars.
    const int bar = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    view.resize(1000 + bar, 800 + bar);
    view.show();
    for (int i = 0; i < 10 && !view.windowHandle()->isExposed(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 50);
    view.SetImageHandle(Page(format));
    view.SetZoom(zoom);
    // The middle of the page.
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    int64_t paints = 0;
    view.OnPaint = [&](QObject*) { ++paints; };
    TDisplayPanel* panel = view.DisplayPanel();
    const QRect visible = panel->visibleRegion().boundingRect();
    for (auto _ : state) {
        if (drop) panel->GrayCache.reset();
        panel->repaint(visible);
    }
    if (paints < static_cast<int64_t>(state.iterations())) state.SkipWithError("the panel was not painted");
    state.counters["visible_w"] = visible.width();
    state.counters["visible_h"] = visible.height();
}

void Repaint(benchmark::State& state) { Paint(state, false); }
void RepaintAfterZoomChange(benchmark::State& state) { Paint(state, true); }

}  // namespace

BENCHMARK(RepaintAfterZoomChange)->ArgNames({"bits", "zoom"})->Args({fmt1Bit, 25})->Unit(benchmark::kMillisecond);
BENCHMARK(Repaint)
    ->ArgNames({"bits", "zoom"})
    ->Args({fmt1Bit, 25})
    ->Args({fmt1Bit, 100})
    ->Args({fmt1Bit, 400})
    ->Args({fmt24Bit, 25})
    ->Args({fmt24Bit, 100})
    ->Args({fmt24Bit, 400})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
