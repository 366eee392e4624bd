// A small demonstration of the image library: draws a color page, reduces it to gray and to
// bilevel, and reports what each step produced.
#include <cstdio>
#include <memory>

#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

int main() {
    try {
        TDIB page;
        page.CreateNew(2480, 3508, fmt24Bit, 300, 300);
        page.FillWhite();
        for (int y = 400; y < 3100; y += 60)
            for (int x = 300; x < 2180; ++x)
                if ((x / 40) % 3 != 2)
                    for (int dy = 0; dy < 24; ++dy) page.SetPixel(x, y + dy, 0x000000);
        std::printf("color page: %d x %d, %d bits, %d dpi\n", page.Width(), page.Height(), page.BitCount(), page.XResolution());
        std::unique_ptr<TDIB> gray(page.Duplicate());
        gray->ConvertToFormat(fmt8Bit);
        THistogram h;
        gray->GetHistogram(h);
        std::printf("gray page: %d bits; %llu black pixels, %llu white\n", gray->BitCount(),
                    static_cast<unsigned long long>(h[0]), static_cast<unsigned long long>(h[255]));
        gray->ConvertToFormat(fmt1Bit);
        gray->GetHistogram(h);
        std::printf("bilevel page: %d bits, %d bytes per row; %llu white, %llu black\n", gray->BitCount(), gray->Stride,
                    static_cast<unsigned long long>(h[1]), static_cast<unsigned long long>(h[0]));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qil-demo: %s\n", e.what());
        return 1;
    }
}
