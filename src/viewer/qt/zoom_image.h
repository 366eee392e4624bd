// TZoomImage: the scrolling, zooming image control of both panes, and TDisplayPanel, the
// panel inside it that is sized to the zoomed image and paints it.
//
// The viewer owns an image holder (TMemoryImage), the display panel and an annotations
// editor whose marks lie over the panel. The panel is placed by hand (PlaceDisplay): centred
// on each axis where it is smaller than the visible area (that scroll bar hidden), otherwise
// at minus the scroll position. Zoom is a percentage of the image's horizontal resolution;
// an image whose vertical resolution differs is stretched vertically to VertSizeCorrected.
//
// Notes
//  - Mouse positions given to OnImageMouseDown / Up / Move are display-panel coordinates:
//    image pixel = panel coordinate * 100 / Zoom. The viewer does not convert them.
//  - The panel paints only its exposed rectangle: the image (or GrayCache) is stretched to
//    the whole panel through a raster device the size of the exposed rectangle, so every
//    screen pixel shows the same source pixel as a paint of the whole panel would.
//  - GrayCache (a ScaleToGray rendering with 16 levels) is used for 1-bit images shown below
//    AntialiasingThreshold in aaScaleToGray mode; it lives until the panel is repainted with
//    Repaint, resized, or switched to another antialiasing mode.
//  - A client that hands a new image to Image() directly calls RefreshImage afterwards.
#pragma once

#include <QAbstractScrollArea>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "annotations/qt/graphic_control.h"
#include "dib/dib.h"
#include "platform/memory.h"
#include "viewer/memory_image.h"

class QPaintEvent;
class QMouseEvent;

namespace qil {

class TAnnotationsEditor;
class TZoomImage;

enum TZoomMode { zmCustom = 0, zmFitToWidth = 1, zmFitToHeight = 2, zmFitToPage = 3, zmFitToOriginal = 4 };
enum TAntialiasing { aaNone = 0, aaScaleToGray = 1, aaPreserveBlack = 2, aaPreserveWhite = 3 };

class TDisplayPanel : public QWidget {
    Q_OBJECT

public:
    explicit TDisplayPanel(TZoomImage* viewer);
    ~TDisplayPanel() override;

    // Releases GrayCache, then repaints the whole panel at once.
    void Repaint();

    std::unique_ptr<TDIB> GrayCache;  // the reduced gray rendering of a 1-bit image, or none
    bool Painting = false;
    // Sender = the panel; positions in panel coordinates.
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Paints the exposed rectangle: background, the image stretched to the whole panel, then
    // the viewer's OnPaint.
    void Paint(const QRect& exposed);

    // What GrayCache was built for: the panel size, the zoom and the image block.
    struct TGrayCacheKey {
        QSize PanelSize;
        double Zoom = 0;
        HGLOBAL Block = 0;
        bool operator==(const TGrayCacheKey&) const = default;
    };

    TZoomImage* viewer_;
    TGrayCacheKey grayCacheKey_;
};

class TZoomImage : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TZoomImage(QWidget* parent = nullptr);
    ~TZoomImage() override;

    TMemoryImage* Image() const { return image_.get(); }
    TDisplayPanel* DisplayPanel() const { return displayPanel_; }
    TAnnotationsEditor* AnnotationsEditor() const { return annotationsEditor_; }

    // Set when the next zoom change must repaint even if the display size stays the same.
    bool ImageChanged = false;
    bool Centered = true;
    // Set while PlaceDisplay runs; nested layout and paint requests are ignored meanwhile.
    bool Positioning = false;

    double Zoom() const { return zoom_; }
    // Clamps to 0.1 .. 10000, sizes and places the display, repaints as needed, raises OnScale.
    void SetZoom(double value);
    TZoomMode ZoomMode() const { return zoomMode_; }
    // Stores the mode; any mode but zmCustom applies ZoomForMode at once.
    void SetZoomMode(TZoomMode value);
    int32_t AntialiasingThreshold() const { return antialiasingThreshold_; }
    void SetAntialiasingThreshold(int32_t value);
    TAntialiasing Antialiasing() const { return antialiasing_; }
    void SetAntialiasing(TAntialiasing value);

    int32_t Page() const;
    // Loads that page of the holder's file with its marks, then re-lays out and repaints.
    void SetPage(int32_t value);
    int32_t PageCount() const;
    HGLOBAL ImageHandle() const;
    // Hands a block to the holder (which owns it from now on), then re-lays out and repaints.
    void SetImageHandle(HGLOBAL value);

    const TMouseEvent& OnImageMouseDown() const;
    void SetOnImageMouseDown(TMouseEvent handler);
    const TMouseEvent& OnImageMouseUp() const;
    void SetOnImageMouseUp(TMouseEvent handler);
    const TMouseMoveEvent& OnImageMouseMove() const;
    void SetOnImageMouseMove(TMouseMoveEvent handler);

    TNotifyEvent OnPaint;  // after every paint of the display panel, Sender = the viewer
    TNotifyEvent OnScale;  // after every zoom change, Sender = the viewer

    // Loads page Page of the file with its annotations as marks, then Zoom := ZoomForMode(Mode)
    // (ZoomMode itself is not changed). Failures to read the annotations or to build their
    // marks are ignored: the page opens without them.
    void LoadFromFile(const std::string& FileName, TZoomMode Mode, int32_t Page);

    // The zoom a mode asks for in the current area (measured as if no scroll bar were shown);
    // zmCustom and zmFitToOriginal answer the current zoom.
    double ZoomForMode(TZoomMode Mode);
    double FitWidthZoom();
    double FitHeightZoom();
    double FitPageZoom();

    // Places the panel with the given size (-1: keep the current width or height); answers
    // whether its bounds changed.
    bool PlaceDisplay(int32_t Width, int32_t Height);
    // Re-places the display; repaints the panel (dropping GrayCache) and the marks when the
    // placement changed or Force is set, otherwise paints only what is pending.
    void RefreshDisplay(bool Force);
    // After the holder was given an image directly (Image()->SetImageHandle): re-applies the
    // zoom mode (any mode but zmCustom) or the current zoom and repaints everything, also when
    // the new image has the size of the old one.
    void RefreshImage();

    // Handlers of the editor's OnMarkClick / OnMarkDblClick (Sender = the mark).
    void MarkClick(QObject* Sender);
    void MarkDblClick(QObject* Sender);
    // Opens the property dialog of every selected mark, from the last to the first.
    void ShowMarkProperties();

protected:
    // The scroll area was resized: re-applies the zoom mode, or re-places the display.
    virtual void Resizing();

    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // The marks of the holder's current page; failures leave the page without marks.
    void BuildPageMarks();
    // Places the panel once by the centring rules; answers the new bounds.
    QRect PlaceOnce(int32_t width, int32_t height);
    void UpdateScrollRanges();

    std::unique_ptr<TMemoryImage> image_;
    TDisplayPanel* displayPanel_ = nullptr;  // a child widget of the viewport
    double zoom_ = 100;
    TZoomMode zoomMode_ = zmCustom;
    int32_t antialiasingThreshold_ = 50;
    TAntialiasing antialiasing_ = aaScaleToGray;
    TAnnotationsEditor* annotationsEditor_ = nullptr;  // owned
    int rangeUpdatesSuspended_ = 0;
    // The scroll bars' own visibility switches: a hidden bar never shows; a visible one shows
    // when the panel needs it.
    bool horzScrollBarVisible_ = true;
    bool vertScrollBarVisible_ = true;
};

}  // namespace qil
