#include "annotations/qt/control_resizer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <climits>

namespace qil {

namespace {

constexpr int kFar = 2147483647;

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

int Saturate(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

void ProcessPendingMessages() { QCoreApplication::processEvents(); }

}  // namespace

// The transient surface of a drag frame: an opaque child laid over the visible part of the
// resizer's parent, showing the parent as it looked when the drag started, with the frame
// inverted into that picture.
class TResizerFrameOverlay : public QWidget {
public:
    explicit TResizerFrameOverlay(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FrameOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        QRect area = parent->visibleRegion().boundingRect();
        if (area.isEmpty()) area = parent->rect();
        image_ = parent->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
        image_.setDevicePixelRatio(1);
        setGeometry(area.x(), area.y(), image_.width(), image_.height());
        show();
        raise();
    }

    // Inverts every other pixel of the outline of (Left, Top, Right, Bottom) (parent
    // coordinates, exclusive right and bottom edges), as a focus rectangle does.
    void InvertFocusRect(int left, int top, int right, int bottom) {
        if (right <= left || bottom <= top) return;
        InvertRun(left, top, right - left, true);
        if (bottom - 1 > top) InvertRun(left, bottom - 1, right - left, true);
        if (bottom - top > 2) {
            InvertRun(left, top + 1, bottom - top - 2, false);
            if (right - 1 > left) InvertRun(right - 1, top + 1, bottom - top - 2, false);
        }
    }

    const QImage& Picture() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        p.drawImage(event->rect(), image_, event->rect());
    }

private:
    // A horizontal or vertical run of Count pixels from (X, Y) in parent coordinates.
    void InvertRun(int x, int y, int count, bool horizontal) {
        int ox = x - this->x(), oy = y - this->y();
        for (int i = 0; i < count; ++i) {
            int px = horizontal ? ox + i : ox, py = horizontal ? oy : oy + i;
            if (px < 0 || py < 0 || px >= image_.width() || py >= image_.height()) continue;
            if (((px + this->x() + py + this->y()) & 1) != 0) continue;
            QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(py));
            line[px] ^= 0x00FFFFFF;
        }
        update(horizontal ? QRect(ox, oy, count, 1) : QRect(ox, oy, 1, count));
    }

    QImage image_;
};

// ---- TControlResizer ----

TControlResizer::TControlResizer(QObject* owner) : TGraphicControl(nullptr) {
    setObjectName(QStringLiteral("ControlResizer"));
    SetBounds(0, 0, 25, 25);
    setCursor(Qt::SizeAllCursor);
    if (owner) connect(owner, &QObject::destroyed, this, [this] { delete this; });
    OnMouseDown = [this](QObject*, Qt::MouseButton button, TShiftState, int x, int y) { BodyMouseDown(button, x, y); };
    OnMouseMove = [this](QObject*, TShiftState, int x, int y) { BodyMouseMove(x, y); };
    OnMouseUp = [this](QObject*, Qt::MouseButton button, TShiftState, int, int) { BodyMouseUp(button); };
}

TControlResizer::~TControlResizer() {
    delete FrameDC_.data();
    for (auto& h : Handles_) delete h.data();
}

void TControlResizer::SetBoxSize(int value) {
    BoxSize_ = value;
    PositionHandles();
}

void TControlResizer::SetBoxColor(uint32_t value) {
    BoxColor_ = value;
    for (auto& h : Handles_)
        if (h) h->SetBrushColor(value);
}

void TControlResizer::SetTargetControl(QWidget* control) {
    if (control == TargetControl_.data() || Busy_) return;
    Busy_ = true;
    struct Reset {
        bool& busy;
        ~Reset() { busy = false; }
    } reset{Busy_};
    HideHandles();
    if (control) {
        SetParent(control->parentWidget());
        TargetControl_ = control;
        ProcessPendingMessages();
        FitToTarget();
        ProcessPendingMessages();
        BringToFront();
        ProcessPendingMessages();
        ShowHandles();
    } else {
        SetParent(nullptr);
        TargetControl_ = nullptr;
        ProcessPendingMessages();
    }
}

void TControlResizer::SetParent(QWidget* parent) {
    TGraphicControl::SetParent(parent);
    SetHandlesParent(parent);
}

void TControlResizer::SetBounds(int left, int top, int width, int height) {
    TGraphicControl::SetBounds(left, top, width, height);
    PositionHandles();
}

void TControlResizer::FitToTarget() {
    if (!TargetControl_) return;
    int s = BoxSize_;
    QRect t = TargetControl_->geometry();
    SetBounds(t.x() - s, t.y() - s, t.width() + 2 * s, t.height() + 2 * s);
}

void TControlResizer::ApplyToTarget() {
    int s = BoxSize_;
    if (Busy_ || !Visible() || !TargetControl_ || Width() - 2 * s <= 0 || Height() - 2 * s <= 0) return;
    int l = Left() + s, t = Top() + s, w = Width() - 2 * s, h = Height() - 2 * s;
    if (auto* g = qobject_cast<TGraphicControl*>(TargetControl_.data()))
        g->SetBounds(l, t, w, h);
    else
        TargetControl_->setGeometry(l, t, w, h);
}

void TControlResizer::CreateHandles() {
    if (HandlesCreated_) return;
    for (int k = hkTopLeft; k <= hkRight; ++k) Handles_[k] = new TResizerHandle(this, static_cast<THandleKind>(k));
    HandlesCreated_ = true;
}

void TControlResizer::SetHandlesParent(QWidget* parent) {
    for (auto& h : Handles_)
        if (h) h->SetParent(parent);
    PositionHandles();
}

void TControlResizer::PositionHandles() {
    if (!HandlesCreated_) return;
    int s = BoxSize_, h = s / 2;
    int L = Left(), T = Top(), W = Width(), H = Height();
    int left[8], top[8];
    left[hkTopLeft] = L - h, top[hkTopLeft] = T - h;
    left[hkBottomLeft] = L - h, top[hkBottomLeft] = T + H + h - s;
    left[hkBottomRight] = L + W + h - s, top[hkBottomRight] = T + H + h - s;
    left[hkTopRight] = L + W + h - s, top[hkTopRight] = T - h;
    left[hkTop] = L + (W - s) / 2, top[hkTop] = T - h;
    left[hkLeft] = L - h, top[hkLeft] = T + (H - s) / 2;
    left[hkBottom] = L + (W - s) / 2, top[hkBottom] = T + H + h - s;
    left[hkRight] = L + W + h - s, top[hkRight] = T + (H - s) / 2;
    for (int k = 0; k < 8; ++k)
        if (Handles_[k]) Handles_[k]->SetBounds(left[k], top[k], s, s);
}

void TControlResizer::ShowHandles() {
    if (!HandlesCreated_) {
        CreateHandles();
        SetHandlesParent(Parent());
        PositionHandles();
    }
    for (auto& h : Handles_) {
        if (!h) continue;
        h->SetVisible(true);
        h->raise();  // over the resizer's body, so that the handles take their own clicks
    }
}

void TControlResizer::HideHandles() {
    if (!HandlesCreated_) return;
    for (auto& h : Handles_)
        if (h) h->SetVisible(false);
}

QWidget* TControlResizer::FrameOverlay() const { return FrameDC_.data(); }

void TControlResizer::DoResized() {
    if (OnResized) OnResized(this, OldBounds_, BoundsRect());
}

void TControlResizer::DoMoved() {
    if (OnMoved) OnMoved(this, OldBounds_, BoundsRect());
}

void TControlResizer::VisibleChanged() {
    if (Visible())
        ShowHandles();
    else
        HideHandles();
}

void TControlResizer::mouseDoubleClickEvent(QMouseEvent* event) {
    QPointer<TControlResizer> self(this);
    QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) DblClick();
    if (!self || !(QGuiApplication::mouseButtons() & event->button())) return;
    MouseDown(event->button(), TShiftState{event->modifiers(), event->buttons(), true}, p.x(), p.y());
}

void TControlResizer::paintEvent(QPaintEvent*) {
    // Transparent: what lies beneath stays visible.
}

// ---- The drag frame ----

void TControlResizer::BeginFrame() {
    delete FrameDC_.data();
    if (Parent()) FrameDC_ = new TResizerFrameOverlay(Parent());
}

void TControlResizer::EndFrame() { delete FrameDC_.data(); }

void TControlResizer::DrawFrame() {
    if (FrameDC_) {
        const TFrame& f = Frame_;
        for (int i = 0; i < LineSize_; ++i)
            FrameDC_->InvertFocusRect(f.Left + i, f.Top + i, f.Left + f.Width - i, f.Top + f.Height - i);
    }
    int s = BoxSize_;
    TRect newBounds{Frame_.Left + s, Frame_.Top + s, Frame_.Width - 2 * s, Frame_.Height - 2 * s};
    if (Moving_ && OnMoving) OnMoving(this, BoundsRect(), newBounds);
    if (Resizing_ && OnResizing) OnResizing(this, BoundsRect(), newBounds);
}

// ---- Body drag ----

void TControlResizer::BodyMouseDown(Qt::MouseButton button, int x, int y) {
    if (Busy_ || button != Qt::LeftButton || !Movable_ || Moving_) return;
    // The widget system keeps sending the mouse to the pressed control until the release.
    GrabX_ = -x;
    GrabY_ = -y;
    Moving_ = true;
    HideHandles();
    Frame_ = TFrame{Left(), Top(), Width(), Height()};
    BeginFrame();
    DrawFrame();
}

void TControlResizer::BodyMouseMove(int x, int y) {
    if (!Moving_ || Busy_) return;
    DrawFrame();
    DeltaX_ = Saturate(int64_t{x} + GrabX_);
    DeltaY_ = Saturate(int64_t{y} + GrabY_);
    Frame_ = TFrame{Saturate(int64_t{Left()} + DeltaX_), Saturate(int64_t{Top()} + DeltaY_), Width(), Height()};
    DrawFrame();
}

void TControlResizer::BodyMouseUp(Qt::MouseButton button) {
    if (Busy_ || button != Qt::LeftButton || !Moving_) return;
    DrawFrame();
    EndFrame();
    Moving_ = false;
    if (Frame_.Left != Left() || Frame_.Top != Top()) {
        OldBounds_ = BoundsRect();
        SetBounds(Frame_.Left, Frame_.Top, Frame_.Width, Frame_.Height);
        ApplyToTarget();
        DoMoved();
    }
    ShowHandles();
}

// ---- Handle drag ----

void TControlResizer::HandleMouseDown(THandleKind kind, Qt::MouseButton button, int x, int y) {
    if (Busy_ || button != Qt::LeftButton || !Resizable_) return;
    HideHandles();
    // Hiding the pressed handle ends the widget system's own hold on the mouse: the handle
    // takes the mouse explicitly for the rest of the drag.
    if (TResizerHandle* handle = Handles_[kind]) handle->grabMouse();
    GrabX_ = -x;
    GrabY_ = -y;
    int W = Width(), H = Height();
    switch (kind) {
        case hkTopLeft: MinDX_ = -kFar, MaxDX_ = W, MinDY_ = -kFar, MaxDY_ = H; break;
        case hkBottomLeft: MinDX_ = -kFar, MaxDX_ = W, MinDY_ = -H, MaxDY_ = kFar; break;
        case hkBottomRight: MinDX_ = -W, MaxDX_ = kFar, MinDY_ = -H, MaxDY_ = kFar; break;
        case hkTopRight: MinDX_ = -W, MaxDX_ = kFar, MinDY_ = -kFar, MaxDY_ = H; break;
        case hkTop: MinDX_ = 0, MaxDX_ = 0, MinDY_ = -kFar, MaxDY_ = H; break;
        case hkLeft: MinDX_ = -kFar, MaxDX_ = W, MinDY_ = 0, MaxDY_ = 0; break;
        case hkBottom: MinDX_ = 0, MaxDX_ = 0, MinDY_ = -H, MaxDY_ = kFar; break;
        case hkRight: MinDX_ = -W, MaxDX_ = kFar, MinDY_ = 0, MaxDY_ = 0; break;
    }
    Frame_ = TFrame{Left(), Top(), Width(), Height()};
    BeginFrame();
    DrawFrame();
    Resizing_ = true;
}

void TControlResizer::HandleDeltas(int x, int y) {
    x = Clamp(x, MinDX_, MaxDX_);
    y = Clamp(y, MinDY_, MaxDY_);
    DeltaX_ = Saturate(int64_t{x} + GrabX_);
    DeltaY_ = Saturate(int64_t{y} + GrabY_);
}

TControlResizer::TFrame TControlResizer::HandleFrame(THandleKind kind, int L, int T, int W, int H) const {
    int64_t dx = DeltaX_, dy = DeltaY_;
    int64_t l = L, t = T, w = W, h = H;
    switch (kind) {
        case hkTopLeft: l += dx, t += dy, w -= dx, h -= dy; break;
        case hkBottomLeft: l += dx, w -= dx, h += dy; break;
        case hkBottomRight: w += dx, h += dy; break;
        case hkTopRight: t += dy, w += dx, h -= dy; break;
        case hkTop: t += dy, h -= dy; break;
        case hkLeft: l += dx, w -= dx; break;
        case hkBottom: h += dy; break;
        case hkRight: w += dx; break;
    }
    return TFrame{Saturate(l), Saturate(t), Saturate(w), Saturate(h)};
}

void TControlResizer::HandleMouseMove(THandleKind kind, int x, int y) {
    if (!Resizing_ || Busy_) return;
    DrawFrame();
    HandleDeltas(x, y);
    Frame_ = HandleFrame(kind, Left(), Top(), Width(), Height());
    Frame_.Width = std::max(Frame_.Width, MinWidth_);
    Frame_.Height = std::max(Frame_.Height, MinHeight_);
    DrawFrame();
}

void TControlResizer::HandleMouseUp(THandleKind kind, Qt::MouseButton button, int x, int y) {
    if (Busy_ || button != Qt::LeftButton || !Resizing_) return;
    if (TResizerHandle* handle = Handles_[kind]; handle && QWidget::mouseGrabber() == handle) handle->releaseMouse();
    DrawFrame();
    EndFrame();
    Resizing_ = false;
    HandleDeltas(x, y);
    OldBounds_ = BoundsRect();
    TFrame f = HandleFrame(kind, Left(), Top(), Width(), Height());
    SetBounds(f.Left, f.Top, f.Width, f.Height);
    ShowHandles();
    ApplyToTarget();
    DoResized();
}

// ---- TResizerHandle ----

TResizerHandle::TResizerHandle(TControlResizer* resizer, TControlResizer::THandleKind kind)
    : TGraphicControl(nullptr), resizer_(resizer), kind_(kind), brushColor_(resizer->BoxColor()) {
    static const char* const names[8] = {"HandleTopLeft", "HandleBottomLeft", "HandleBottomRight", "HandleTopRight",
                                         "HandleTop",     "HandleLeft",       "HandleBottom",      "HandleRight"};
    setObjectName(QString::fromLatin1(names[kind]));
    switch (kind) {
        case TControlResizer::hkTopLeft:
        case TControlResizer::hkBottomRight: setCursor(Qt::SizeFDiagCursor); break;
        case TControlResizer::hkBottomLeft:
        case TControlResizer::hkTopRight: setCursor(Qt::SizeBDiagCursor); break;
        case TControlResizer::hkTop:
        case TControlResizer::hkBottom: setCursor(Qt::SizeVerCursor); break;
        case TControlResizer::hkLeft:
        case TControlResizer::hkRight: setCursor(Qt::SizeHorCursor); break;
    }
    SetVisible(false);
    int s = resizer->BoxSize();
    SetBounds(0, 0, s, s);
    OnMouseDown = [this](QObject*, Qt::MouseButton button, TShiftState, int x, int y) {
        if (resizer_) resizer_->HandleMouseDown(kind_, button, x, y);
    };
    OnMouseMove = [this](QObject*, TShiftState, int x, int y) {
        if (resizer_) resizer_->HandleMouseMove(kind_, x, y);
    };
    OnMouseUp = [this](QObject*, Qt::MouseButton button, TShiftState, int x, int y) {
        if (resizer_) resizer_->HandleMouseUp(kind_, button, x, y);
    };
}

void TResizerHandle::SetBrushColor(uint32_t color) {
    if (color == brushColor_) return;
    brushColor_ = color;
    update();
}

void TResizerHandle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ColorToQColor(brushColor_));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, width() - 1, height() - 1));
}

}  // namespace qil
