#include "annotations/qt/marks.h"

#include <QBuffer>
#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/control_resizer.h"
#include "platform/exceptions.h"
#include "dib/dib.h"
#include "platform/numeric.h"
#include "platform/raster.h"
#include "platform/streams.h"

namespace qil {

namespace {

int32_t SaturateInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Round (ties to even) into the 32-bit range.
int32_t RoundInt32(long double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0L) return INT32_MAX;
    if (v <= -2147483648.0L) return INT32_MIN;
    return static_cast<int32_t>(Round(v));
}

int32_t TruncInt32(long double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0L) return INT32_MAX;
    if (v <= -2147483648.0L) return INT32_MIN;
    return static_cast<int32_t>(Trunc(v));
}

QRgb KeyRgb(uint32_t color) { return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

// Bitmaps beyond this many pixels are not made (the paint that wants one fails and the mark
// stays undrawn): the bounds of a mark come from the file.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

void DrawText(TBitmap& bitmap, const TFont& font, int32_t size, const QRect& r, const QString& text) {
    if (bitmap.Image.isNull()) return;
    QPainter p(&bitmap.Image);
    p.setFont(font.ToQFont(size));
    p.setPen(ColorToQColor(font.Color));
    p.setBrush(Qt::NoBrush);
    p.drawText(r, kTextFlags, text);
}

}  // namespace

// ---- TFont ----

QFont TFont::ToQFont() const { return ToQFont(Size); }

QFont TFont::ToQFont(int32_t size) const {
    QFont f(Name);
    int64_t points = std::llabs(int64_t{size});
    // Points at 96 pixels per inch, rounded as the platform's MulDiv does.
    int64_t pixels = (points * 96 + 36) / 72;
    f.setPixelSize(static_cast<int>(std::clamp<int64_t>(pixels, 1, 100000)));
    f.setBold(Bold);
    f.setItalic(Italic);
    f.setUnderline(Underline);
    f.setStrikeOut(StrikeOut);
    return f;
}

void TFont::Assign(const QFont& font) {
    Name = font.family();
    if (font.pointSizeF() > 0)
        Size = RoundInt32(font.pointSizeF());
    else
        Size = RoundInt32(static_cast<long double>(font.pixelSize()) * 72 / 96);
    Bold = font.weight() >= QFont::Bold;
    Italic = font.italic();
    Underline = font.underline();
    StrikeOut = font.strikeOut();
}

TFont LogFontToFont(const TLogFontA& logFont) {
    TFont f;
    f.Name = QString::fromLatin1(logFont.lfFaceName, static_cast<qsizetype>(strnlen(logFont.lfFaceName, 32)));
    f.Size = logFont.lfHeight;
    f.Italic = logFont.lfItalic != 0;
    f.Underline = logFont.lfUnderline != 0;
    f.StrikeOut = logFont.lfStrikeOut != 0;
    f.Bold = logFont.lfWeight >= 700;
    return f;
}

// ---- TBitmap ----

TBitmap::TBitmap(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (int64_t{width} * height > kMaxBitmapPixels) throw Exception("Out of system resources");
    if (width > 0 && height > 0) {
        Image = QImage(width, height, QImage::Format_RGB32);
        if (Image.isNull()) throw Exception("Out of system resources");
        Image.fill(KeyRgb(clWhite));
    }
}

void TBitmap::FillRect(const TRect& r, uint32_t color) {
    int left = std::max(r.Left, 0), top = std::max(r.Top, 0);
    int right = std::min(r.Right, Width()), bottom = std::min(r.Bottom, Height());
    if (right <= left || bottom <= top) return;
    QRgb c = KeyRgb(color);
    for (int y = top; y < bottom; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(Image.scanLine(y));
        std::fill(line + left, line + right, c);
    }
}

QImage TBitmap::Masked() const {
    QImage out = Image.convertToFormat(QImage::Format_ARGB32);
    QRgb key = KeyRgb(TransparentColor) & 0x00FFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) line[x] = (line[x] & 0x00FFFFFF) == key ? 0 : (line[x] | 0xFF000000);
    }
    return out;
}

void TBitmap::Draw(QPainter& canvas, int x, int y, uint32_t copyMode) const {
    if (Image.isNull()) return;
    QPainter::CompositionMode old = canvas.compositionMode();
    if (Transparent) {
        canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
        canvas.drawImage(x, y, Masked());
    } else {
        canvas.setCompositionMode(copyMode == cmSrcAnd ? QPainter::RasterOp_SourceAndDestination
                                                        : QPainter::CompositionMode_Source);
        canvas.drawImage(x, y, Image);
    }
    canvas.setCompositionMode(old);
}

// ---- Pictures ----

void DIBToGraphic(HGLOBAL block, QImage& graphic) {
    if (!block) return;
    size_t size = GlobalSize(block);
    const void* bytes = GlobalLock(block);
    if (!bytes) RaiseLastOSError();
    QByteArray file;
    file.reserve(static_cast<qsizetype>(size + 14));
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = static_cast<uint32_t>(size + 14);
    file.append(reinterpret_cast<const char*>(&fh), sizeof fh);
    file.append(static_cast<const char*>(bytes), static_cast<qsizetype>(size));
    GlobalUnlock(block);
    graphic = QImage();
    graphic.loadFromData(file, "BMP");
}

HGLOBAL GraphicToDIB(const QImage& graphic) {
    if (graphic.isNull()) return 0;
    // A picture with an alpha channel is saved without it: a plain 24-bit bitmap.
    QImage image = graphic.hasAlphaChannel() ? graphic.convertToFormat(QImage::Format_RGB32) : graphic;
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP") || file.size() <= 14) return 0;
    size_t size = static_cast<size_t>(file.size() - 14);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) RaiseLastOSError();
    void* p = GlobalLock(block);
    if (!p) {
        GlobalFree(block);
        RaiseLastOSError();
    }
    std::memcpy(p, file.constData() + 14, size);
    GlobalUnlock(block);
    return block;
}

void LoadBitmapFromFile(const std::string& fileName, QImage& graphic) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    int64_t size = stream.Size();
    QByteArray bytes;
    if (size > 0 && size < (int64_t{1} << 31)) {
        bytes.resize(static_cast<qsizetype>(size));
        stream.ReadBuffer(bytes.data(), size);
    }
    QImage image;
    if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M' || !image.loadFromData(bytes, "BMP"))
        throw Exception("Bitmap image is not valid");
    graphic = image;
}

// ---- TGenericMark ----

TGenericMark::TGenericMark(QObject* owner) : TGraphicControl(nullptr) {
    editor_ = qobject_cast<TAnnotationsEditor*>(owner);
    if (!editor_) throw Exception("Invalid Parent for Mark");
    OnClick = [this](QObject*) {
        if (editor_ && editor_->OnMarkClick) editor_->OnMarkClick(this);
    };
    OnDblClick = [this](QObject*) {
        if (editor_ && editor_->OnMarkDblClick) editor_->OnMarkDblClick(this);
    };
    OnMouseDown = [this](QObject*, Qt::MouseButton button, TShiftState shift, int x, int y) {
        if (editor_ && editor_->OnMarkMouseDown) editor_->OnMarkMouseDown(this, button, shift, x, y);
    };
    OnMouseMove = [this](QObject*, TShiftState shift, int x, int y) {
        if (editor_ && editor_->OnMarkMouseMove) editor_->OnMarkMouseMove(this, shift, x, y);
    };
    OnMouseUp = [this](QObject*, Qt::MouseButton button, TShiftState shift, int x, int y) {
        if (editor_ && editor_->OnMarkMouseUp) editor_->OnMarkMouseUp(this, button, shift, x, y);
    };
    SetPopupMenu(editor_->PopupMenu());
    Resolution_ = editor_->Resolution();
}

TAnnotationsEditor* TGenericMark::Editor() const { return editor_; }

TGenericMark::~TGenericMark() {
    delete Resizer_.data();
    if (editor_) editor_->MarkDestroyed(this);
}

void TGenericMark::SetImageRect(const TRect& rect) {
    ImageRect_ = TRect{std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom), std::max(rect.Left, rect.Right),
                       std::max(rect.Top, rect.Bottom)};
    UpdateBounds();
}

std::unique_ptr<TBitmap> TGenericMark::NewBitmap() const {
    long double w = (static_cast<long double>(int64_t{ImageRect_.Right} - ImageRect_.Left) + 1) * ZoomFactor_ / 100;
    long double h = (static_cast<long double>(int64_t{ImageRect_.Bottom} - ImageRect_.Top) + 1) * ZoomFactor_ / 100;
    auto b = std::make_unique<TBitmap>(TruncInt32(std::fabs(w)), TruncInt32(std::fabs(h)));
    b->Monochrome = false;
    return b;
}

std::unique_ptr<TBitmap> TGenericMark::RenderUnscaled() {
    int64_t w = std::llabs(int64_t{ImageRect_.Right} - ImageRect_.Left) + 1;
    int64_t h = std::llabs(int64_t{ImageRect_.Bottom} - ImageRect_.Top) + 1;
    auto b = std::make_unique<TBitmap>(SaturateInt32(w), SaturateInt32(h));
    throw Exception("Non dovrebbe passare di qua...");
}

std::unique_ptr<TBitmap> TGenericMark::Render() { return NewBitmap(); }

void TGenericMark::RotatePoints(int32_t) {}

void TGenericMark::PaintTo(QPainter&, int, int) {}

void TGenericMark::paintEvent(QPaintEvent*) {
    try {
        QPainter p(this);
        PaintTo(p, 0, 0);
    } catch (...) {
        // A mark that cannot be drawn stays undrawn.
    }
}

void TGenericMark::SetResolution(int32_t dpi) {
    if (dpi == Resolution_) return;
    Resolution_ = dpi;
    Invalidate();
}

void TGenericMark::SetZoom(double percent) {
    ZoomFactor_ = percent;
    UpdateBounds();
    Invalidate();
}

void TGenericMark::SetColor(uint32_t color) {
    if (color == Color_) return;
    Color_ = color;
    Invalidate();
}

void TGenericMark::UpdateBounds() {
    long double z = ZoomFactor_;
    TRect r{RoundInt32(ImageRect_.Left * z / 100), RoundInt32(ImageRect_.Top * z / 100), RoundInt32(ImageRect_.Right * z / 100),
            RoundInt32(ImageRect_.Bottom * z / 100)};
    SetBoundsRect(r);
    if (Selected_ && Resizer_) Resizer_->SetBoundsRect(BoundsRect());
}

void TGenericMark::SetSelected(bool value) {
    if (value == Selected_) return;
    Selected_ = value;
    if (value) {
        if (!Resizer_) {
            Resizer_ = new TControlResizer(this);
            Resizer_->SetTargetControl(this);
            auto changed = [this](QObject* sender, TRect oldBounds, TRect newBounds) {
                ResizerChanged(sender, oldBounds, newBounds);
            };
            Resizer_->OnMoved = changed;
            Resizer_->OnResized = changed;
            // The resizer lies over the mark: a double click on a selected mark is the mark's.
            Resizer_->OnDblClick = [this](QObject*) { DblClick(); };
            Resizer_->SetMovable(true);
            Resizer_->SetResizable(true);
            Resizer_->SetBoundsRect(BoundsRect());
            Resizer_->SetBoxColor(clBlue);
            Resizer_->SetPopupMenu(PopupMenu());
        }
        Resizer_->SetBoundsRect(BoundsRect());
    }
    if (Resizer_) {
        Resizer_->SetVisible(Selected_);
        bool editable = !(editor_ && editor_->ReadOnly());
        Resizer_->SetMovable(editable);
        Resizer_->SetResizable(editable);
    }
}

void TGenericMark::ResizerChanged(QObject*, TRect, TRect newBounds) {
    Modified_ = true;
    long double z = ZoomFactor_;
    if (!(z > 0)) return;  // no image rectangle answers a zero zoom
    TRect r{RoundInt32(newBounds.Left / z * 100), RoundInt32(newBounds.Top / z * 100), RoundInt32(newBounds.Right / z * 100),
            RoundInt32(newBounds.Bottom / z * 100)};
    SetImageRect(r);
}

// ---- TStickNoteMark ----

TStickNoteMark::TStickNoteMark(QObject* owner) : TGenericMark(owner) {
    setObjectName(QStringLiteral("StickNoteMark"));
    Color_ = clYellow;
}

void TStickNoteMark::SetText(const QString& text) {
    if (text == Text_) return;
    Text_ = text;
    Invalidate();
}

void TStickNoteMark::SetFont(const TFont& font) {
    if (font == Font_) return;
    Font_ = font;
    Invalidate();
}

int32_t TStickNoteMark::RenderFontSize() const {
    int64_t product = int64_t{Font_.Size} * Resolution_;
    return RoundInt32(static_cast<long double>(product) / 72 * ZoomFactor_ / 100);
}

std::unique_ptr<TBitmap> TStickNoteMark::Render() {
    auto b = NewBitmap();
    int W = b->Width(), H = b->Height();
    uint32_t key = KeyColor();
    b->FillRect(TRect{0, 0, W - 1, H - 1}, key);
    b->Transparent = true;
    b->TransparentColor = key;
    int d = RoundInt32(W * 0.025L);
    b->FillRect(TRect{d, d, W - 1, H - 1}, clBlack);
    b->FillRect(TRect{0, 0, W - d, H - d}, Color_);
    DrawText(*b, Font_, RenderFontSize(), QRect(0, 0, W - d, H - d), Text_);
    return b;
}

void TStickNoteMark::PaintTo(QPainter& canvas, int x, int y) { Render()->Draw(canvas, x, y, cmSrcCopy); }

// ---- TRectangleMark ----

TRectangleMark::TRectangleMark(QObject* owner) : TGenericMark(owner) {
    setObjectName(QStringLiteral("RectangleMark"));
    Color_ = clLime;
}

void TRectangleMark::SetPenWidth(int32_t width) {
    if (width == PenWidth_) return;
    PenWidth_ = width;
    Invalidate();
}

void TRectangleMark::SetHighlight(bool value) {
    if (value == Highlight_) return;
    Highlight_ = value;
    Invalidate();
}

void TRectangleMark::SetFilled(bool value) {
    if (value == Filled_) return;
    Filled_ = value;
    Invalidate();
}

std::unique_ptr<TBitmap> TRectangleMark::Render() {
    auto b = NewBitmap();
    int W = b->Width(), H = b->Height();
    if (Filled_) {
        b->FillRect(TRect{0, 0, W, H}, Color_);
        return b;
    }
    uint32_t key = Color_ == clWhite ? clBlack : clWhite;
    b->FillRect(TRect{0, 0, W, H}, key);
    b->Transparent = true;
    b->TransparentColor = key;
    if (b->Image.isNull()) return b;
    QPainter p(&b->Image);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ColorToQColor(Color_), std::max(PenWidth_, 0), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(QRect(0, 0, W - 1, H - 1));
    return b;
}

void TRectangleMark::PaintTo(QPainter& canvas, int x, int y) {
    Render()->Draw(canvas, x, y, Highlight_ ? cmSrcAnd : cmSrcCopy);
}

// ---- TTextMark ----

TTextMark::TTextMark(QObject* owner) : TGenericMark(owner) {
    setObjectName(QStringLiteral("TextMark"));
    Color_ = clYellow;
}

void TTextMark::SetText(const QString& text) {
    if (text == Text_) return;
    Text_ = text;
    Invalidate();
}

void TTextMark::SetFont(const TFont& font) {
    if (font == Font_) return;
    Font_ = font;
    Invalidate();
}

int32_t TTextMark::RenderFontSize() const {
    int64_t perInch = Round(static_cast<long double>(Resolution_) / 96);
    return RoundInt32(static_cast<long double>(Font_.Size) * perInch * ZoomFactor_ / 100);
}

std::unique_ptr<TBitmap> TTextMark::Render() {
    auto b = NewBitmap();
    int W = b->Width(), H = b->Height();
    b->FillRect(TRect{0, 0, W, H}, Font_.Color == clWhite ? clBlack : clWhite);
    DrawText(*b, Font_, RenderFontSize(), QRect(0, 0, W, H), Text_);
    b->Transparent = true;
    b->TransparentColor = Color_;
    return b;
}

void TTextMark::PaintTo(QPainter& canvas, int x, int y) { Render()->Draw(canvas, x, y, cmSrcCopy); }

// ---- TLineMark ----

TLineMark::TLineMark(QObject* owner) : TGenericMark(owner) {
    setObjectName(QStringLiteral("LineMark"));
    Color_ = clRed;
}

void TLineMark::SetImageRect(const TRect& rect) {
    int64_t oldWidth = int64_t{ImageRect_.Right} - ImageRect_.Left;
    int64_t oldHeight = int64_t{ImageRect_.Bottom} - ImageRect_.Top;
    if (oldWidth > 0 && oldHeight > 0) {
        double fx = static_cast<double>(int64_t{rect.Right} - rect.Left) / static_cast<double>(oldWidth);
        double fy = static_cast<double>(int64_t{rect.Bottom} - rect.Top) / static_cast<double>(oldHeight);
        for (TPoint& p : Points_) {
            p.X = RoundInt32(static_cast<long double>(p.X) * fx);
            p.Y = RoundInt32(static_cast<long double>(p.Y) * fy);
        }
    }
    TGenericMark::SetImageRect(rect);
}

void TLineMark::RotatePoints(int32_t angle) {
    int32_t w = SaturateInt32(int64_t{ImageRect_.Right} - ImageRect_.Left + 1);
    int32_t h = SaturateInt32(int64_t{ImageRect_.Bottom} - ImageRect_.Top + 1);
    for (TPoint& p : Points_) {
        TPoint q = p;
        switch (angle) {
            case 90: q = TPoint{SaturateInt32(int64_t{h} - p.Y - 1), p.X}; break;
            case 180: q = TPoint{SaturateInt32(int64_t{w} - p.X - 1), SaturateInt32(int64_t{h} - p.Y - 1)}; break;
            case 270: q = TPoint{p.Y, SaturateInt32(int64_t{w} - p.X - 1)}; break;
            default: break;
        }
        p = q;
    }
    Invalidate();
}

void TLineMark::SetPenWidth(int32_t width) {
    if (width == PenWidth_) return;
    PenWidth_ = width;
    Invalidate();
}

int32_t TLineMark::RenderPenWidth() const {
    int32_t w = RoundInt32(static_cast<long double>(PenWidth_) * ZoomFactor_ / 100);
    return w == 0 ? 1 : w;
}

void TLineMark::AddPoint(const TPoint& point) {
    Points_.push_back(point);
    Invalidate();
}

void TLineMark::ClearPoints() {
    Points_.clear();
    Invalidate();
}

TPoint TLineMark::PointAt(int32_t index) const {
    if (index < 0 || index >= PointCount()) throw EListError(Format("List index out of bounds (%d)", index));
    return Points_[static_cast<size_t>(index)];
}

std::unique_ptr<TBitmap> TLineMark::Render() {
    auto b = NewBitmap();
    int W = b->Width(), H = b->Height();
    uint32_t key = Color_ == clWhite ? clBlack : clWhite;
    b->FillRect(TRect{0, 0, W, H}, key);
    b->Transparent = true;
    b->TransparentColor = key;
    if (b->Image.isNull() || Points_.size() < 2) return b;
    QPainter p(&b->Image);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ColorToQColor(Color_), std::max(RenderPenWidth(), 1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    long double z = ZoomFactor_;
    QPolygon poly;
    for (const TPoint& pt : Points_) poly << QPoint(RoundInt32(pt.X * z / 100), RoundInt32(pt.Y * z / 100));
    p.drawPolyline(poly);
    return b;
}

void TLineMark::PaintTo(QPainter& canvas, int x, int y) { Render()->Draw(canvas, x, y, cmSrcCopy); }

// ---- TImageMark ----

TImageMark::TImageMark(QObject* owner) : TGenericMark(owner) {
    setObjectName(QStringLiteral("ImageMark"));
    Color_ = clBlack;
}

TImageMark::~TImageMark() {
    if (DIB_) GlobalFree(DIB_);
}

void TImageMark::SetDIB(HGLOBAL block) {
    if (block == DIB_) return;
    if (DIB_) GlobalFree(DIB_);
    DIB_ = block;
    Invalidate();
}

std::unique_ptr<TBitmap> TImageMark::Render() {
    auto b = NewBitmap();
    int W = b->Width(), H = b->Height();
    if (!DIB_) {
        b->FillRect(TRect{0, 0, W - 1, H - 1}, Color_);
        return b;
    }
    if (b->Image.isNull() || W <= 1 || H <= 1) return b;
    // A block in the engine's own layout is stretched by the engine, as a fresh device context
    // does it: black on white for a bilevel picture, color on color otherwise. Any other
    // picture (a top-down or compressed one, a longer header) goes through the bitmap reader
    // and is stretched to the nearest pixel.
    TDIB view;
    view.OwnsHandle = false;
    bool engine = true;
    try {
        view.SetHandle(DIB_);
    } catch (const Exception&) {
        engine = false;
    }
    if (engine) {
        TRasterDevice device(W - 1, H - 1);
        view.Draw(&device, 0, 0, W - 1, H - 1, view.BitCount() == 1 ? 1 : 0);
        for (int y = 0; y < H - 1; ++y) {
            const uint32_t* from = device.ScanLine(y);
            QRgb* to = reinterpret_cast<QRgb*>(b->Image.scanLine(y));
            for (int x = 0; x < W - 1; ++x) to[x] = from[x] | 0xFF000000;
        }
        return b;
    }
    QImage picture;
    DIBToGraphic(DIB_, picture);
    if (!picture.isNull()) {
        QPainter p(&b->Image);
        p.drawImage(QRect(0, 0, W - 1, H - 1), picture);
    }
    return b;
}

void TImageMark::PaintTo(QPainter& canvas, int x, int y) { Render()->Draw(canvas, x, y, cmSrcCopy); }

}  // namespace qil
