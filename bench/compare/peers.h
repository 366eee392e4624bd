// Moving pages between TDIB, Leptonica's PIX and OpenCV's Mat, outside the timed sections.
#pragma once

#include <leptonica/allheaders.h>

#include <memory>
#include <opencv2/core.hpp>

#include "dib/dib.h"

namespace qil::compare {

struct PixDeleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

struct BoxaDeleter {
    void operator()(BOXA* b) const { boxaDestroy(&b); }
};
using BoxaPtr = std::unique_ptr<BOXA, BoxaDeleter>;

// 1-bit pages become 1 bpp PIX with 1 = black (whatever the TDIB's color table), 8-bit pages
// 8 bpp PIX, 24-bit pages 32 bpp RGB PIX.
PixPtr ToPix(TDIB& page);

// 1-bit pages become CV_8UC1 with black = 255 (the foreground of OpenCV's component
// labelling), 8-bit pages CV_8UC1 as they are, 24-bit pages CV_8UC3 in the same BGR order.
cv::Mat ToMat(TDIB& page);

// Black pixels of a 1 bpp PIX and of a TDIB (to check that both sides did the same work).
int64_t BlackPixels(PIX* pix);
int64_t BlackPixels(TDIB& page);

}  // namespace qil::compare
