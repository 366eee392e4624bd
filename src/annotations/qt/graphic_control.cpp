#include "annotations/qt/graphic_control.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

namespace qil {

namespace {

TShiftState ShiftOf(const QMouseEvent* event, bool isDouble = false) {
    return TShiftState{event->modifiers(), event->buttons(), isDouble};
}

}  // namespace

TGraphicControl::TGraphicControl(QWidget* parent) : QWidget(parent) {
    // Painted over the parent's own picture: nothing is erased first.
    setAutoFillBackground(false);
    setMouseTracking(true);
    QWidget::setVisible(parent != nullptr);
}

void TGraphicControl::SetParent(QWidget* parent) {
    if (parent == parentWidget()) return;
    bool keep = visible_;
    reparenting_ = true;
    QWidget::setParent(parent);  // hides the widget
    reparenting_ = false;
    visible_ = keep;
    if (parent && keep) QWidget::setVisible(true);
}

void TGraphicControl::setVisible(bool value) {
    if (reparenting_) {
        QWidget::setVisible(value);
        return;
    }
    bool changed = value != visible_;
    visible_ = value;
    // Without a parent a widget would become a window: it stays hidden until it has one.
    if (!value || parentWidget()) QWidget::setVisible(value);
    if (changed) VisibleChanged();
}

void TGraphicControl::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width < 0 ? 0 : width, height < 0 ? 0 : height);
}

TRect TGraphicControl::BoundsRect() const { return TRect{x(), y(), x() + width(), y() + height()}; }

void TGraphicControl::Click() {
    if (OnClick) OnClick(this);
}

void TGraphicControl::DblClick() {
    if (OnDblClick) OnDblClick(this);
}

void TGraphicControl::MouseDown(Qt::MouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TGraphicControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TGraphicControl::MouseUp(Qt::MouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TGraphicControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) clicked_ = true;
    QPoint p = event->position().toPoint();
    MouseDown(event->button(), ShiftOf(event), p.x(), p.y());
}

void TGraphicControl::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    MouseMove(ShiftOf(event), p.x(), p.y());
}

void TGraphicControl::mouseReleaseEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && clicked_) {
        clicked_ = false;
        if (rect().contains(p)) Click();
    }
    MouseUp(event->button(), ShiftOf(event), p.x(), p.y());
}

void TGraphicControl::mouseDoubleClickEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) DblClick();
    MouseDown(event->button(), ShiftOf(event, true), p.x(), p.y());
}

void TGraphicControl::contextMenuEvent(QContextMenuEvent* event) {
    if (popupMenu_) {
        popupMenu_->popup(event->globalPos());
        event->accept();
    } else {
        QWidget::contextMenuEvent(event);
    }
}

QColor ColorToQColor(uint32_t color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF), static_cast<int>((color >> 16) & 0xFF));
}

uint32_t QColorToColor(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
           static_cast<uint32_t>(color.blue()) << 16;
}

}  // namespace qil
