// TControlResizer: grab handles that move and resize another control.
//
// The resizer lies over its TargetControl (a sibling: both share the resizer's parent),
// paints nothing and takes the mouse input over its area. Eight square handles sit on its
// corners and edge midpoints. Dragging the body moves, dragging a handle resizes; while the
// button is held only a rubber-band frame follows the pointer. Releasing the button applies
// the new bounds to the resizer and to its target (ApplyToTarget) and reports them through
// OnMoved / OnResized.
//
// The frame is LineSize nested dotted focus rectangles (every other pixel inverted, so that
// drawing the same frame twice erases it). The parent's pixels cannot be inverted in place
// under a compositing widget system, so the frame is drawn on a transient overlay: when a drag
// starts, the visible part of the parent is captured once into an opaque overlay laid over
// it, the frame is inverted into that picture, and the overlay goes away when the drag ends.
// No control moves or repaints during a drag; only the overlay's frame strips do.
#pragma once

#include <QImage>
#include <QPointer>
#include <array>
#include <cstdint>

#include "annotations/qt/graphic_control.h"

namespace qil {

// (Sender, OldBounds, NewBounds); bounds rectangles with exclusive right and bottom edges.
using TControlResizerEvent = std::function<void(QObject* Sender, TRect OldBounds, TRect NewBounds)>;

class TResizerHandle;
class TResizerFrameOverlay;

class TControlResizer : public TGraphicControl {
    Q_OBJECT
public:
    // The eight handles, in creation order.
    enum THandleKind { hkTopLeft, hkBottomLeft, hkBottomRight, hkTopRight, hkTop, hkLeft, hkBottom, hkRight };

    // Width and Height 25, MinWidth and MinHeight 8, BoxSize 5, BoxColor black, LineSize 2,
    // Resizable and Movable true, no target, no handles yet.
    explicit TControlResizer(QObject* owner = nullptr);
    ~TControlResizer() override;

    int MinWidth() const { return MinWidth_; }
    void SetMinWidth(int value) { MinWidth_ = value; }
    int MinHeight() const { return MinHeight_; }
    void SetMinHeight(int value) { MinHeight_ = value; }
    int BoxSize() const { return BoxSize_; }
    // Repositions the handles.
    void SetBoxSize(int value);
    uint32_t BoxColor() const { return BoxColor_; }
    // Recolors the handles that exist.
    void SetBoxColor(uint32_t value);
    int LineSize() const { return LineSize_; }
    void SetLineSize(int value) { LineSize_ = value; }
    bool Resizable() const { return Resizable_; }
    void SetResizable(bool value) { Resizable_ = value; }
    bool Movable() const { return Movable_; }
    void SetMovable(bool value) { Movable_ = value; }
    QWidget* TargetControl() const { return TargetControl_; }
    // Ignored when Control is the current target or while Busy. Otherwise, Busy for the
    // duration: hides the handles; with a control, takes the control's parent, fits itself
    // around it, comes to the front and shows the handles; with none, leaves its parent.
    void SetTargetControl(QWidget* control);

    TControlResizerEvent OnMoving;
    TControlResizerEvent OnMoved;
    TControlResizerEvent OnResizing;
    TControlResizerEvent OnResized;

    void SetParent(QWidget* parent) override;
    void SetBounds(int left, int top, int width, int height) override;

    // Own bounds := the target's bounds grown by BoxSize on every side (nothing without one).
    void FitToTarget();
    // Target bounds := own bounds shrunk by BoxSize on every side, only when not Busy, visible,
    // with a target, and when that leaves a positive width and height.
    void ApplyToTarget();

    void CreateHandles();
    void SetHandlesParent(QWidget* parent);
    void PositionHandles();
    void ShowHandles();
    void HideHandles();

    bool HandlesCreated() const { return HandlesCreated_; }
    bool Busy() const { return Busy_; }
    bool Moving() const { return Moving_; }
    bool Resizing() const { return Resizing_; }
    // The handle of the kind, nullptr before CreateHandles.
    TResizerHandle* Handle(THandleKind kind) const { return Handles_[kind].data(); }
    // The rubber band: left, top, width, height in parent coordinates.
    struct TFrame {
        int Left = 0, Top = 0, Width = 0, Height = 0;
    };
    TFrame Frame() const { return Frame_; }
    // The drag overlay while a drag is in progress, else nullptr.
    QWidget* FrameOverlay() const;

protected:
    virtual void DoResized();
    virtual void DoMoved();

    void VisibleChanged() override;
    void paintEvent(QPaintEvent* event) override;
    // OnDblClick, then the body drag of the second press, unless the button was released in
    // the meantime (a dialog that OnDblClick opened took the release).
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class TResizerHandle;

    // Body drag (the resizer's own OnMouseDown / OnMouseMove / OnMouseUp).
    void BodyMouseDown(Qt::MouseButton button, int x, int y);
    void BodyMouseMove(int x, int y);
    void BodyMouseUp(Qt::MouseButton button);
    // Handle drag; X and Y relative to the handle.
    void HandleMouseDown(THandleKind kind, Qt::MouseButton button, int x, int y);
    void HandleMouseMove(THandleKind kind, int x, int y);
    void HandleMouseUp(THandleKind kind, Qt::MouseButton button, int x, int y);
    // Deltas from a pointer position clamped to the pressed handle's limits.
    void HandleDeltas(int x, int y);
    // A frame from the bounds and the deltas, by the handle table.
    TFrame HandleFrame(THandleKind kind, int left, int top, int width, int height) const;

    void BeginFrame();
    void EndFrame();
    void DrawFrame();

    int MinWidth_ = 8;
    int MinHeight_ = 8;
    int BoxSize_ = 5;
    uint32_t BoxColor_ = 0;
    int LineSize_ = 2;
    bool Resizable_ = true;
    bool Movable_ = true;
    QPointer<QWidget> TargetControl_;

    std::array<QPointer<TResizerHandle>, 8> Handles_{};
    bool HandlesCreated_ = false;
    bool Moving_ = false;
    bool Resizing_ = false;
    bool Busy_ = false;
    TFrame Frame_;
    int GrabX_ = 0, GrabY_ = 0;
    int DeltaX_ = 0, DeltaY_ = 0;
    int MinDX_ = 0, MaxDX_ = 0, MinDY_ = 0, MaxDY_ = 0;
    QPointer<TResizerFrameOverlay> FrameDC_;
    TRect OldBounds_{};
};

// One grab handle: a BoxSize square filled with BoxColor, outlined in black. Its mouse events
// go to the resizer's handle drag.
class TResizerHandle : public TGraphicControl {
    Q_OBJECT
public:
    TResizerHandle(TControlResizer* resizer, TControlResizer::THandleKind kind);

    TControlResizer::THandleKind Kind() const { return kind_; }
    uint32_t BrushColor() const { return brushColor_; }
    void SetBrushColor(uint32_t color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<TControlResizer> resizer_;
    TControlResizer::THandleKind kind_;
    uint32_t brushColor_ = 0;
};

}  // namespace qil
