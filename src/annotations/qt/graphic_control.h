// TGraphicControl: the lightweight control the marks and the resizer are made of.
//
// A child widget of the control it is laid over, painted by the widget system after its
// parent, with the behaviour the drawing code expects of a graphic control:
//  - Visible() is the control's own setting. A control without a parent never appears as a
//    window of its own: it stays hidden until it gets a parent, and then shows when Visible()
//    says so. Changing the parent keeps the setting (a plain widget would hide itself).
//  - Bounds are set through SetBounds / SetBoundsRect (left, top, width, height in parent
//    coordinates; a bounds rectangle has exclusive right and bottom edges). Negative sizes
//    count as 0.
//  - The mouse events OnMouseDown, OnMouseMove, OnMouseUp, OnClick and OnDblClick are raised
//    with the control as Sender and positions relative to the control. Click comes with the
//    release of the left button pressed over the control, when the release is inside it, and
//    before OnMouseUp; a double click raises OnDblClick and then OnMouseDown with Double set.
//  - PopupMenu, when given, opens on a context-menu request.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/rect.h"

class QMenu;

namespace qil {

// The keys and buttons held when a mouse event happens.
struct TShiftState {
    Qt::KeyboardModifiers Keys = Qt::NoModifier;
    Qt::MouseButtons Buttons = Qt::NoButton;
    bool Double = false;  // the second press of a double click
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;

class TGraphicControl : public QWidget {
    Q_OBJECT
public:
    explicit TGraphicControl(QWidget* parent = nullptr);

    // The parent control; see the class comment for what happens to visibility.
    virtual void SetParent(QWidget* parent);
    QWidget* Parent() const { return parentWidget(); }

    bool Visible() const { return visible_; }
    void SetVisible(bool value) { setVisible(value); }
    void setVisible(bool value) override;

    // Left, top, width, height in parent coordinates.
    virtual void SetBounds(int left, int top, int width, int height);
    void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }
    TRect BoundsRect() const;
    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    void SetWidth(int value) { SetBounds(x(), y(), value, height()); }
    void SetHeight(int value) { SetBounds(x(), y(), width(), value); }

    // Brings the control in front of its siblings.
    void BringToFront() { raise(); }
    // Asks for a repaint (Invalidate) or paints at once (Repaint).
    void Invalidate() { update(); }
    void Repaint() { repaint(); }

    QMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    // Called after Visible() changed.
    virtual void VisibleChanged() {}

    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(Qt::MouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, TShiftState shift, int x, int y);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool visible_ = true;
    bool reparenting_ = false;
    bool clicked_ = false;  // the left button went down over the control
    QMenu* popupMenu_ = nullptr;
};

// Platform color value 0x00BBGGRR to a Qt color and back.
QColor ColorToQColor(uint32_t color);
uint32_t QColorToColor(const QColor& color);

}  // namespace qil
