#include "viewer/memory_image.h"

#include <memory>

#include "dib/image_file.h"
#include "platform/clipboard.h"
#include "platform/numeric.h"
#include "platform/printer.h"

namespace qil {

TMemoryImage::TMemoryImage() : FDIB(std::make_unique<TDIB>()) {}

TMemoryImage::~TMemoryImage() { ClearImage(); }

HGLOBAL TMemoryImage::GetImageHandle() { return FDIB->GetHandle(); }

void TMemoryImage::SetImageHandle(HGLOBAL handle) {
    FreeImage();
    FDIB->SetHandle(handle);
    FreeImageHandle = true;
    FPageCount = 1;
    FPage = 0;
    FFileName.clear();
    UpdateInfo();
}

void TMemoryImage::UpdateInfo() {
    if (FDIB->GetHandle() != 0) {
        FHorzSize = FDIB->Width();
        FVertSize = FDIB->Height();
        FDepth = FDIB->BitCount();
        FHorzResolution = FDIB->XResolution();
        FVertResolution = FDIB->YResolution();
    }
    if (FHorzResolution < 1) FHorzResolution = 72;
    if (FVertResolution < 1) FVertResolution = 72;
}

void TMemoryImage::FreeImage() {
    FDIB->OwnsHandle = FreeImageHandle;
    FDIB->Clear();
}

void TMemoryImage::ClearImage() {
    FreeImage();
    FFileName.clear();
}

void TMemoryImage::SetPage(int32_t value) {
    if (!FileExists(FFileName)) return;
    if (value < 0) value = 0;
    if (value >= FPageCount) value = FPageCount - 1;
    FPage = value;
    FreeImage();
    FDIB->LoadFromFile(FFileName, FPage);
    FreeImageHandle = true;
    UpdateInfo();
}

int32_t TMemoryImage::GetVertSizeCorrected() {
    if (FVertResolution <= 0) return FVertSize;
    return static_cast<int32_t>(Round(static_cast<long double>(FHorzResolution) / FVertResolution * FVertSize));
}

void TMemoryImage::ChangeResolution(int32_t horzDpi, int32_t vertDpi, bool resizeCanvas) {
    int32_t oldHorz = FHorzResolution;
    int32_t oldVert = FVertResolution;
    FDIB->SetXResolution(horzDpi);
    FDIB->SetYResolution(vertDpi);
    if (resizeCanvas) {
        auto w = static_cast<int32_t>(Round(static_cast<long double>(horzDpi) / oldHorz * FHorzSize));
        auto h = static_cast<int32_t>(Round(static_cast<long double>(vertDpi) / oldVert * FVertSize));
        FDIB->SetSize(w, h, 0);
    }
    UpdateInfo();
}

void TMemoryImage::RotateImage(double angle) {
    int32_t oldHorz = FHorzResolution;
    int32_t oldVert = FVertResolution;
    bool quarter = false;
    if (angle == 90) {
        FDIB->Rotate90();
        quarter = true;
    } else if (angle == 180) {
        FDIB->Rotate180();
    } else if (angle == 270) {
        FDIB->Rotate270();
        quarter = true;
    } else {
        FDIB->RotateByAngle(false, 0, angle);
    }
    UpdateInfo();
    if (quarter && oldHorz != oldVert) ChangeResolution(oldVert, oldHorz, false);
}

double TMemoryImage::EstimateSkewAngle() { return FDIB->EstimateSkew(0, 5, 0.1); }

void TMemoryImage::DeskewImage() { FDIB->Deskew(true, true, 5); }

bool TMemoryImage::IsValid() { return FDIB->GetHandle() != 0; }

void TMemoryImage::LoadImage(const std::string& fileName, int32_t page) {
    FreeImage();
    FFileName = fileName;
    FPageCount = FDIB->GetPageCount(fileName);
    FPage = page;
    FDIB->LoadFromFile(fileName, page);
    FreeImageHandle = true;
    UpdateInfo();
}

void TMemoryImage::SaveImageAsTiff(const std::string& fileName, bool append) {
    FDIB->SaveToTiffFile(fileName, append, tcAuto, 16);
}

void TMemoryImage::SaveImageAsBitmap(const std::string& fileName) { FDIB->SaveToBitmapFile(fileName); }

void TMemoryImage::SaveImageAsJpeg(const std::string& fileName) { FDIB->SaveToJpegFile(fileName, false, 80); }

// CopyToClipboard(Rect)
// Notes:
//  - The copy's block goes to the clipboard, which owns it from then on. When the clipboard
//    refuses it, the block is freed here and the failure raised (the platform's last error).
//  - The clipboard is closed on every path once it was opened.
void TMemoryImage::CopyToClipboard(const TRect& rect) {
    if (!IsValid()) return;
    if (!OpenClipboard()) RaiseLastOSError();
    struct Close {
        ~Close() { CloseClipboard(); }
    } close;
    std::unique_ptr<TDIB> copy(FDIB->CopyRect(rect));
    copy->OwnsHandle = false;
    const HGLOBAL block = copy->GetHandle();
    EmptyClipboard();
    if (SetClipboardData(CF_DIB, block) == 0) {
        const uint32_t error = GetLastError();
        copy->OwnsHandle = true;  // nobody took it
        copy.reset();
        RaiseLastOSError(error);
    }
    copy.reset();
}

void TMemoryImage::Print(int32_t PrintMode, bool Center) {
    TPrinter* printer = Printer();
    printer->Title = "Printing Image";
    printer->BeginDoc();
    struct End {
        TPrinter* P;
        ~End() { P->EndDoc(); }
    } end{printer};
    PrintInCurrentJob(PrintMode, Center);
}

// PrintInCurrentJob(PrintMode, Center)
// Notes:
//  - The image is drawn from a Duplicate, turned with Rotate90 when the page is portrait and
//    the image landscape or the other way round; the resolutions are not swapped.
//  - True size: Round(printer dpi / image dpi * size) on each axis, the image dpi being the
//    horizontal resolution on both, since the height is the corrected one (so an image of
//    100 x 50 pixels at 100 x 50 dpi prints one inch square); where that is larger than
//    the printable area the viewport origin moves to the corner of the paper (minus the
//    physical offset), so the picture starts at the paper's edge.
//  - Fit: the smaller of page width / W and page height / H, sizes rounded.
//  - Centring divides the spare room by 2 toward zero (negative when the picture is larger).
//  - The viewport origin is restored also when drawing fails.
//  - An empty holder draws nothing.
void TMemoryImage::PrintInCurrentJob(int32_t PrintMode, bool Center) {
    TPrinter* printer = Printer();
    if (!IsValid()) return;  // nothing to draw (and no size to fit)
    const int32_t dpiX = printer->GetDeviceCaps(LOGPIXELSX);
    const int32_t dpiY = printer->GetDeviceCaps(LOGPIXELSY);
    const int32_t pageW = printer->GetDeviceCaps(HORZRES);
    const int32_t pageH = printer->GetDeviceCaps(VERTRES);
    const int32_t offsetX = printer->GetDeviceCaps(PHYSICALOFFSETX);
    const int32_t offsetY = printer->GetDeviceCaps(PHYSICALOFFSETY);

    int32_t w = FHorzSize;
    int32_t h = GetVertSizeCorrected();
    std::unique_ptr<TDIB> copy(FDIB->Duplicate());
    if ((pageW < pageH && w > h) || (pageW > pageH && w < h)) {
        copy->Rotate90();
        std::swap(w, h);
    }

    int32_t outW, outH;
    TPoint origin{0, 0};
    if (PrintMode == 0) {
        // W and H are both measured at the horizontal resolution (H is the corrected height).
        outW = static_cast<int32_t>(Round(static_cast<long double>(dpiX) / FHorzResolution * w));
        outH = static_cast<int32_t>(Round(static_cast<long double>(dpiY) / FHorzResolution * h));
        if (pageW < outW) origin.X = -offsetX;
        if (pageH < outH) origin.Y = -offsetY;
    } else if (PrintMode == 1) {
        const long double sx = static_cast<long double>(pageW) / w;
        const long double sy = static_cast<long double>(pageH) / h;
        const long double scale = sx < sy ? sx : sy;
        outW = static_cast<int32_t>(Round(w * scale));
        outH = static_cast<int32_t>(Round(h * scale));
    } else {
        outW = w;
        outH = h;
    }
    int32_t x = 0, y = 0;
    if (Center) {
        x = (pageW - outW) / 2;
        y = (pageH - outH) / 2;
    }

    struct RestoreOrigin {
        TPrinter* P;
        TPoint Old;
        ~RestoreOrigin() { P->ViewportOrigin = Old; }
    } restore{printer, printer->ViewportOrigin};
    printer->ViewportOrigin = origin;
    printer->DrawOnPage(TRect{x, y, x + outW, y + outH},
                        [&](TRasterDevice* dc) { copy->Draw(dc, x, y, outW, outH, 0); });
}

void TMemoryImage::Crop(const TRect& rect) {
    if (IsValid()) FDIB->CropToRect(rect);
    UpdateInfo();
}

}  // namespace qil
