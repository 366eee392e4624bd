#pragma once
// A fresh white image block for the viewer and holder tests, drawn on by an optional function.
#include <cstdint>
#include <functional>

#include "dib/dib.h"

namespace qil {

// The block of a white W x H image of the given format and resolution, with Draw applied; the
// caller owns the block and hands it on.
inline HGLOBAL MakeBlock(int32_t w, int32_t h, uint8_t format, int32_t xdpi, int32_t ydpi,
                         const std::function<void(TDIB&)>& draw = {}) {
    TDIB dib;
    dib.CreateNew(w, h, format, xdpi, ydpi);
    dib.FillWhite();
    if (draw) draw(dib);
    dib.OwnsHandle = false;
    return dib.GetHandle();
}

}  // namespace qil
