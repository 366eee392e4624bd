// The printer, as the holder uses it: a print job with a title, the device capabilities of
// the page, the viewport origin, and drawing onto the page through raster devices.
//
// The window system installs the back end (SetPrinter). Coordinates are device dots of the
// printable area, whose top-left corner is (0, 0); the viewport origin is added to them, so
// minus the physical offsets puts (0, 0) on the corner of the paper.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/raster.h"
#include "platform/rect.h"

namespace qil {

// Device capability indexes (the values of the windowing system).
constexpr int32_t HORZRES = 8;           // printable width, dots
constexpr int32_t VERTRES = 10;          // printable height, dots
constexpr int32_t LOGPIXELSX = 88;       // dots per inch horizontally
constexpr int32_t LOGPIXELSY = 90;       // dots per inch vertically
constexpr int32_t PHYSICALOFFSETX = 112; // from the paper's left edge to the printable area
constexpr int32_t PHYSICALOFFSETY = 113; // from the paper's top edge to the printable area

class TPrinter {
public:
    virtual ~TPrinter() = default;

    std::string Title;  // the job's name, used by BeginDoc
    TPoint ViewportOrigin{};

    virtual void BeginDoc() = 0;
    virtual void EndDoc() = 0;
    virtual bool Printing() const = 0;
    virtual int32_t GetDeviceCaps(int32_t index) const = 0;
    // Draws onto the current page the part of Area (logical coordinates, exclusive right and
    // bottom) that lies on the page: Draw is called with raster devices that each stand for a
    // piece of it (their viewport origins set so that logical coordinates land right) and may
    // draw anywhere in logical coordinates; what falls outside the piece is clipped. Raises
    // "Printing not in progress" outside a job.
    virtual void DrawOnPage(const TRect& area, const std::function<void(TRasterDevice*)>& draw) = 0;
};

// The printer used by the holder (not owned); nullptr removes it. Printer() raises
// "There is no default printer currently selected" when none is installed.
void SetPrinter(TPrinter* printer);
TPrinter* Printer();

}  // namespace qil
