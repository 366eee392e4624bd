// The on-screen marks of annotations: one lightweight child control of the viewer's display
// surface per annotation, each drawing itself scaled to the zoom.
//
// A mark's ImageRect is in image pixels of the displayed page (normalised, Right and Bottom
// the last column and row covered); its bounds on the surface are each coordinate of
// ImageRect x ZoomFactor / 100, rounded with ties to even. Colors are platform color values
// 0x00BBGGRR. Every paint renders the mark afresh into a bitmap of its screen size (Render)
// and draws that bitmap at the mark's top-left corner (PaintTo); nothing is cached.
//
// Marks are created by a TAnnotationsEditor (annotations_editor.h), which owns them, hands
// them its zoom, resolution and visibility, and raises their mouse events as its own.
#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "annotations/annotations.h"
#include "annotations/qt/control_resizer.h"
#include "annotations/qt/graphic_control.h"
#include "platform/memory.h"
#include "platform/rect.h"

class QPainter;
class QFont;

namespace qil {

class TAnnotationsEditor;

// Platform color values.
constexpr uint32_t clBlack = 0x000000;
constexpr uint32_t clWhite = 0xFFFFFF;
constexpr uint32_t clGray = 0x808080;
constexpr uint32_t clYellow = 0x00FFFF;
constexpr uint32_t clLime = 0x00FF00;
constexpr uint32_t clRed = 0x0000FF;
constexpr uint32_t clBlue = 0xFF0000;

// Raster operations of PaintTo.
constexpr uint32_t cmSrcCopy = 0x00CC0020;  // SRCCOPY
constexpr uint32_t cmSrcAnd = 0x008800C6;   // SRCAND

// A font description: face name, size in points (at 96 pixels per inch), color and style.
struct TFont {
    QString Name = QStringLiteral("Arial");
    int32_t Size = 12;
    uint32_t Color = clBlack;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    friend bool operator==(const TFont&, const TFont&) = default;

    // A Qt font of this face and style with Size points (the magnitude of Size; at least one
    // pixel), at 96 pixels per inch whatever the screen.
    QFont ToQFont() const;
    QFont ToQFont(int32_t size) const;
    // Name, size (rounded to whole points) and style of a Qt font; Color is kept.
    void Assign(const QFont& font);
};

// The font of a stored logical font record: face name up to its NUL (at most 32 characters),
// size := the height value as it is, italic / underline / strike-out when their byte is not
// zero, bold when the weight is 700 or more. Color is black.
TFont LogFontToFont(const TLogFontA& logFont);

// A bitmap rendered by a mark: W x H pixels (RGB32, white when created), optionally with a
// transparent key color whose pixels are not drawn.
struct TBitmap {
    TBitmap(int width, int height);
    int Width() const { return Image.width(); }
    int Height() const { return Image.height(); }
    // Fills the rectangle (exclusive right and bottom edges: the right column and bottom row of
    // Left..Right, Top..Bottom are left out) with the color.
    void FillRect(const TRect& r, uint32_t color);
    // Draws the bitmap with its top-left corner at (X, Y): through its key when Transparent
    // (key pixels left out, the others copied), else with the raster operation (cmSrcCopy or
    // cmSrcAnd).
    void Draw(QPainter& canvas, int x, int y, uint32_t copyMode = cmSrcCopy) const;
    // The picture as drawn over nothing: key pixels have alpha 0 (the mask), others alpha 255.
    QImage Masked() const;

    QImage Image;
    bool Monochrome = false;
    bool Transparent = false;
    uint32_t TransparentColor = clWhite;
};

// A picture block (packed device-independent bitmap: info header, color table, rows) as a Qt
// image: a 14-byte bitmap file header (type "BM", file size = block size + 14, reserved and
// bits offset 0) followed by the block's bytes is read by the bitmap reader, which takes the
// rows from after the color table. Nothing happens when Block is 0; a block that is not a
// readable picture leaves Graphic null.
void DIBToGraphic(HGLOBAL block, QImage& graphic);
// The picture saved as a bitmap file, without its 14-byte file header, in a new movable,
// zero-initialised memory block owned by the caller; 0 for an empty picture.
HGLOBAL GraphicToDIB(const QImage& graphic);
// Loads a bitmap file into Graphic: EFOpenError "Cannot open file "<name>". <reason>" when it
// cannot be opened, Exception "Bitmap image is not valid" when it is not a bitmap.
void LoadBitmapFromFile(const std::string& fileName, QImage& graphic);

// Base of the marks. The owner must be a TAnnotationsEditor ("Invalid Parent for Mark"
// otherwise); the mark's click, double-click and mouse events are raised as the editor's
// OnMarkClick ... OnMarkMouseUp with the mark as Sender.
class TGenericMark : public TGraphicControl {
    Q_OBJECT
public:
    explicit TGenericMark(QObject* owner);
    ~TGenericMark() override;

    TAnnotationsEditor* Editor() const;

    // ---- Virtual operations ----
    // Stores the normalised rectangle (Left <= Right, Top <= Bottom) and updates the bounds.
    virtual void SetImageRect(const TRect& rect);
    // Creates a bitmap of the image-pixel size and fails with "Non dovrebbe passare di qua...".
    virtual std::unique_ptr<TBitmap> RenderUnscaled();
    // A new bitmap of Trunc((|Right - Left| + 1) x ZoomFactor / 100) x Trunc((|Bottom - Top| +
    // 1) x ZoomFactor / 100) pixels; the base class draws nothing into it.
    virtual std::unique_ptr<TBitmap> Render();
    // Nothing in the base class; see TLineMark.
    virtual void RotatePoints(int32_t angle);
    // Draws Render() with its top-left corner at (X, Y); nothing in the base class.
    virtual void PaintTo(QPainter& canvas, int x, int y);

    // ---- Properties ----
    int32_t Resolution() const { return Resolution_; }
    void SetResolution(int32_t dpi);
    const TRect& ImageRect() const { return ImageRect_; }
    double ZoomFactor() const { return ZoomFactor_; }
    void SetZoom(double percent);
    TControlResizer* Resizer() const { return Resizer_; }
    bool Selected() const { return Selected_; }
    void SetSelected(bool value);
    bool Modified() const { return Modified_; }
    void SetModified(bool value) { Modified_ = value; }
    uint32_t Color() const { return Color_; }
    void SetColor(uint32_t color);

    // Screen bounds from ImageRect and ZoomFactor; the resizer follows a selected mark.
    void UpdateBounds();
    // The resizer's OnMoved / OnResized: the new bounds back to image pixels.
    void ResizerChanged(QObject* sender, TRect oldBounds, TRect newBounds);

protected:
    // Base bitmap of Render.
    std::unique_ptr<TBitmap> NewBitmap() const;
    void paintEvent(QPaintEvent* event) override;

    int32_t Resolution_ = 0;
    TRect ImageRect_{};
    double ZoomFactor_ = 0;
    QPointer<TControlResizer> Resizer_;
    bool Selected_ = false;
    bool Modified_ = false;
    uint32_t Color_ = clBlack;

private:
    QPointer<TAnnotationsEditor> editor_;
};

// A sticky note: a body of Color with a black shadow, and Text in Font.
class TStickNoteMark : public TGenericMark {
    Q_OBJECT
public:
    // Text "Nota", font Arial 12, Color yellow.
    explicit TStickNoteMark(QObject* owner);

    std::unique_ptr<TBitmap> Render() override;
    void PaintTo(QPainter& canvas, int x, int y) override;

    const QString& Text() const { return Text_; }
    void SetText(const QString& text);
    const TFont& Font() const { return Font_; }
    void SetFont(const TFont& font);

    // Key color of the rendered bitmap: white for a gray note, else gray.
    uint32_t KeyColor() const { return Color_ == clGray ? clWhite : clGray; }
    // Point size of the rendered text: Round(Font size x Resolution / 72 x ZoomFactor / 100).
    int32_t RenderFontSize() const;

protected:
    QString Text_ = QStringLiteral("Nota");
    TFont Font_;
};

// A rectangle: filled with Color (drawn with AND when Highlight) or hollow, outlined in
// Color with PenWidth.
class TRectangleMark : public TGenericMark {
    Q_OBJECT
public:
    // PenWidth 4, Highlight and Filled true, Color lime.
    explicit TRectangleMark(QObject* owner);

    std::unique_ptr<TBitmap> Render() override;
    void PaintTo(QPainter& canvas, int x, int y) override;

    int32_t PenWidth() const { return PenWidth_; }
    void SetPenWidth(int32_t width);
    bool Highlight() const { return Highlight_; }
    void SetHighlight(bool value);
    bool Filled() const { return Filled_; }
    void SetFilled(bool value);

protected:
    int32_t PenWidth_ = 4;
    bool Highlight_ = true;
    bool Filled_ = true;
};

// Text in Font on a white (or, for white text, black) background; Color is the transparent
// key of the rendered bitmap.
class TTextMark : public TGenericMark {
    Q_OBJECT
public:
    // Text "Testo", font Arial 12 black, Color yellow.
    explicit TTextMark(QObject* owner);

    std::unique_ptr<TBitmap> Render() override;
    void PaintTo(QPainter& canvas, int x, int y) override;

    const QString& Text() const { return Text_; }
    void SetText(const QString& text);
    const TFont& Font() const { return Font_; }
    void SetFont(const TFont& font);

    // Point size of the rendered text: Round(Font size x Round(Resolution / 96) x ZoomFactor /
    // 100).
    int32_t RenderFontSize() const;

protected:
    QString Text_ = QStringLiteral("Testo");
    TFont Font_;
};

// A polyline through Points (image pixels relative to the top-left corner of ImageRect) in
// Color with PenWidth scaled by the zoom (at least 1 pixel).
class TLineMark : public TGenericMark {
    Q_OBJECT
public:
    // PenWidth 4, Color red, no points.
    explicit TLineMark(QObject* owner);

    // Scales the points to the new rectangle when the current one has a positive width and
    // height, then stores the rectangle.
    void SetImageRect(const TRect& rect) override;
    std::unique_ptr<TBitmap> Render() override;
    // 90, 180 or 270 degrees within ImageRect (which is not changed); other angles do nothing.
    void RotatePoints(int32_t angle) override;
    void PaintTo(QPainter& canvas, int x, int y) override;

    int32_t PenWidth() const { return PenWidth_; }
    void SetPenWidth(int32_t width);
    // Screen pen width: Round(PenWidth x ZoomFactor / 100), 1 when that gives 0.
    int32_t RenderPenWidth() const;

    void AddPoint(const TPoint& point);
    void ClearPoints();
    int32_t PointCount() const { return static_cast<int32_t>(Points_.size()); }
    // EListError "List index out of bounds (%d)" outside the list.
    TPoint PointAt(int32_t index) const;
    const std::vector<TPoint>& Points() const { return Points_; }

protected:
    int32_t PenWidth_ = 4;
    std::vector<TPoint> Points_;
};

// A picture (a packed DIB in a movable memory block, owned), stretched over the mark; without
// one, a fill of Color.
class TImageMark : public TGenericMark {
    Q_OBJECT
public:
    // No picture, Color black.
    explicit TImageMark(QObject* owner);
    ~TImageMark() override;

    std::unique_ptr<TBitmap> Render() override;
    void PaintTo(QPainter& canvas, int x, int y) override;

    HGLOBAL DIB() const { return DIB_; }
    // When different: releases the previous block and takes the new one.
    void SetDIB(HGLOBAL block);

protected:
    HGLOBAL DIB_ = 0;
};

}  // namespace qil
