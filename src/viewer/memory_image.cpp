#include "viewer/memory_image.h"

#include "dib/image_file.h"
#include "platform/numeric.h"

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

void TMemoryImage::Crop(const TRect& rect) {
    if (IsValid()) FDIB->CropToRect(rect);
    UpdateInfo();
}

}  // namespace qil
