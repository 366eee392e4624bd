// TAnnotationsEditor: owns the marks of the displayed page and keeps them in step with the
// viewer's zoom and resolution.
//
// A non-visual object. New marks go onto Surface (the viewer's display panel), take the
// editor's visibility and zoom when created, and its resolution; ReadOnly decides at each
// selection whether a selected mark's resizer may move or resize it. The marks' clicks and
// mouse events are raised as the editor's events with the mark as Sender.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <vector>

#include "annotations/annotations.h"
#include "annotations/qt/graphic_control.h"
#include "annotations/qt/marks.h"

class QMenu;

namespace qil {

class TAnnotationsEditor : public QObject {
    Q_OBJECT
public:
    // No marks, Visible false, ReadOnly true, Modified false, ZoomFactor 0.
    explicit TAnnotationsEditor(QObject* owner = nullptr);
    // Clear.
    ~TAnnotationsEditor() override;

    TGenericMark* Marks(int index) const;  // EListError outside the list
    int MarkCount() const { return static_cast<int>(Marks_.size()); }

    // Frees every mark, last first; Modified := true.
    void Clear();
    // Each: Modified := true; a new mark owned by the editor, appended, visible when Visible,
    // at ZoomFactor, on Surface.
    TStickNoteMark* AddStickNote();
    TRectangleMark* AddRectangle();
    TTextMark* AddText();
    TLineMark* AddLine();
    TImageMark* AddImage();

    QWidget* Surface() const { return Surface_; }
    // When different: stored, and made the parent of every mark.
    void SetSurface(QWidget* control);
    const TRect& DisplayRect() const { return DisplayRect_; }
    void SetDisplayRect(const TRect& rect) { DisplayRect_ = rect; }
    int32_t Resolution() const { return Resolution_; }
    // Stored and handed to every mark.
    void SetResolution(int32_t dpi);
    double ZoomFactor() const { return ZoomFactor_; }
    // When different: stored and handed to every mark, last first.
    void SetZoom(double percent);
    bool ReadOnly() const { return ReadOnly_; }
    // Stored; DeselectAll.
    void SetReadOnly(bool value);
    bool Visible() const { return Visible_; }
    // Stored; every mark shown or hidden, and deselected when hidden.
    void SetVisible(bool value);
    bool Modified() const { return Modified_; }
    // For the editor and every mark.
    void SetModified(bool value);
    QMenu* PopupMenu() const { return PopupMenu_; }
    void SetPopupMenu(QMenu* menu) { PopupMenu_ = menu; }

    void DeselectAll();
    void RepaintMarks();

    // The marks of a page: Clear; SetZoom(Zoom); SetResolution(Resolution); one mark per
    // annotation in collection order; SetModified(false). A referenced picture file that is
    // missing or not a bitmap raises the loading exception and stops the build (the marks
    // made so far stay).
    void BuildMarks(const TAnnotations& annotations, double zoom, int32_t resolution);

    TNotifyEvent OnMarkClick;
    TNotifyEvent OnMarkDblClick;
    TMouseEvent OnMarkMouseDown;
    TMouseMoveEvent OnMarkMouseMove;
    TMouseEvent OnMarkMouseUp;

private:
    friend class TGenericMark;
    template <class M>
    M* AddMark();
    // A mark that was destroyed by someone else (its surface going away) leaves the list.
    void MarkDestroyed(TGenericMark* mark);

    QPointer<QWidget> Surface_;
    int32_t Resolution_ = 0;
    TRect DisplayRect_{};
    bool Visible_ = false;
    std::vector<TGenericMark*> Marks_;
    double ZoomFactor_ = 0;
    bool ReadOnly_ = true;
    bool Modified_ = false;
    QMenu* PopupMenu_ = nullptr;
};

// Editor.BuildMarks(Annotations, Zoom, Resolution), for the viewer.
inline void BuildMarks(TAnnotationsEditor& editor, const TAnnotations& annotations, double zoom, int32_t resolution) {
    editor.BuildMarks(annotations, zoom, resolution);
}

}  // namespace qil
