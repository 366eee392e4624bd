// The window system's back ends of the platform clipboard and printer, with Qt.
//
// TQtClipboard puts a packed device-independent bitmap on the application's clipboard as a
// BMP image ("image/bmp"), as the raw packed DIB under the Windows DIB format name, and as
// image data that other programs paste in their own format. TQtPrinter prints through a
// QPrinter: its resolution, printable size and physical offsets are the device capabilities,
// and drawing goes through raster devices blitted onto the page in bands.
//
// Each installs itself as the platform's back end while it lives.
#pragma once

#include <QPainter>
#include <QString>
#include <QtGlobal>

#include "platform/clipboard.h"
#include "platform/printer.h"

class QPrinter;

namespace qil {

class TQtClipboard : public TClipboardBackEnd {
public:
    // The MIME type under which the raw packed DIB is offered.
    static QString DIBMimeType();

    TQtClipboard();
    ~TQtClipboard() override;
    TQtClipboard(const TQtClipboard&) = delete;
    TQtClipboard& operator=(const TQtClipboard&) = delete;

    bool Open() override;
    bool Close() override;
    bool Empty() override;
    bool SetData(uint32_t format, HGLOBAL block) override;

private:
    bool open_ = false;
};

class TQtPrinter : public TPrinter {
public:
    explicit TQtPrinter(QPrinter& printer);
    ~TQtPrinter() override;
    TQtPrinter(const TQtPrinter&) = delete;
    TQtPrinter& operator=(const TQtPrinter&) = delete;

    void BeginDoc() override;
    void EndDoc() override;
    bool Printing() const override;
    int32_t GetDeviceCaps(int32_t index) const override;
    void DrawOnPage(const TRect& area, const std::function<void(TRasterDevice*)>& draw) override;

private:
    QPrinter& printer_;
    QPainter painter_;
};

}  // namespace qil
