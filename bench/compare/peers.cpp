#include "peers.h"

#include <cstring>

namespace qil::compare {

PixPtr ToPix(TDIB& page) {
    const int32_t w = page.Width(), h = page.Height();
    if (page.ImageFormat == fmt1Bit) {
        PixPtr pix(pixCreate(w, h, 1));
        const bool invert = page.BlackIndex() == 0;  // PIX: bit 1 is black
        const int32_t wpl = pixGetWpl(pix.get());
        for (int32_t y = 0; y < h; ++y) {
            l_uint32* line = pixGetData(pix.get()) + y * wpl;
            const uint8_t* src = page.Rows[y];
            for (int32_t x = 0; x < w; ++x) {
                const bool bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
                if (bit != invert) SET_DATA_BIT(line, x);
            }
        }
        return pix;
    }
    if (page.ImageFormat == fmt8Bit) {
        PixPtr pix(pixCreate(w, h, 8));
        const int32_t wpl = pixGetWpl(pix.get());
        for (int32_t y = 0; y < h; ++y) {
            l_uint32* line = pixGetData(pix.get()) + y * wpl;
            for (int32_t x = 0; x < w; ++x) SET_DATA_BYTE(line, x, page.Rows[y][x]);
        }
        return pix;
    }
    PixPtr pix(pixCreate(w, h, 32));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = page.Rows[y];
        for (int32_t x = 0; x < w; ++x)
            pixSetRGBPixel(pix.get(), x, y, src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    }
    return pix;
}

cv::Mat ToMat(TDIB& page) {
    const int32_t w = page.Width(), h = page.Height();
    if (page.ImageFormat == fmt1Bit) {
        cv::Mat m(h, w, CV_8UC1);
        const int32_t black = page.BlackIndex();
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* src = page.Rows[y];
            uint8_t* dst = m.ptr<uint8_t>(y);
            for (int32_t x = 0; x < w; ++x) dst[x] = ((src[x >> 3] >> (7 - (x & 7))) & 1) == black ? 255 : 0;
        }
        return m;
    }
    cv::Mat m(h, w, page.ImageFormat == fmt8Bit ? CV_8UC1 : CV_8UC3);
    for (int32_t y = 0; y < h; ++y) std::memcpy(m.ptr<uint8_t>(y), page.Rows[y], m.cols * m.elemSize());
    return m;
}

int64_t BlackPixels(PIX* pix) {
    l_int32 count = 0;
    pixCountPixels(pix, &count, nullptr);
    return count;
}

int64_t BlackPixels(TDIB& page) {
    THistogram histogram;
    page.GetHistogram(histogram);
    return static_cast<int64_t>(histogram[page.BlackIndex()]);
}

}  // namespace qil::compare
