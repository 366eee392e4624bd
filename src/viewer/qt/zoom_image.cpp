#include "viewer/qt/zoom_image.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <exception>

#include "annotations/annotations.h"
#include "annotations/qt/annotation_properties_dialog.h"
#include "annotations/qt/annotations_editor.h"
#include "dib/image_file.h"
#include "platform/numeric.h"
#include "platform/raster.h"
#include "viewer/qt/surface_image.h"

namespace qil {

namespace {

// Sets a flag for the lifetime of the guard.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagGuard() { flag_ = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TDisplayPanel

TDisplayPanel::TDisplayPanel(TZoomImage* viewer) : QWidget(viewer->viewport()), viewer_(viewer) {
    setObjectName(QStringLiteral("DisplayPanel"));
    // The panel paints every pixel of what is exposed; nothing is erased before.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
}

TDisplayPanel::~TDisplayPanel() = default;

void TDisplayPanel::Repaint() {
    GrayCache.reset();
    repaint();
}

// No exception may leave an event handler: a paint that fails (a gray rendering that does
// not fit in memory, say) leaves the background it had painted.
void TDisplayPanel::paintEvent(QPaintEvent* event) {
    try {
        Paint(event->rect());
    } catch (const std::exception&) {
    }
}

// Paint
// Background, then the image stretched over the whole panel, of which only the exposed
// rectangle is computed, then the viewer's OnPaint.
// Notes:
//  - Skipped while the viewer places the display or a paint is already running.
//  - aaScaleToGray keeps GrayCache while it matches the panel's size; below the threshold a
//    1-bit image gets a 16-level ScaleToGray at the zoom (rounded to whole percent). The other
//    modes drop the cache and stretch the image: aaNone color on color, aaPreserveBlack
//    black on white, aaPreserveWhite white on black.
void TDisplayPanel::Paint(const QRect& exposed) {
    if (viewer_->Positioning || Painting) return;
    QPainter painter(this);
    painter.fillRect(exposed, palette().window());
    TFlagGuard painting(Painting);
    TMemoryImage* image = viewer_->Image();
    if (image->IsValid() && !exposed.isEmpty()) {
        TDIB* source = &image->DIB();
        int32_t mode = 0;
        switch (viewer_->Antialiasing()) {
            case aaScaleToGray:
                if (!(GrayCache && GrayCache->Width() == width() && GrayCache->Height() == height())) {
                    // A cache of another size built for this panel size, zoom and image stays:
                    // building it again would give the same rendering.
                    const TGrayCacheKey key{size(), viewer_->Zoom(), image->GetImageHandle()};
                    if (!(GrayCache && grayCacheKey_ == key)) {
                        GrayCache.reset();
                        if (viewer_->Zoom() < viewer_->AntialiasingThreshold() && image->Depth() == 1) {
                            GrayCache.reset(image->DIB().ScaleToGray(16, static_cast<int32_t>(Round(viewer_->Zoom()))));
                            grayCacheKey_ = key;
                        }
                    }
                }
                if (GrayCache) source = GrayCache.get();
                break;
            case aaPreserveBlack:
                GrayCache.reset();
                mode = 1;
                break;
            case aaPreserveWhite:
                GrayCache.reset();
                mode = 2;
                break;
            default: GrayCache.reset(); break;
        }
        TRasterDevice surface(exposed.width(), exposed.height());
        surface.ViewportOrigin = TPoint{-exposed.x(), -exposed.y()};
        source->Draw(&surface, 0, 0, width(), height(), mode);
        painter.drawImage(exposed.topLeft(), SurfaceImage(surface));
    }
    painter.end();
    if (viewer_->OnPaint) viewer_->OnPaint(viewer_);
}

namespace {

TShiftState ShiftOf(const QMouseEvent* event, bool isDouble = false) {
    return TShiftState{event->modifiers(), event->buttons(), isDouble};
}

}  // namespace

void TDisplayPanel::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), ShiftOf(event), p.x(), p.y());
}

void TDisplayPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), ShiftOf(event, true), p.x(), p.y());
}

void TDisplayPanel::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseUp) OnMouseUp(this, event->button(), ShiftOf(event), p.x(), p.y());
}

void TDisplayPanel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, ShiftOf(event), p.x(), p.y());
}

// ---------------------------------------------------------------------------------------------
// TZoomImage

TZoomImage::TZoomImage(QWidget* parent) : QAbstractScrollArea(parent), image_(std::make_unique<TMemoryImage>()) {
    QPalette gray = viewport()->palette();
    gray.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    gray.setColor(QPalette::Base, QColor(0x80, 0x80, 0x80));
    viewport()->setPalette(gray);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    displayPanel_ = new TDisplayPanel(this);
    displayPanel_->setGeometry(0, 0, 100, 100);
    displayPanel_->show();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    annotationsEditor_ = new TAnnotationsEditor(this);
    annotationsEditor_->SetVisible(false);
    annotationsEditor_->SetReadOnly(true);
    annotationsEditor_->SetSurface(displayPanel_);
    annotationsEditor_->SetDisplayRect(TRect{0, 0, displayPanel_->width(), displayPanel_->height()});
    annotationsEditor_->SetZoom(100);
    annotationsEditor_->SetResolution(200);
    annotationsEditor_->OnMarkClick = [this](QObject* sender) { MarkClick(sender); };
    annotationsEditor_->OnMarkDblClick = [this](QObject* sender) { MarkDblClick(sender); };
    ImageChanged = false;
}

TZoomImage::~TZoomImage() {
    delete annotationsEditor_;
    annotationsEditor_ = nullptr;
    delete displayPanel_;
    displayPanel_ = nullptr;
    image_.reset();
}

int32_t TZoomImage::Page() const { return image_->Page(); }
int32_t TZoomImage::PageCount() const { return image_->PageCount(); }
HGLOBAL TZoomImage::ImageHandle() const { return image_->GetImageHandle(); }

void TZoomImage::SetImageHandle(HGLOBAL value) {
    image_->SetImageHandle(value);
    ImageChanged = true;
    SetZoom(zoom_);
}

void TZoomImage::SetPage(int32_t value) {
    image_->SetPage(value);
    BuildPageMarks();
    annotationsEditor_->SetResolution(image_->VertResolution());
    annotationsEditor_->SetZoom(zoom_);
    ImageChanged = true;
    SetZoom(zoom_);
}

const TMouseEvent& TZoomImage::OnImageMouseDown() const { return displayPanel_->OnMouseDown; }
void TZoomImage::SetOnImageMouseDown(TMouseEvent handler) { displayPanel_->OnMouseDown = std::move(handler); }
const TMouseEvent& TZoomImage::OnImageMouseUp() const { return displayPanel_->OnMouseUp; }
void TZoomImage::SetOnImageMouseUp(TMouseEvent handler) { displayPanel_->OnMouseUp = std::move(handler); }
const TMouseMoveEvent& TZoomImage::OnImageMouseMove() const { return displayPanel_->OnMouseMove; }
void TZoomImage::SetOnImageMouseMove(TMouseMoveEvent handler) {
    displayPanel_->OnMouseMove = std::move(handler);
}

void TZoomImage::LoadFromFile(const std::string& FileName, TZoomMode Mode, int32_t Page) {
    image_->LoadImage(FileName, Page);
    ImageChanged = true;
    BuildPageMarks();
    SetZoom(ZoomForMode(Mode));
}

// The stored annotations of the page become marks. The marks are an overlay: a page whose
// annotations cannot be read, or whose marks cannot be built (a referenced picture file that
// is missing, for instance), opens without them.
void TZoomImage::BuildPageMarks() {
    TAnnotations annotations;
    if (FileExists(image_->FileName())) {
        try {
            annotations.LoadFromFile(image_->FileName(), image_->Page());
        } catch (const std::exception&) {
        }
    }
    try {
        BuildMarks(*annotationsEditor_, annotations, zoom_, image_->HorzResolution());
    } catch (const std::exception&) {
    }
}

void TZoomImage::SetZoomMode(TZoomMode value) {
    zoomMode_ = value;
    if (value != zmCustom) SetZoom(ZoomForMode(value));
}

void TZoomImage::SetAntialiasing(TAntialiasing value) {
    antialiasing_ = value;
    displayPanel_->Repaint();
}

void TZoomImage::SetAntialiasingThreshold(int32_t value) {
    if (value == antialiasingThreshold_) return;
    antialiasingThreshold_ = std::clamp(value, 0, 100);
    displayPanel_->Repaint();
}

double TZoomImage::ZoomForMode(TZoomMode Mode) {
    switch (Mode) {
        case zmFitToWidth: return FitWidthZoom();
        case zmFitToHeight: return FitHeightZoom();
        case zmFitToPage: return FitPageZoom();
        default: return zoom_;
    }
}

namespace {

// The system's scroll-bar thickness and the viewport size as if no scroll bar were shown.
struct TArea {
    long double CW, CH;  // available width and height
    long double SX, SY;  // vertical bar width, horizontal bar height
};

}  // namespace

static TArea AvailableArea(TZoomImage* viewer) {
    const int sx = viewer->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, viewer->verticalScrollBar());
    const int sy = viewer->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, viewer->horizontalScrollBar());
    const QWidget* vp = viewer->viewport();
    const bool vVisible = viewer->verticalScrollBar()->isVisibleTo(viewer);
    const bool hVisible = viewer->horizontalScrollBar()->isVisibleTo(viewer);
    return TArea{static_cast<long double>(vp->width() + (vVisible ? sx : 0)),
                 static_cast<long double>(vp->height() + (hVisible ? sy : 0)), static_cast<long double>(sx),
                 static_cast<long double>(sy)};
}

// FitWidthZoom
// The zoom that makes the image as wide as the area; when the image would then be taller than
// the area, the width left beside a vertical scroll bar. 100 when the image has no width.
double TZoomImage::FitWidthZoom() {
    const TArea a = AvailableArea(this);
    const long double w = image_->HorzSize(), h = image_->GetVertSizeCorrected();
    if (w == 0) return 100;
    long double z = a.CW / w * 100;
    if (Trunc(h * z / 100) > a.CH) z = (a.CW - a.SX) / w * 100;
    return static_cast<double>(z);
}

// FitHeightZoom
// The zoom that makes the image as tall as the area; when the image would then be wider than
// the area, the height left above a horizontal scroll bar. 100 when the image has no height.
double TZoomImage::FitHeightZoom() {
    const TArea a = AvailableArea(this);
    const long double w = image_->HorzSize(), h = image_->GetVertSizeCorrected();
    if (h == 0) return 100;
    long double z = a.CH / h * 100;
    if (Trunc(w * z / 100) > a.CW) z = (a.CH - a.SY) / h * 100;
    return static_cast<double>(z);
}

// FitPageZoom
// The smaller of the zooms that fit the height and the width; 1 for an empty holder.
double TZoomImage::FitPageZoom() {
    if (!image_->IsValid()) return 1;
    const TArea a = AvailableArea(this);
    const long double w = image_->HorzSize(), h = image_->GetVertSizeCorrected();
    const long double zh = h == 0 ? 100 : a.CH / h * 100;
    const long double zw = w == 0 ? 100 : a.CW / w * 100;
    return static_cast<double>(zw < zh ? zw : zh);
}

// SetZoom
// Notes:
//  - The display is Trunc(HorzSize * z / 100) x Trunc(z * VertSizeCorrected / 100): the image
//    at its horizontal resolution.
//  - An unchanged display size counts as a change when the zoom differs; ImageChanged forces
//    a full repaint once.
void TZoomImage::SetZoom(double value) {
    value = std::clamp(value, 0.1, 10000.0);
    const double old = zoom_;
    zoom_ = value;
    const long double z = value;
    const auto width = static_cast<int32_t>(Trunc(image_->HorzSize() * z / 100));
    const auto height = static_cast<int32_t>(Trunc(z * image_->GetVertSizeCorrected() / 100));
    bool changed;
    if (width == displayPanel_->width() && height == displayPanel_->height())
        changed = value != old;
    else
        changed = PlaceDisplay(width, height);
    RefreshDisplay(ImageChanged ? true : changed);
    ImageChanged = false;
    annotationsEditor_->SetZoom(value);
    annotationsEditor_->SetDisplayRect(TRect{0, 0, displayPanel_->width(), displayPanel_->height()});
    if (OnScale) OnScale(this);
}

// Centres the panel on an axis where the viewport is larger and Centered is set (hiding that
// scroll bar), otherwise puts it at minus the scroll position (the scroll bar allowed: it is
// shown by UpdateScrollRanges when the panel needs it).
QRect TZoomImage::PlaceOnce(int32_t width, int32_t height) {
    QScrollBar* hbar = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    int32_t left, top;
    if (viewport()->width() > width && Centered) {
        const int t = hbar->isVisibleTo(this) ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hbar) : 0;
        horzScrollBarVisible_ = false;
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        left = (viewport()->width() + t - width) / 2;
    } else {
        horzScrollBarVisible_ = true;
        left = -hbar->value();
    }
    if (viewport()->height() > height && Centered) {
        const int t = vbar->isVisibleTo(this) ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar) : 0;
        vertScrollBarVisible_ = false;
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        top = (viewport()->height() + t - height) / 2;
    } else {
        vertScrollBarVisible_ = true;
        top = -vbar->value();
    }
    return QRect(left, top, width, height);
}

// The scroll ranges for the panel, with the scroll bars that the panel needs in the whole area
// (the viewport plus the bars now shown): a bar is needed when the panel is larger than the
// area, or than what the other needed bar leaves of it. A hidden bar (a centred axis) is
// never needed. The bars are shown and hidden here, at once.
void TZoomImage::UpdateScrollRanges() {
    QScrollBar* hbar = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    const int sx = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar);
    const int sy = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hbar);
    const int fullW = viewport()->width() + (vbar->isVisibleTo(this) ? sx : 0);
    const int fullH = viewport()->height() + (hbar->isVisibleTo(this) ? sy : 0);
    const bool hAllowed = horzScrollBarVisible_;
    const bool vAllowed = vertScrollBarVisible_;
    const int w = displayPanel_->width(), h = displayPanel_->height();
    bool needH = hAllowed && w > fullW;
    bool needV = vAllowed && h > fullH;
    if (needH && !needV) needV = vAllowed && h > fullH - sy;
    if (needV && !needH) needH = hAllowed && w > fullW - sx;
    const int clientW = fullW - (needV ? sx : 0), clientH = fullH - (needH ? sy : 0);
    hbar->setRange(0, needH ? std::max(0, w - clientW) : 0);
    hbar->setPageStep(std::max(1, clientW));
    hbar->setSingleStep(16);
    vbar->setRange(0, needV ? std::max(0, h - clientH) : 0);
    vbar->setPageStep(std::max(1, clientH));
    vbar->setSingleStep(16);
    setHorizontalScrollBarPolicy(needH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

// PlaceDisplay
// Notes:
//  - Answers false at once while a placement is running (bars and bounds changed here cause
//    nested resize and scroll notifications).
//  - Showing or hiding a scroll bar changes the viewport; the placement is repeated until the
//    viewport and the scroll positions settle (at most three rounds), so the panel ends where
//    the rules put it in the final viewport.
bool TZoomImage::PlaceDisplay(int32_t Width, int32_t Height) {
    if (Positioning) return false;
    TFlagGuard positioning(Positioning);
    if (Width == -1) Width = displayPanel_->width();
    if (Height == -1) Height = displayPanel_->height();
    bool changed = false;
    for (int round = 0; round < 3; ++round) {
        const QRect bounds = PlaceOnce(Width, Height);
        if (bounds != displayPanel_->geometry()) {
            displayPanel_->setGeometry(bounds);
            changed = true;
        }
        if (rangeUpdatesSuspended_ > 0) break;
        const QSize client = viewport()->size();
        const int h = horizontalScrollBar()->value(), v = verticalScrollBar()->value();
        UpdateScrollRanges();
        if (client == viewport()->size() && h == horizontalScrollBar()->value() && v == verticalScrollBar()->value())
            break;
    }
    return changed;
}

void TZoomImage::RefreshDisplay(bool Force) {
    if (PlaceDisplay(-1, -1) || Force) {
        displayPanel_->Repaint();
        annotationsEditor_->RepaintMarks();
    }
    // Otherwise the pending regions are painted by the next turn of the event loop.
}

void TZoomImage::RefreshImage() {
    ImageChanged = true;
    SetZoom(zoomMode_ != zmCustom ? ZoomForMode(zoomMode_) : zoom_);
}

void TZoomImage::Resizing() {
    {
        ++rangeUpdatesSuspended_;
        struct Resume {
            int& Count;
            ~Resume() { --Count; }
        } resume{rangeUpdatesSuspended_};
        if (zoomMode_ != zmCustom)
            SetZoom(ZoomForMode(zoomMode_));
        else
            RefreshDisplay(false);
    }
    // The scroll area's own handling: the ranges for the new viewport.
    if (rangeUpdatesSuspended_ == 0) PlaceDisplay(-1, -1);
}

bool TZoomImage::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) Resizing();
    return QAbstractScrollArea::viewportEvent(event);
}

void TZoomImage::scrollContentsBy(int, int) {
    if (!Positioning) PlaceDisplay(-1, -1);
}

void TZoomImage::MarkClick(QObject* Sender) {
    annotationsEditor_->DeselectAll();
    if (auto* mark = qobject_cast<TGenericMark*>(Sender)) mark->SetSelected(true);
}

void TZoomImage::MarkDblClick(QObject* Sender) {
    MarkClick(Sender);
    ShowMarkProperties();
}

void TZoomImage::ShowMarkProperties() {
    for (int32_t i = annotationsEditor_->MarkCount() - 1; i >= 0; --i) {
        TGenericMark* mark = annotationsEditor_->Marks(i);
        if (!mark->Selected()) continue;
        TDialogAnnotationProperties dialog(this);
        dialog.LoadFromMark(mark);
        if (dialog.exec() == QDialog::Accepted) dialog.StoreToMark(mark);
    }
}

}  // namespace qil
