// PNG files through the PNG codec (dib/png_codec.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dib/dib.h"
#include "dib/png_codec.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

namespace {

// The largest resolution whose pixels-per-metre value fits the bitmap header.
constexpr int32_t kMaxDpi = 54545000;

int32_t SaneDpi(int32_t dpi) { return dpi >= 0 && dpi <= kMaxDpi ? dpi : 0; }

}  // namespace

void TDIB::LoadFromPngStream(TStream& stream) {
    Clear();
    TPNGImage png;
    png.LoadFromStream(stream);

    int32_t xDpi = 0, yDpi = 0;
    if (auto* phys = png.Chunks.Find<TChunkPHYS>("pHYs")) phys->GetResolution(xDpi, yDpi);
    // A value beyond what the header can hold would wrap around: treat it as unknown.
    xDpi = SaneDpi(xDpi);
    yDpi = SaneDpi(yDpi);

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
    if (Handle == 0 || Header == nullptr) throw EPNGImageException(EPngInvalidBitmap);
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
    // A new name in the same directory, so that the rename replaces the file in one step.
    static std::atomic<uint32_t> counter{0};
    std::string tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName = Format("%s.%d.%u.tmp", fileName.c_str(), static_cast<int>(::getpid()), counter.fetch_add(1));
        fd = ::open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    // Replacing a file keeps its permission bits.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
    ::close(fd);

    try {
        {
            TFileStream file(tempName, fmOpenReadWrite);
            SaveToPngStream(file);
            file.Flush();
        }
        if (std::rename(tempName.c_str(), fileName.c_str()) != 0)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    } catch (...) {
        std::remove(tempName.c_str());
        throw;
    }
}

}  // namespace qil
