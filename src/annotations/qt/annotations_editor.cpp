#include "annotations/qt/annotations_editor.h"

#include <algorithm>

#include "platform/exceptions.h"

namespace qil {

namespace {

// A stored color (blue, green, red, reserved) as a platform color value.
uint32_t ColorOf(const RGBQUAD& c) {
    return uint32_t{c.rgbRed} + uint32_t{c.rgbGreen} * 256 + uint32_t{c.rgbBlue} * 65536;
}

QString TextOf(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// Leading and trailing blanks and control characters removed.
std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

HGLOBAL CopyBlock(HGLOBAL source) {
    if (!source) return 0;
    size_t size = GlobalSize(source);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!copy) RaiseLastOSError();
    const void* from = GlobalLock(source);
    void* to = GlobalLock(copy);
    if (!from || !to) {
        if (from) GlobalUnlock(source);
        GlobalFree(copy);
        RaiseLastOSError();
    }
    std::copy_n(static_cast<const uint8_t*>(from), size, static_cast<uint8_t*>(to));
    GlobalUnlock(copy);
    GlobalUnlock(source);
    return copy;
}

}  // namespace

TAnnotationsEditor::TAnnotationsEditor(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("AnnotationsEditor")); }

TAnnotationsEditor::~TAnnotationsEditor() { Clear(); }

TGenericMark* TAnnotationsEditor::Marks(int index) const {
    if (index < 0 || index >= MarkCount()) throw EListError(Format("List index out of bounds (%d)", index));
    return Marks_[static_cast<size_t>(index)];
}

void TAnnotationsEditor::Clear() {
    while (!Marks_.empty()) {
        TGenericMark* m = Marks_.back();
        Marks_.pop_back();
        delete m;
    }
    Modified_ = true;
}

void TAnnotationsEditor::MarkDestroyed(TGenericMark* mark) {
    auto it = std::find(Marks_.begin(), Marks_.end(), mark);
    if (it != Marks_.end()) Marks_.erase(it);
}

template <class M>
M* TAnnotationsEditor::AddMark() {
    Modified_ = true;
    auto* m = new M(this);
    Marks_.push_back(m);
    m->SetVisible(Visible_);
    m->SetZoom(ZoomFactor_);
    m->SetParent(Surface_.data());
    return m;
}

TStickNoteMark* TAnnotationsEditor::AddStickNote() { return AddMark<TStickNoteMark>(); }
TRectangleMark* TAnnotationsEditor::AddRectangle() { return AddMark<TRectangleMark>(); }
TTextMark* TAnnotationsEditor::AddText() { return AddMark<TTextMark>(); }
TLineMark* TAnnotationsEditor::AddLine() { return AddMark<TLineMark>(); }
TImageMark* TAnnotationsEditor::AddImage() { return AddMark<TImageMark>(); }

void TAnnotationsEditor::SetSurface(QWidget* control) {
    if (control == Surface_.data()) return;
    Surface_ = control;
    for (TGenericMark* m : Marks_) m->SetParent(control);
}

void TAnnotationsEditor::SetResolution(int32_t dpi) {
    Resolution_ = dpi;
    for (TGenericMark* m : Marks_) m->SetResolution(dpi);
}

void TAnnotationsEditor::SetZoom(double percent) {
    if (percent == ZoomFactor_) return;
    ZoomFactor_ = percent;
    for (size_t i = Marks_.size(); i-- > 0;) Marks_[i]->SetZoom(percent);
}

void TAnnotationsEditor::DeselectAll() {
    for (TGenericMark* m : Marks_) m->SetSelected(false);
}

void TAnnotationsEditor::SetReadOnly(bool value) {
    ReadOnly_ = value;
    DeselectAll();
}

void TAnnotationsEditor::SetVisible(bool value) {
    Visible_ = value;
    for (TGenericMark* m : Marks_) {
        m->SetVisible(value);
        if (!value) m->SetSelected(false);
    }
}

void TAnnotationsEditor::RepaintMarks() {
    for (TGenericMark* m : Marks_) m->Repaint();
}

void TAnnotationsEditor::SetModified(bool value) {
    Modified_ = value;
    for (TGenericMark* m : Marks_) m->SetModified(value);
}

void TAnnotationsEditor::BuildMarks(const TAnnotations& annotations, double zoom, int32_t resolution) {
    Clear();
    SetZoom(zoom);
    SetResolution(resolution);
    for (int32_t i = 0; i < annotations.Count(); ++i) {
        TGenericAnnotation* a = annotations.Items(i);
        if (auto* note = dynamic_cast<TAnnotationAttachANote*>(a)) {
            TStickNoteMark* m = AddStickNote();
            m->SetImageRect(note->Bounds);
            m->SetColor(ColorOf(note->Color1));
            m->SetText(TextOf(note->Text));
            TFont font = LogFontToFont(note->LogFont);
            font.Color = ColorOf(note->Color2);
            m->SetFont(font);
        } else if (dynamic_cast<TAnnotationHollowRectangle*>(a) || dynamic_cast<TAnnotationFilledRectangle*>(a)) {
            TRectangleMark* m = AddRectangle();
            m->SetImageRect(a->Bounds);
            m->SetColor(ColorOf(a->Color1));
            m->SetFilled(dynamic_cast<TAnnotationFilledRectangle*>(a) != nullptr);
            m->SetHighlight(a->Highlighting);
            m->SetPenWidth(a->LineSize);
        } else if (auto* line = dynamic_cast<TGenericLineAnnotation*>(a)) {
            TLineMark* m = AddLine();
            m->SetImageRect(line->Bounds);
            m->SetColor(ColorOf(line->Color1));
            m->SetPenWidth(line->LineSize);
            for (int32_t p = 0; p < line->PointCount(); ++p) m->AddPoint(line->GetPoint(p));
        } else if (auto* text = dynamic_cast<TGenericTextAnnotation*>(a)) {
            TTextMark* m = AddText();
            m->SetImageRect(text->Bounds);
            m->SetText(TextOf(text->Text));
            if (dynamic_cast<TAnnotationTextStamp*>(a)) m->SetText(TextOf(Trim(text->Text)));
            TFont font = LogFontToFont(text->LogFont);
            font.Color = ColorOf(text->Color1);
            m->SetFont(font);
        } else if (auto* image = dynamic_cast<TGenericImageAnnotation*>(a)) {
            TImageMark* m = AddImage();
            m->SetImageRect(image->Bounds);
            m->SetColor(ColorOf(image->Color1));
            if (auto* embedded = dynamic_cast<TAnnotationImageEmbedded*>(a)) {
                m->SetDIB(CopyBlock(embedded->DIBHandle));
            } else {
                QImage bitmap;
                LoadBitmapFromFile(image->FileName, bitmap);
                m->SetDIB(GraphicToDIB(bitmap));
            }
        }
    }
    SetModified(false);
}

}  // namespace qil
