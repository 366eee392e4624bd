// TMemoryImage: the non-visual holder of the image a viewer shows.
//
// It owns one TDIB, the name and page of the file the image came from, and the image's size,
// depth and resolution as of the last UpdateInfo. Processing results are handed to it as
// memory blocks (SetImageHandle); it then owns and frees them.
//
// Notes
//  - When the holder is empty the size, depth and resolution keep their previous values,
//    except that a resolution below 1 always reads 72.
//  - FreeImageHandle is true after construction and after every load or hand-over; a client
//    that wants to keep the current block clears it before the holder replaces its image.
//  - Printing and the clipboard go through the platform's printer and clipboard (their back
//    ends are installed by the window system).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dib/dib.h"
#include "platform/memory.h"
#include "platform/rect.h"

namespace qil {

class TMemoryImage {
public:
    TMemoryImage();
    virtual ~TMemoryImage();
    TMemoryImage(const TMemoryImage&) = delete;
    TMemoryImage& operator=(const TMemoryImage&) = delete;

    TDIB& DIB() { return *FDIB; }
    int32_t HorzSize() const { return FHorzSize; }
    int32_t VertSize() const { return FVertSize; }
    int32_t Depth() const { return FDepth; }
    bool FreeImageHandle = true;
    int32_t HorzResolution() const { return FHorzResolution; }
    int32_t VertResolution() const { return FVertResolution; }
    int32_t Page() const { return FPage; }
    int32_t PageCount() const { return FPageCount; }
    const std::string& FileName() const { return FFileName; }

    virtual HGLOBAL GetImageHandle();
    // Adopts a block (0 empties the holder); the holder owns it from now on.
    virtual void SetImageHandle(HGLOBAL handle);
    virtual void UpdateInfo();
    virtual void FreeImage();
    virtual void ClearImage();
    // Reloads page Value (clamped to the file's pages) of the file the image came from; does
    // nothing when that file does not exist.
    virtual void SetPage(int32_t value);
    // The height the image would have at its horizontal resolution.
    virtual int32_t GetVertSizeCorrected();
    virtual void ChangeResolution(int32_t horzDpi, int32_t vertDpi, bool resizeCanvas);
    virtual void RotateImage(double angle);
    virtual double EstimateSkewAngle();
    virtual void DeskewImage();
    virtual bool IsValid();
    virtual void LoadImage(const std::string& fileName, int32_t page);
    virtual void SaveImageAsTiff(const std::string& fileName, bool append);
    virtual void SaveImageAsBitmap(const std::string& fileName);
    virtual void SaveImageAsJpeg(const std::string& fileName);
    // Puts a copy of the inclusive rectangle (image pixels, inside the image) on the clipboard
    // as a device-independent bitmap. Nothing happens when the holder is empty.
    virtual void CopyToClipboard(const TRect& rect);
    virtual void Crop(const TRect& rect);
    // A print job titled "Printing Image" with the image on its page (PrintInCurrentJob).
    virtual void Print(int32_t PrintMode, bool Center);
    // Draws the image on the current page of the open print job, turned a quarter when page
    // and image differ in orientation. PrintMode 0: true size (the image's resolution on the
    // printer's); 1: fit to the page keeping the proportions; any other: one image pixel per
    // printer dot. Center puts it in the middle of the printable area, else at its top-left.
    virtual void PrintInCurrentJob(int32_t PrintMode, bool Center);

private:
    std::unique_ptr<TDIB> FDIB;
    int32_t FHorzSize = 0;
    int32_t FVertSize = 0;
    int32_t FDepth = 0;
    // Never below 1: an empty holder that never held an image reads 72 as well.
    int32_t FHorzResolution = 72;
    int32_t FVertResolution = 72;
    int32_t FPage = 0;
    int32_t FPageCount = 1;
    std::string FFileName;
};

}  // namespace qil
