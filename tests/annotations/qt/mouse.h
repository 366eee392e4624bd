// Mouse events sent straight to a widget, positions relative to it, for the mark and resizer
// tests. The widget system gives a pressed widget every event until the release; sending the
// events to the pressed widget does the same.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace qil::testing {

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

inline void Press(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, pos, b, b);
}
inline void Move(QWidget* w, QPoint pos, Qt::MouseButtons held = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, held);
}
inline void Release(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton);
}
inline void DoubleClick(QWidget* w, QPoint pos) {
    Press(w, pos);
    Release(w, pos);
    SendMouse(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
    Release(w, pos);
}
// A press, a move to each point, and a release at the last one.
inline void Drag(QWidget* w, QPoint from, std::initializer_list<QPoint> path) {
    Press(w, from);
    QPoint last = from;
    for (QPoint p : path) {
        Move(w, p);
        last = p;
    }
    Release(w, last);
}

}  // namespace qil::testing
