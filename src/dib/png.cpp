// PNG files through the PNG codec (dib/png_codec.h).
#include <algorithm>
#include <cstring>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "dib/png_codec.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

void TDIB::LoadFromPngStream(TStream& stream) {
    Clear();
    TPNGImage png;
    png.LoadFromStream(stream);

    int32_t xDpi = 0, yDpi = 0;
    if (auto* phys = png.Chunks.Find<TChunkPHYS>("pHYs")) phys->GetResolution(xDpi, yDpi);
    // Kept in 0 ... 65535 like the resolutions of the other file formats.
    xDpi = ClampResolution(xDpi);
    yDpi = ClampResolution(yDpi);

    CreateNew(png.Width(), png.Height(), png.PixelFormat(), xDpi, yDpi);
    const size_t n = static_cast<size_t>(std::min(RowBytes, png.RowBytes()));
    for (int32_t y = 0; y < Height(); ++y) std::memcpy(Rows[static_cast<size_t>(y)], png.Scanline(y), n);
    if (ImageFormat != fmt24Bit && !png.Palette.empty()) {
        const int32_t count = std::min<int32_t>(static_cast<int32_t>(png.Palette.size()), PaletteSize);
        for (int32_t i = 0; i < count; ++i) {
            const TPngColor& c = png.Palette[static_cast<size_t>(i)];
            Palette[i] = RGBQUAD{c.Blue, c.Green, c.Red, 0};
        }
    }
}

void TDIB::SaveToPngStream(TStream& stream) {
    RequireImage(*this);
    TPNGImage png;
    png.SetSize(Width(), Height(), ImageFormat);
    const size_t n = static_cast<size_t>(std::min(RowBytes, png.RowBytes()));
    for (int32_t y = 0; y < Height(); ++y) std::memcpy(png.Scanline(y), Rows[static_cast<size_t>(y)], n);
    if (ImageFormat != fmt24Bit) {
        png.Palette.resize(static_cast<size_t>(PaletteSize));
        for (int32_t i = 0; i < PaletteSize; ++i)
            png.Palette[static_cast<size_t>(i)] = TPngColor{Palette[i].rgbRed, Palette[i].rgbGreen, Palette[i].rgbBlue};
    }
    // The header holds pixels per metre already: write them as they are.
    const int32_t ppmX = std::max<int32_t>(Header->biXPelsPerMeter, 0);
    const int32_t ppmY = std::max<int32_t>(Header->biYPelsPerMeter, 0);
    if (ppmX != 0 || ppmY != 0) {
        auto* phys = static_cast<TChunkPHYS*>(png.Chunks.Add("pHYs"));
        phys->SetValues(static_cast<uint32_t>(ppmX), static_cast<uint32_t>(ppmY), 1);
    }
    png.SaveToStream(stream);
}

void TDIB::SaveToPngFile(const std::string& fileName) {
    WriteFileAtomically(fileName, false, [this](TFileStream& stream) { SaveToPngStream(stream); });
}

}  // namespace qil
