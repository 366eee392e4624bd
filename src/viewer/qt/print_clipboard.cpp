#include "viewer/qt/print_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPrinter>
#include <algorithm>
#include <cstring>

#include "platform/exceptions.h"
#include "viewer/qt/surface_image.h"

namespace qil {

namespace {

template <class T>
T ReadAt(const uint8_t* p, size_t offset) {
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

template <class T>
void WriteAt(QByteArray& bytes, size_t offset, T v) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);
}

// A bitmap file of a packed DIB: the 14-byte file header, then the block's bytes. Empty
// when the block does not hold a DIB header.
QByteArray BitmapFile(const uint8_t* dib, size_t size) {
    if (size < 40) return {};
    const uint32_t headerSize = ReadAt<uint32_t>(dib, 0);
    const uint16_t bitCount = ReadAt<uint16_t>(dib, 14);
    uint32_t colors = ReadAt<uint32_t>(dib, 32);
    if (colors == 0 && bitCount <= 8) colors = 1u << bitCount;
    const uint64_t offBits = 14 + uint64_t(headerSize) + 4 * uint64_t(colors);
    if (headerSize < 40 || offBits > 14 + uint64_t(size) || 14 + uint64_t(size) > 0x7FFFFFFF) return {};
    QByteArray file(static_cast<qsizetype>(14 + size), '\0');
    WriteAt<uint16_t>(file, 0, 0x4D42);
    WriteAt<uint32_t>(file, 2, static_cast<uint32_t>(14 + size));
    WriteAt<uint32_t>(file, 10, static_cast<uint32_t>(offBits));
    std::memcpy(file.data() + 14, dib, size);
    return file;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TQtClipboard

QString TQtClipboard::DIBMimeType() { return QStringLiteral("application/x-qt-windows-mime;value=\"DeviceIndependentBitmap\""); }

TQtClipboard::TQtClipboard() { SetClipboardBackEnd(this); }

TQtClipboard::~TQtClipboard() {
    if (ClipboardBackEnd() == this) SetClipboardBackEnd(nullptr);
}

bool TQtClipboard::Open() {
    if (open_ || !QGuiApplication::clipboard()) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return false;
    }
    open_ = true;
    return true;
}

bool TQtClipboard::Close() {
    if (!open_) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return false;
    }
    open_ = false;
    return true;
}

bool TQtClipboard::Empty() {
    if (!open_) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return false;
    }
    QGuiApplication::clipboard()->clear();
    return true;
}

// SetData(CF_DIB, Block)
// The block's bytes are copied into the clipboard's data and the block is freed: from the
// caller's side the clipboard has taken it. Other formats are refused.
bool TQtClipboard::SetData(uint32_t format, HGLOBAL block) {
    if (!open_) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return false;
    }
    if (format != CF_DIB) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const size_t size = GlobalSize(block);
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    if (!bytes) return false;
    const QByteArray dib(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    const QByteArray file = BitmapFile(bytes, size);
    GlobalUnlock(block);
    if (file.isEmpty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    auto* data = new QMimeData;
    data->setData(DIBMimeType(), dib);
    data->setData(QStringLiteral("image/bmp"), file);
    const QImage image = QImage::fromData(file, "BMP");
    if (!image.isNull()) data->setImageData(image);
    QGuiApplication::clipboard()->setMimeData(data);
    GlobalFree(block);
    return true;
}

// ---------------------------------------------------------------------------------------------
// TQtPrinter

TQtPrinter::TQtPrinter(QPrinter& printer) : printer_(printer) { SetPrinter(this); }

TQtPrinter::~TQtPrinter() {
    if (painter_.isActive()) painter_.end();
    try {
        if (Printer() == this) SetPrinter(nullptr);
    } catch (const Exception&) {
    }
}

void TQtPrinter::BeginDoc() {
    if (painter_.isActive()) throw Exception("Printing in progress");
    printer_.setDocName(QString::fromStdString(Title));
    if (!painter_.begin(&printer_)) throw Exception("Printer selected is not valid");
}

void TQtPrinter::EndDoc() {
    if (!painter_.isActive()) throw Exception("Printing not in progress");
    painter_.end();
}

bool TQtPrinter::Printing() const { return painter_.isActive(); }

int32_t TQtPrinter::GetDeviceCaps(int32_t index) const {
    const QRect page = printer_.pageRect(QPrinter::DevicePixel).toRect();
    switch (index) {
        case LOGPIXELSX: return printer_.logicalDpiX();
        case LOGPIXELSY: return printer_.logicalDpiY();
        case HORZRES: return printer_.width();
        case VERTRES: return printer_.height();
        case PHYSICALOFFSETX: return page.left();
        case PHYSICALOFFSETY: return page.top();
        default: return 0;
    }
}

// DrawOnPage(Area, Draw)
// The area, moved by the viewport origin, is clipped to the paper (which starts at minus the
// physical offsets) and drawn in bands of about four million dots, so a page at a high
// resolution never needs a page-sized surface.
void TQtPrinter::DrawOnPage(const TRect& area, const std::function<void(TRasterDevice*)>& draw) {
    if (!painter_.isActive()) throw Exception("Printing not in progress");
    const QRect page = printer_.pageRect(QPrinter::DevicePixel).toRect();
    const QRect paper = printer_.paperRect(QPrinter::DevicePixel).toRect().translated(-page.topLeft());
    const QRect target = QRect(QPoint(area.Left, area.Top), QPoint(area.Right - 1, area.Bottom - 1))
                             .translated(ViewportOrigin.X, ViewportOrigin.Y)
                             .intersected(paper);
    if (target.isEmpty()) return;
    const int bandRows = std::max(1, 4 * 1024 * 1024 / target.width());
    for (int top = target.top(); top <= target.bottom(); top += bandRows) {
        const int rows = std::min(bandRows, target.bottom() + 1 - top);
        TRasterDevice band(target.width(), rows);
        band.ViewportOrigin = TPoint{ViewportOrigin.X - target.left(), ViewportOrigin.Y - top};
        draw(&band);
        painter_.drawImage(QPoint(target.left(), top), SurfaceImage(band));
    }
}

}  // namespace qil
