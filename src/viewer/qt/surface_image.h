// A QImage over the pixels of a raster device, for blitting it with QPainter.
#pragma once

#include <QImage>

#include "platform/raster.h"

namespace qil {

// The surface's 0x00RRGGBB pixels get an opaque alpha byte in place; the image shares them
// and is valid while the surface lives and keeps its size.
inline QImage SurfaceImage(TRasterDevice& surface) {
    for (uint32_t& p : surface.Pixels) p |= 0xFF000000u;
    return QImage(reinterpret_cast<const uchar*>(surface.Pixels.data()), surface.Width(), surface.Height(),
                  static_cast<qsizetype>(surface.Width()) * 4, QImage::Format_RGB32);
}

}  // namespace qil
