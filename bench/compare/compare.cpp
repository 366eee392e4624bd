// Side-by-side timing of the library's operations and their closest equivalents in OpenCV and
// Leptonica, on pages drawn by the program itself. Every contender of every operation runs in
// the same process, interleaved (one run of each per round, the order rotating from round to
// round), for several rounds after one warm-up round; the table gives the median and the
// interquartile range of each, in milliseconds, and the ratio of our median to the faster peer's.
//
// Times are the CPU time of the calling thread by default (OpenCV is held to one thread, the
// others are single-threaded), which a shared, busy machine disturbs much less than wall
// time; --wall measures wall time instead.
//
//   qil_compare [--rounds N] [--filter TEXT] [--wall] [--markdown]
//   qil_compare --write-scan-pages DIR N   (the bilevel pages of the throughput run, G4 TIFF)
//   qil_compare --write-gray-page FILE     (the gray scan, uncompressed TIFF)
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "cleanup/blobs.h"
#include "dib/dib.h"
#include "dib/image_file.h"
#include "pages.h"
#include "peers.h"
#include "platform/streams.h"

using namespace qil;
using namespace qil::compare;

namespace {

clockid_t gClock = CLOCK_THREAD_CPUTIME_ID;
volatile uint64_t gSink;  // keeps reads that only warm the caches

double NowMs() {
    timespec ts{};
    clock_gettime(gClock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

// One contender's run: untimed preparation, then Start(), the work, and the time since Start()
// as the result. Check may receive a short text describing the result (counts, sizes) the
// first time, so that the table shows both sides did the same work.
class Clock {
public:
    void Start() { t0_ = NowMs(); }
    double Stop() const { return NowMs() - t0_; }

private:
    double t0_ = 0;
};
using Run = std::function<double(std::string& check)>;

struct Contender {
    Contender(std::string w, Run r) : who(std::move(w)), run(std::move(r)) {}
    std::string who;
    Run run;
    std::vector<double> ms;
    std::string check;
};

struct Pair {
    std::string op, page;
    std::vector<Contender> contenders;  // ours first
    std::string note;
};

double Quantile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const double pos = q * static_cast<double>(v.size() - 1);
    const size_t i = static_cast<size_t>(pos);
    const double f = pos - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

// A fresh copy of the page for an in-place operation, read once so that it is in the caches
// as the peers' inputs are (a large memcpy may bypass them), without being timed.
std::unique_ptr<TDIB> Copy(TDIB& page) {
    std::unique_ptr<TDIB> d(page.Duplicate());
    uint64_t sum = 0;
    for (int32_t i = 0; i < d->DIBSize; i += 64) sum += d->Memory[i];
    gSink = sum;
    return d;
}

std::string Str(int64_t v) { return std::to_string(v); }

// ---- The pages, drawn once, with their peer forms ----

struct Page {
    std::unique_ptr<TDIB> dib;
    PixPtr pix;
    cv::Mat mat;
    std::string name;
};

Page MakePage(std::unique_ptr<TDIB> dib, std::string name) {
    Page p;
    p.pix = ToPix(*dib);
    p.mat = ToMat(*dib);
    p.dib = std::move(dib);
    p.name = std::move(name);
    return p;
}

std::vector<uint8_t> SaveTiff(TDIB& page, TTiffCompression compression) {
    TMemoryStream s;
    page.SaveToTiffStream(s, false, compression, 16);
    return s.Data();
}

std::vector<uint8_t> SaveJpeg(TDIB& page) {
    TMemoryStream s;
    page.SaveToJpegStream(s, false, 80);
    return s.Data();
}

// ---- The pairs ----

std::vector<Pair> MakePairs(Page& text, Page& news, Page& form, Page& gray, Page& color) {
    std::vector<Pair> pairs;
    auto add = [&](std::string op, Page& page, std::vector<Contender> c, std::string note = {}) {
        pairs.push_back(Pair{std::move(op), page.name, std::move(c), std::move(note)});
    };
    // Work runs on a fresh copy of the page and is timed; After (untimed) may describe the result.
    using Work = std::function<void(TDIB&, std::string&)>;
    auto onCopy = [](Page& page, Work work, Work after = {}) -> Run {
        return [&page, work, after](std::string& check) {
            auto d = Copy(*page.dib);
            Clock c;
            c.Start();
            work(*d, check);
            const double ms = c.Stop();
            if (after) after(*d, check);
            return ms;
        };
    };
    auto pixRun = [](Page& page, std::function<PIX*(PIX*)> work, bool countBlack) -> Run {
        return [&page, work, countBlack](std::string& check) {
            Clock c;
            c.Start();
            PixPtr out(work(page.pix.get()));
            const double ms = c.Stop();
            if (countBlack && out && pixGetDepth(out.get()) == 1) check = "black " + Str(BlackPixels(out.get()));
            return ms;
        };
    };
    auto matRun = [](Page& page, std::function<void(const cv::Mat&, cv::Mat&)> work, bool countWhite) -> Run {
        // The result matrix is kept from run to run, as a caller of OpenCV would: its
        // allocation and first touch are not part of the work.
        auto out = std::make_shared<cv::Mat>();
        return [&page, work, countWhite, out](std::string& check) {
            Clock c;
            c.Start();
            work(page.mat, *out);
            const double ms = c.Stop();
            if (countWhite) check = "black " + Str(static_cast<int64_t>(out->total()) - cv::countNonZero(*out));
            return ms;
        };
    };
    Work blackCheck = [](TDIB& d, std::string& check) { check = "black " + Str(BlackPixels(d)); };
    Work blackCheck8 = [](TDIB& d, std::string& check) {  // an 8-bit result of 0 and 255
        check = "black " + Str(d.Width() * int64_t(d.Height()) - cv::countNonZero(ToMat(d)));
    };

    // -- Global thresholds on the gray scan --
    add("fixed threshold 127, 8-bit result", gray,
        {{"ours", onCopy(gray, [](TDIB& d, std::string&) { d.Threshold(127, false, 0, 255); }, blackCheck8)},
         {"OpenCV", matRun(gray, [](const cv::Mat& s, cv::Mat& o) { cv::threshold(s, o, 127, 255, cv::THRESH_BINARY); }, true)}});
    add("fixed threshold 127, 1-bit result", gray,
        {{"ours", onCopy(gray, [](TDIB& d, std::string&) { d.Threshold(127, true, 0, 255); }, blackCheck)},
         // pixThresholdToBinary makes pixels below the level black: 128 matches "> 127 is white".
         {"Leptonica", pixRun(gray, [](PIX* p) { return pixThresholdToBinary(p, 128); }, true)}});
    add("Otsu threshold, 8-bit result", gray,
        {{"ours", onCopy(gray, [&](TDIB& d, std::string& ck) { ck = "level " + Str(d.AutoThreshold(0, false, 0, 255)); })},
         {"OpenCV", [&gray](std::string& ck) {
              cv::Mat out;
              Clock c;
              c.Start();
              const double level = cv::threshold(gray.mat, out, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
              const double ms = c.Stop();
              ck = "level " + Str(static_cast<int64_t>(level));
              return ms;
          }}});
    add("Otsu threshold, 1-bit result", gray,
        {{"ours", onCopy(gray, [](TDIB& d, std::string&) { d.AutoThreshold(0, true, 0, 255); }, blackCheck)},
         {"Leptonica", [&gray](std::string& ck) {
              PIX* out = nullptr;
              Clock c;
              c.Start();
              pixOtsuAdaptiveThreshold(gray.pix.get(), pixGetWidth(gray.pix.get()), pixGetHeight(gray.pix.get()), 0, 0, 0.0f,
                                       nullptr, &out);
              const double ms = c.Stop();
              PixPtr keep(out);
              ck = "black " + Str(BlackPixels(out));
              return ms;
          }}},
        "Leptonica: pixOtsuAdaptiveThreshold with one tile covering the page");

    // -- Local thresholds and windows --
    // The 8-bit result image of the operations that write into a target, kept from run to run
    // as the OpenCV results are (so neither side pays for a fresh page-sized block).
    auto grayTarget = std::make_shared<TDIB>();
    grayTarget->CreateNew(gray.dib->Width(), gray.dib->Height(), fmt8Bit, 300, 300);
    grayTarget->Fill(0);
    add("local mean threshold 9x9, C 8, 8-bit result", gray,
        {{"ours", onCopy(gray, [](TDIB& d, std::string&) { d.LocalAverageThreshold(7, 7, 8, false, 0, 255); },  // a 9 x 9 window
                         blackCheck8)},
         {"OpenCV", matRun(gray, [](const cv::Mat& s, cv::Mat& o) {
              cv::adaptiveThreshold(s, o, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 9, 8);
          }, true)}},
        "the means differ at the page edge: ours shrinks the window, OpenCV replicates the border");
    for (bool isMax : {false, true}) {
        add(isMax ? "local maximum 7x7 (gray dilation)" : "local minimum 7x7 (gray erosion)", gray,
            {{"ours", [&gray, grayTarget, isMax](std::string&) {
                  TDIB& target = *grayTarget;
                  Clock c;
                  c.Start();
                  if (isMax)
                      gray.dib->LocalMaxImage(target, 7, 7);
                  else
                      gray.dib->LocalMinImage(target, 7, 7);
                  return c.Stop();
              }},
             {"OpenCV", matRun(gray, [isMax](const cv::Mat& s, cv::Mat& o) {
                  static const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7));
                  if (isMax)
                      cv::dilate(s, o, kernel);
                  else
                      cv::erode(s, o, kernel);
              }, false)},
             {"Leptonica", pixRun(gray, [isMax](PIX* p) { return isMax ? pixDilateGray(p, 7, 7) : pixErodeGray(p, 7, 7); }, false)}});
    }
    add("error-diffusion dither to 1 bit", gray,
        {{"ours", onCopy(gray, [](TDIB& d, std::string&) { d.FloydSteinbergDither(true, 0, 255); }, blackCheck)},
         {"Leptonica", pixRun(gray, [](PIX* p) { return pixDitherToBinary(p); }, true)}},
        "ours: Floyd-Steinberg over the full 7/16, 3/16, 5/16, 1/16 kernel; Leptonica: its 3-neighbour variant with clipped errors");
    add("local mean/deviation threshold, 9x9", gray,
        {{"ours", [&gray, grayTarget](std::string& ck) {
              TDIB& target = *grayTarget;
              Clock c;
              c.Start();
              TDIB::AdvancedDynamicThreshold(9, *gray.dib, target, -0.2);
              const double ms = c.Stop();
              ck = "black " + Str(int64_t(target.Width()) * target.Height() - cv::countNonZero(ToMat(target)));
              return ms;
          }},
         {"Leptonica", [&gray](std::string& ck) {
              PIX* out = nullptr;
              Clock c;
              c.Start();
              pixSauvolaBinarize(gray.pix.get(), 4, 0.2f, 1, nullptr, nullptr, nullptr, &out);
              const double ms = c.Stop();
              PixPtr keep(out);
              ck = "black " + Str(BlackPixels(out));
              return ms;
          }}},
        "ours: mean + k x deviation (k = -0.2), 8-bit result; Leptonica: pixSauvolaBinarize, half-size 4, factor 0.2");

    // -- Bilevel page operations --
    add("skew estimate (+/-5 degrees)", text,
        {{"ours", onCopy(text, [](TDIB& d, std::string& ck) {
              char buf[32];
              std::snprintf(buf, sizeof buf, "%.3f deg", d.EstimateSkew(15, 5, 0.1));
              ck = buf;
          })},
         {"Leptonica", [&text](std::string& ck) {
              l_float32 angle = 0, conf = 0;
              Clock c;
              c.Start();
              pixFindSkew(text.pix.get(), &angle, &conf);
              const double ms = c.Stop();
              char buf[32];
              std::snprintf(buf, sizeof buf, "%.3f deg", angle);
              ck = buf;
              return ms;
          }}},
        "ours: Step 15, accuracy 0.1 (the dialog's defaults); Leptonica: pixFindSkew (sweep +/-7 at 1 degree, then a binary search to 0.01)");
    add("shear rotation by 1 degree", text,
        {{"ours", onCopy(text, [](TDIB& d, std::string&) { d.Rotate(true, false, 1.0, 1.0); }, blackCheck)},
         {"Leptonica", pixRun(text, [](PIX* p) { return pixRotateShearCenter(p, 1.0f * 3.14159265f / 180.0f, L_BRING_IN_WHITE); }, true)}},
        "ours: two shears about the top-left corner, in place; Leptonica: three shears about the centre into a new image");
    for (bool eight : {true, false}) {
        const int conn = eight ? 8 : 4;
        add(std::string("connected components with boxes, ") + (eight ? "8" : "4") + "-connected", text,
            {{"ours", [&text, eight](std::string& ck) {
                  TBlobList list;
                  Clock c;
                  c.Start();
                  text.dib->FindBlobs(eight, 0, 0, 0, &list);
                  const double ms = c.Stop();
                  ck = Str(list.Count()) + " comps";
                  return ms;
              }},
             {"OpenCV", [&text, conn](std::string& ck) {
                  cv::Mat labels, stats, centroids;
                  Clock c;
                  c.Start();
                  const int n = cv::connectedComponentsWithStats(text.mat, labels, stats, centroids, conn, CV_32S);
                  const double ms = c.Stop();
                  ck = Str(n - 1) + " comps";
                  return ms;
              }},
             {"Leptonica", [&text, conn](std::string& ck) {
                  Clock c;
                  c.Start();
                  BoxaPtr boxes(pixConnCompBB(text.pix.get(), conn));
                  const double ms = c.Stop();
                  ck = Str(boxaGetCount(boxes.get())) + " comps";
                  return ms;
              }}},
            "ours and OpenCV also give each component's pixel count and centroid; OpenCV labels an unpacked 8-bit copy");
    }
    add("speck removal, up to 3x3 pixels", text,
        {{"ours", onCopy(text, [](TDIB& d, std::string& ck) { ck = Str(d.Despeckle(3, 3)) + " removed"; })},
         {"OpenCV", [&text](std::string& ck) {
              cv::Mat labels, stats, centroids;
              Clock c;
              c.Start();
              const int n = cv::connectedComponentsWithStats(text.mat, labels, stats, centroids, 8, CV_32S);
              std::vector<uint8_t> keep(static_cast<size_t>(n), 0);
              int removed = 0;
              for (int i = 1; i < n; ++i) {
                  keep[i] = stats.at<int>(i, cv::CC_STAT_WIDTH) > 3 || stats.at<int>(i, cv::CC_STAT_HEIGHT) > 3 ? 255 : 0;
                  removed += keep[i] == 0;
              }
              cv::Mat out(labels.size(), CV_8UC1);
              for (int y = 0; y < labels.rows; ++y) {
                  const int* l = labels.ptr<int>(y);
                  uint8_t* o = out.ptr<uint8_t>(y);
                  for (int x = 0; x < labels.cols; ++x) o[x] = keep[l[x]];
              }
              const double ms = c.Stop();
              ck = Str(removed) + " removed";
              return ms;
          }},
         {"Leptonica", [&text](std::string& ck) {
              Clock c;
              c.Start();
              PixPtr out(pixSelectBySize(text.pix.get(), 3, 3, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GT, nullptr));
              const double ms = c.Stop();
              BoxaPtr before(pixConnCompBB(text.pix.get(), 8)), after(pixConnCompBB(out.get(), 8));
              ck = Str(boxaGetCount(before.get()) - boxaGetCount(after.get())) + " removed";
              return ms;
          }}},
        "8-connected; ours paints each speck's box white in place, the peers build a new image of the kept components");
    add("2x OR reduction", text,
        {{"ours", [&text](std::string& ck) {
              Clock c;
              c.Start();
              std::unique_ptr<TDIB> half(text.dib->HalfSize());
              const double ms = c.Stop();
              ck = "black " + Str(BlackPixels(*half));
              return ms;
          }},
         {"Leptonica", pixRun(text, [](PIX* p) { return pixReduceRankBinary2(p, 1, nullptr); }, true)}});
    add("scale to gray 4x", text,
        {{"ours", [&text](std::string&) {
              Clock c;
              c.Start();
              std::unique_ptr<TDIB> g(text.dib->ScaleToGray(16, 25));
              return c.Stop();
          }},
         {"OpenCV", matRun(text, [](const cv::Mat& s, cv::Mat& o) { cv::resize(s, o, cv::Size(s.cols / 4, s.rows / 4), 0, 0, cv::INTER_AREA); }, false)},
         {"Leptonica", pixRun(text, [](PIX* p) { return pixScaleToGray4(p); }, false)}},
        "ours: 16 levels in a 4-bit image; Leptonica: 17 levels in 8 bits; OpenCV: area averaging of an unpacked 8-bit copy");
    add("ruling-line removal (100 pixels and longer)", form,
        {{"ours", onCopy(form, [](TDIB& d, std::string&) { d.RemoveLines(100, 2, 10, 100, 2, 10, true, false); }, blackCheck)},
         {"OpenCV", [&form](std::string& ck) {
              static const cv::Mat horizontal = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(100, 1));
              static const cv::Mat vertical = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, 100));
              cv::Mat h, v, out;
              Clock c;
              c.Start();
              cv::morphologyEx(form.mat, h, cv::MORPH_OPEN, horizontal);
              cv::morphologyEx(form.mat, v, cv::MORPH_OPEN, vertical);
              cv::bitwise_or(h, v, h);
              cv::subtract(form.mat, h, out);
              const double ms = c.Stop();
              ck = "black " + Str(cv::countNonZero(out));
              return ms;
          }},
         {"Leptonica", [&form](std::string& ck) {
              Clock c;
              c.Start();
              PixPtr h(pixOpenBrick(nullptr, form.pix.get(), 100, 1));
              PixPtr v(pixOpenBrick(nullptr, form.pix.get(), 1, 100));
              pixOr(h.get(), h.get(), v.get());
              PixPtr out(pixSubtract(nullptr, form.pix.get(), h.get()));
              const double ms = c.Stop();
              ck = "black " + Str(BlackPixels(out.get()));
              return ms;
          }}},
        "ours: runs of 100 pixels or more with holes of up to 2 pixels and a length-to-thickness ratio of 10, "
        "line borders cleaned (the dialog's defaults); the peers: opening with 100-pixel lines, subtracted");
    add("text and image segmentation", news,
        {{"ours", [&news](std::string& ck) {
              TBlobList textBlocks, imageBlocks;
              Clock c;
              c.Start();
              news.dib->FindImagesAndText(textBlocks, imageBlocks);
              const double ms = c.Stop();
              ck = Str(textBlocks.Count()) + " text, " + Str(imageBlocks.Count()) + " image";
              return ms;
          }},
         {"Leptonica", [&news](std::string&) {
              PIX *hm = nullptr, *tm = nullptr, *tb = nullptr;
              Clock c;
              c.Start();
              pixGetRegionsBinary(news.pix.get(), &hm, &tm, &tb, nullptr);
              const double ms = c.Stop();
              pixDestroy(&hm), pixDestroy(&tm), pixDestroy(&tb);
              return ms;
          }}},
        "ours: text and image blocks as rectangles; Leptonica: halftone, text-line and text-block masks");

    // -- Files: the same codecs underneath (libtiff, libjpeg-turbo), so this is our overhead --
    static std::vector<uint8_t> g4 = SaveTiff(*text.dib, tcGroup4);
    add("TIFF G4 decode", text,
        {{"ours", [](std::string& ck) {
              TMemoryStream s;
              s.Write(g4.data(), static_cast<int64_t>(g4.size()));
              s.SetPosition(0);
              TDIB d;
              Clock c;
              c.Start();
              d.LoadFromTiffStream(s, 0);
              const double ms = c.Stop();
              ck = Str(static_cast<int64_t>(g4.size())) + " bytes";
              return ms;
          }},
         {"Leptonica", [](std::string&) {
              Clock c;
              c.Start();
              PixPtr p(pixReadMemTiff(g4.data(), g4.size(), 0));
              return c.Stop();
          }}},
        "the same file for both (written by us, strips of 16 rows)");
    add("TIFF G4 encode", text,
        {{"ours", [&text](std::string& ck) {
              TMemoryStream s;
              Clock c;
              c.Start();
              text.dib->SaveToTiffStream(s, false, tcGroup4, 16);
              const double ms = c.Stop();
              ck = Str(s.Size()) + " bytes";
              return ms;
          }},
         {"Leptonica", [&text](std::string& ck) {
              l_uint8* data = nullptr;
              size_t size = 0;
              Clock c;
              c.Start();
              pixWriteMemTiff(&data, &size, text.pix.get(), IFF_TIFF_G4);
              const double ms = c.Stop();
              lept_free(data);
              ck = Str(static_cast<int64_t>(size)) + " bytes";
              return ms;
          }}},
        "ours: strips of 16 rows (what qil writes); Leptonica: one strip");
    for (Page* page : {&gray, &color}) {
        auto bytes = std::make_shared<std::vector<uint8_t>>(SaveJpeg(*page->dib));
        add("JPEG decode", *page,
            {{"ours", [bytes](std::string&) {
                  TMemoryStream s;
                  s.Write(bytes->data(), static_cast<int64_t>(bytes->size()));
                  s.SetPosition(0);
                  TDIB d;
                  Clock c;
                  c.Start();
                  d.LoadFromJpegStream(s);
                  return c.Stop();
              }},
             {"OpenCV", [bytes](std::string&) {
                  Clock c;
                  c.Start();
                  cv::Mat m = cv::imdecode(*bytes, cv::IMREAD_UNCHANGED);
                  return c.Stop();
              }},
             {"Leptonica", [bytes](std::string&) {
                  Clock c;
                  c.Start();
                  PixPtr p(pixReadMemJpeg(bytes->data(), bytes->size(), 0, 1, nullptr, 0));
                  return c.Stop();
              }}});
        add("JPEG encode, quality 80", *page,
            {{"ours", [page](std::string& ck) {
                  TMemoryStream s;
                  Clock c;
                  c.Start();
                  page->dib->SaveToJpegStream(s, false, 80);
                  const double ms = c.Stop();
                  ck = Str(s.Size()) + " bytes";
                  return ms;
              }},
             {"OpenCV", [page](std::string& ck) {
                  std::vector<uint8_t> out;
                  Clock c;
                  c.Start();
                  cv::imencode(".jpg", page->mat, out, {cv::IMWRITE_JPEG_QUALITY, 80});
                  const double ms = c.Stop();
                  ck = Str(static_cast<int64_t>(out.size())) + " bytes";
                  return ms;
              }},
             {"Leptonica", [page](std::string& ck) {
                  l_uint8* data = nullptr;
                  size_t size = 0;
                  Clock c;
                  c.Start();
                  pixWriteMemJpeg(&data, &size, page->pix.get(), 80, 0);
                  const double ms = c.Stop();
                  lept_free(data);
                  ck = Str(static_cast<int64_t>(size)) + " bytes";
                  return ms;
              }}});
    }
    return pairs;
}

std::string Fmt(double v) {
    char buf[32];
    if (std::isnan(v)) return "-";
    std::snprintf(buf, sizeof buf, v < 10 ? "%.2f" : (v < 100 ? "%.1f" : "%.0f"), v);
    return buf;
}

void PrintTable(const std::vector<Pair>& pairs, bool markdown, int rounds) {
    const char* peers[] = {"OpenCV", "Leptonica"};
    if (markdown) {
        std::printf("| operation | page | ours ms | OpenCV ms | Leptonica ms | ours / faster peer | results |\n");
        std::printf("|---|---|---:|---:|---:|---:|---|\n");
    } else {
        std::printf("%-46s %-10s %22s %22s %22s %7s  %s\n", "operation", "page", "ours ms (IQR)", "OpenCV ms (IQR)",
                    "Leptonica ms (IQR)", "ratio", "results");
    }
    for (const Pair& p : pairs) {
        auto cell = [&](const Contender* c) -> std::string {
            if (!c) return "-";
            const double med = Quantile(c->ms, 0.5), lo = Quantile(c->ms, 0.25), hi = Quantile(c->ms, 0.75);
            return Fmt(med) + " (" + Fmt(lo) + "-" + Fmt(hi) + ")";
        };
        const Contender* ours = &p.contenders[0];
        const Contender* byPeer[2] = {nullptr, nullptr};
        double best = INFINITY;
        for (const Contender& c : p.contenders)
            for (int k = 0; k < 2; ++k)
                if (c.who == peers[k]) {
                    byPeer[k] = &c;
                    best = std::min(best, Quantile(c.ms, 0.5));
                }
        const double ratio = Quantile(ours->ms, 0.5) / best;
        std::string checks;
        for (const Contender& c : p.contenders)
            if (!c.check.empty()) checks += (checks.empty() ? "" : "; ") + c.who + ": " + c.check;
        if (markdown)
            std::printf("| %s | %s | %s | %s | %s | %.2f | %s |\n", p.op.c_str(), p.page.c_str(), cell(ours).c_str(),
                        cell(byPeer[0]).c_str(), cell(byPeer[1]).c_str(), ratio, checks.c_str());
        else
            std::printf("%-46s %-10s %22s %22s %22s %7.2f  %s\n", p.op.c_str(), p.page.c_str(), cell(ours).c_str(),
                        cell(byPeer[0]).c_str(), cell(byPeer[1]).c_str(), ratio, checks.c_str());
    }
    std::printf("\n%d rounds; median and interquartile range in milliseconds of %s time; ratio = our median / the faster peer's median.\n",
                rounds, gClock == CLOCK_THREAD_CPUTIME_ID ? "thread CPU" : "wall");
    std::printf("\nNotes:\n");
    for (const Pair& p : pairs)
        if (!p.note.empty()) std::printf("- %s: %s\n", p.op.c_str(), p.note.c_str());
}

int WriteScanPages(const std::string& dir, int count) {
    for (int i = 0; i < count; ++i) {
        auto page = ScanPage(static_cast<uint32_t>(i + 1));
        char name[32];
        std::snprintf(name, sizeof name, "/scan%03d.tif", i + 1);
        page->SaveToTiffFile(dir + name, false, tcGroup4, 16);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 9;
    bool markdown = false;
    std::string filter;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--filter" && i + 1 < argc) filter = argv[++i];
        else if (a == "--wall") gClock = CLOCK_MONOTONIC;
        else if (a == "--markdown") markdown = true;
        else if (a == "--write-gray-page" && i + 1 < argc) {
            GrayScanPage()->SaveToTiffFile(argv[i + 1], false, tcNone, 16);
            return 0;
        } else if (a == "--write-scan-pages" && i + 2 < argc) {
            const std::string dir = argv[i + 1];
            return WriteScanPages(dir, std::atoi(argv[i + 2]));
        } else {
            std::fprintf(stderr,
                         "usage: qil_compare [--rounds N] [--filter TEXT] [--wall] [--markdown]\n"
                         "       qil_compare --write-scan-pages DIR N\n"
                         "       qil_compare --write-gray-page FILE\n");
            return 2;
        }
    }
    cv::setNumThreads(1);
    setLeptDebugOK(0);

    std::fprintf(stderr, "drawing the pages...\n");
    Page text = MakePage(TextPage(), "text 1-bit");
    Page news = MakePage(NewspaperPage(), "newspaper");
    Page form = MakePage(RuledFormPage(), "ruled form");
    Page gray = MakePage(GrayScanPage(), "gray scan");
    Page color = MakePage(ColorScanPage(), "color scan");

    std::vector<Pair> pairs = MakePairs(text, news, form, gray, color);
    if (!filter.empty())
        pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                                   [&](const Pair& p) { return p.op.find(filter) == std::string::npos; }),
                    pairs.end());

    for (int r = -1; r < rounds; ++r) {  // round -1 warms up and is not counted
        std::fprintf(stderr, "\rround %d of %d", r + 1, rounds);
        for (Pair& p : pairs) {
            const size_t n = p.contenders.size();
            for (size_t k = 0; k < n; ++k) {
                Contender& c = p.contenders[(k + static_cast<size_t>(r + 1)) % n];
                std::string check;
                const double ms = c.run(check);
                if (r < 0) c.check = check;
                else c.ms.push_back(ms);
            }
        }
    }
    std::fprintf(stderr, "\n");
    PrintTable(pairs, markdown, rounds);
    return 0;
}
