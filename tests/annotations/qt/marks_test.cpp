// The marks: geometry from ImageRect and the zoom, line points, selection with the resizer,
// and the rendering of each kind, checked on the grabbed picture of a page with marks on it.
#include <QPainter>
#include <QtTest>
#include <cstring>
#include <memory>

#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/marks.h"
#include "annotations/qt/mouse.h"
#include "dib/dib.h"
#include "failure_of.h"
#include "platform/exceptions.h"

using namespace qil;
using namespace qil::testing;

namespace {

// A page of two colors: the left half PageLeft, the right half PageRight.
constexpr QRgb PageLeft = 0xFF8040C0;
constexpr QRgb PageRight = 0xFF30F070;

class Page : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(0, 0, width() / 2, height(), QColor::fromRgb(PageLeft));
        p.fillRect(width() / 2, 0, width() - width() / 2, height(), QColor::fromRgb(PageRight));
    }
};

// An editor over a shown 400 x 300 page, visible, editable, at 100 % and 96 dpi.
struct Scene {
    Page page;
    TAnnotationsEditor editor;
    Scene(double zoom = 100) {
        page.resize(400, 300);
        editor.SetSurface(&page);
        editor.SetVisible(true);
        editor.SetReadOnly(false);
        editor.SetZoom(zoom);
        editor.SetResolution(96);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
    }
    QImage grab() { return page.grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

QRgb Rgb(uint32_t color) { return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }
QRgb At(const QImage& img, int x, int y) { return img.pixel(x, y) | 0xFF000000; }

// A 2 x 2 picture block (24 bits): red, green on the top row; blue, white below.
HGLOBAL FourColorPicture() {
    TDIB dib;
    dib.CreateNew(2, 2, fmt24Bit, 96, 96);
    dib.SetPixel(0, 0, 0x0000FF);  // raw values: red | green << 8 | blue << 16
    dib.SetPixel(1, 0, 0x00FF00);
    dib.SetPixel(0, 1, 0xFF0000);
    dib.SetPixel(1, 1, 0xFFFFFF);
    dib.OwnsHandle = false;
    HGLOBAL h = dib.GetHandle();
    dib.Clear();
    return h;
}

// A top-down 2 x 2 picture block (negative height), which only the bitmap reader takes:
// red, green on the top row; blue, white below.
HGLOBAL TopDownPicture() {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 2;
    h.biHeight = -2;
    h.biPlanes = 1;
    h.biBitCount = 24;
    const uint8_t rows[16] = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};  // blue, green, red
    HGLOBAL block = GlobalAlloc(GHND, sizeof h + sizeof rows);
    auto* p = static_cast<uint8_t*>(GlobalLock(block));
    std::memcpy(p, &h, sizeof h);
    std::memcpy(p + sizeof h, rows, sizeof rows);
    GlobalUnlock(block);
    return block;
}

}  // namespace

class MarksTest : public QObject {
    Q_OBJECT
private slots:
    void ownerMustBeAnEditor() {
        QObject other;
        QCOMPARE(failureOf([&] { TRectangleMark m(&other); }), std::string("Invalid Parent for Mark"));
        QCOMPARE(failureOf([&] { TLineMark m(nullptr); }), std::string("Invalid Parent for Mark"));
    }

    void defaults() {
        TAnnotationsEditor editor;
        editor.SetResolution(150);
        TStickNoteMark note(&editor);
        QCOMPARE(note.Text(), QString("Nota"));
        QCOMPARE(note.Font().Name, QString("Arial"));
        QCOMPARE(note.Font().Size, 12);
        QCOMPARE(note.Color(), clYellow);
        QCOMPARE(note.Resolution(), 150);
        QVERIFY(!note.Selected() && !note.Modified() && !note.Resizer());
        TRectangleMark rect(&editor);
        QCOMPARE(rect.PenWidth(), 4);
        QVERIFY(rect.Highlight() && rect.Filled());
        QCOMPARE(rect.Color(), clLime);
        TTextMark text(&editor);
        QCOMPARE(text.Text(), QString("Testo"));
        QCOMPARE(text.Font().Color, clBlack);
        QCOMPARE(text.Color(), clYellow);
        TLineMark line(&editor);
        QCOMPARE(line.PenWidth(), 4);
        QCOMPARE(line.Color(), clRed);
        QCOMPARE(line.PointCount(), 0);
        TImageMark image(&editor);
        QCOMPARE(image.DIB(), HGLOBAL{0});
        QCOMPARE(image.Color(), clBlack);
    }

    void boundsFromImageRectAndZoom() {
        TAnnotationsEditor editor;
        editor.SetZoom(50);
        TRectangleMark* m = editor.AddRectangle();
        m->SetImageRect(TRect{10, 10, 31, 31});
        QCOMPARE(m->BoundsRect(), (TRect{5, 5, 16, 16}));  // 15.5 rounds to 16
        QCOMPARE(m->Render()->Width(), 11);
        QCOMPARE(m->Render()->Height(), 11);
        // Ties go to the even neighbour: 0.5, 1.5, 2.5, 3.5.
        m->SetImageRect(TRect{1, 3, 5, 7});
        QCOMPARE(m->BoundsRect(), (TRect{0, 2, 2, 4}));
        // Normalised.
        m->SetImageRect(TRect{30, 40, 10, 20});
        QCOMPARE(m->ImageRect(), (TRect{10, 20, 30, 40}));
        m->SetZoom(200);
        QCOMPARE(m->BoundsRect(), (TRect{20, 40, 60, 80}));
        QCOMPARE(m->Render()->Width(), 42);  // Trunc((20 + 1) x 2)
        m->SetZoom(33);
        QCOMPARE(m->Render()->Width(), 6);  // Trunc(21 x 0.33) = Trunc(6.93)
    }

    void renderUnscaledFails() {
        TAnnotationsEditor editor;
        TLineMark* m = editor.AddLine();
        m->SetImageRect(TRect{0, 0, 9, 9});
        QCOMPARE(failureOf([&] { m->RenderUnscaled(); }), std::string("Non dovrebbe passare di qua..."));
    }

    void linePointsFollowTheRectangle() {
        TAnnotationsEditor editor;
        TLineMark* m = editor.AddLine();
        m->AddPoint(TPoint{10, 10});
        m->AddPoint(TPoint{5, 3});
        m->SetImageRect(TRect{100, 100, 200, 150});  // first rectangle: nothing scaled
        QCOMPARE(m->PointAt(0), (TPoint{10, 10}));
        m->SetImageRect(TRect{100, 100, 150, 250});  // x 50 / 100, y 150 / 50
        QCOMPARE(m->PointAt(0), (TPoint{5, 30}));
        QCOMPARE(m->PointAt(1), (TPoint{2, 9}));  // 2.5 rounds to 2
        QCOMPARE(failureOf([&] { m->PointAt(2); }), std::string("List index out of bounds (2)"));
        m->ClearPoints();
        QCOMPARE(m->PointCount(), 0);
    }

    void rotatePoints() {
        TAnnotationsEditor editor;
        TLineMark* m = editor.AddLine();
        m->SetImageRect(TRect{0, 0, 10, 20});  // w 11, h 21
        struct Row {
            int angle;
            TPoint result;
        };
        const Row rows[] = {{90, {17, 2}}, {180, {8, 17}}, {270, {3, 8}}, {45, {2, 3}}};
        for (const Row& r : rows) {
            m->ClearPoints();
            m->AddPoint(TPoint{2, 3});
            m->RotatePoints(r.angle);
            QCOMPARE(m->PointAt(0), r.result);
            QCOMPARE(m->ImageRect(), (TRect{0, 0, 10, 20}));
        }
    }

    void fontSizes() {
        TAnnotationsEditor editor;
        editor.SetResolution(200);
        editor.SetZoom(100);
        TStickNoteMark* note = editor.AddStickNote();
        TTextMark* text = editor.AddText();
        QCOMPARE(note->RenderFontSize(), 33);  // 12 x 200 / 72 = 33.3
        QCOMPARE(text->RenderFontSize(), 24);  // 12 x Round(2.08)
        editor.SetResolution(240);  // 240 / 96 = 2.5 rounds to 2
        QCOMPARE(text->RenderFontSize(), 24);
        editor.SetResolution(144);  // 1.5 rounds to 2
        editor.SetZoom(25);
        QCOMPARE(text->RenderFontSize(), 6);
        QCOMPARE(note->RenderFontSize(), 6);  // 12 x 144 / 72 x 0.25
    }

    void stickyNoteKeysShadowAndBody() {
        TAnnotationsEditor editor;
        editor.SetZoom(100);
        TStickNoteMark* note = editor.AddStickNote();
        note->SetText(QString());
        note->SetImageRect(TRect{0, 0, 99, 79});  // bitmap 100 x 80, d = Round(2.5) = 2
        auto b = note->Render();
        QVERIFY(b->Transparent);
        QCOMPARE(b->TransparentColor, clGray);
        QCOMPARE(b->Image.pixel(50, 40) | 0xFF000000, Rgb(clYellow));  // body
        QCOMPARE(b->Image.pixel(97, 40) | 0xFF000000, Rgb(clYellow));  // body ends at W - d
        QCOMPARE(b->Image.pixel(98, 40) | 0xFF000000, Rgb(clBlack));   // shadow
        QCOMPARE(b->Image.pixel(50, 78) | 0xFF000000, Rgb(clBlack));
        QCOMPARE(b->Image.pixel(98, 1) | 0xFF000000, Rgb(clGray));     // above the shadow: key
        QCOMPARE(b->Image.pixel(99, 40) | 0xFF000000, Rgb(clWhite));   // the fills leave out the last column
        QCOMPARE(b->Image.pixel(40, 79) | 0xFF000000, Rgb(clWhite));   // and the last row
        note->SetColor(clGray);
        QCOMPARE(note->Render()->TransparentColor, clWhite);
    }

    void stickyNotesOnThePage() {
        // At 50 % the note's bitmap is exactly its bounds, so its unfilled last column shows:
        // white on a yellow note, the page (the key) on a gray one.
        struct Row {
            uint32_t color;
            QRgb lastColumn;
        };
        const Row rows[] = {{clYellow, qRgb(255, 255, 255)}, {clGray, PageLeft}};
        for (const Row& r : rows) {
            Scene s(50);
            TStickNoteMark* note = s.editor.AddStickNote();
            note->SetText(QString());
            note->SetColor(r.color);
            note->SetImageRect(TRect{0, 0, 199, 99});  // bounds and bitmap 100 x 50, d = 2
            QImage shot = s.grab();
            QCOMPARE(At(shot, 50, 25), Rgb(r.color));
            QCOMPARE(At(shot, 98, 25), Rgb(clBlack));
            QCOMPARE(At(shot, 99, 25), r.lastColumn);
            QCOMPARE(At(shot, 98, 1), PageLeft);  // the key above the shadow is not drawn
            QCOMPARE(At(shot, 120, 25), PageLeft);
        }
        // Text is drawn on the body.
        Scene s;
        TStickNoteMark* note = s.editor.AddStickNote();
        note->SetImageRect(TRect{0, 0, 199, 99});
        QImage shot = s.grab();
        int dark = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 150; ++x) dark += qGray(shot.pixel(x, y)) < 100;
        QVERIFY(dark > 20);
    }

    void hollowRectangleShowsThePageThroughItsKey() {
        Scene s;
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetFilled(false);
        m->SetHighlight(true);  // a transparent bitmap ignores the copy mode
        m->SetColor(clBlue);
        m->SetPenWidth(1);
        m->SetImageRect(TRect{20, 20, 120, 100});  // widget 100 x 80, bitmap 101 x 81
        QImage shot = s.grab();
        QCOMPARE(At(shot, 20, 20), Rgb(clBlue));
        QCOMPARE(At(shot, 60, 20), Rgb(clBlue));
        QCOMPARE(At(shot, 20, 60), Rgb(clBlue));
        QCOMPARE(At(shot, 60, 60), PageLeft);  // white key: the page shows
        QCOMPARE(At(shot, 21, 21), PageLeft);
        QCOMPARE(At(shot, 10, 10), PageLeft);
        // A white outline is keyed on black.
        m->SetColor(clWhite);
        QCOMPARE(m->Render()->TransparentColor, clBlack);
        shot = s.grab();
        QCOMPARE(At(shot, 20, 40), Rgb(clWhite));
        QCOMPARE(At(shot, 60, 60), PageLeft);
        // The pen width is not scaled by the zoom.
        m->SetColor(clRed);
        m->SetPenWidth(6);
        s.editor.SetZoom(50);
        auto b = m->Render();
        QCOMPARE(b->Image.pixel(2, 25) | 0xFF000000, Rgb(clRed));
        QCOMPARE(b->Image.pixel(5, 25) | 0xFF000000, Rgb(clWhite));
    }

    void highlightedFilledRectangleIsAndedOverThePage() {
        Scene s;
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetColor(clYellow);  // red and green: AND keeps them and drops the blue
        m->SetImageRect(TRect{150, 50, 250, 150});  // across both halves of the page
        QImage shot = s.grab();
        QCOMPARE(At(shot, 160, 100), PageLeft & 0xFFFFFF00);
        QCOMPARE(At(shot, 240, 100), PageRight & 0xFFFFFF00);
        QCOMPARE(At(shot, 140, 100), PageLeft);
        m->SetHighlight(false);
        shot = s.grab();
        QCOMPARE(At(shot, 160, 100), Rgb(clYellow));
        QCOMPARE(At(shot, 240, 100), Rgb(clYellow));
    }

    void linePenWidthFollowsTheZoom() {
        struct Row {
            int penWidth;
            double zoom;
            int pixels;  // rows covered by a horizontal line
        };
        const Row rows[] = {{1, 25, 1}, {4, 25, 1}, {1, 100, 1}, {4, 100, 4}, {8, 50, 4}, {2, 20, 1}};
        for (const Row& r : rows) {
            Scene s(r.zoom);
            TLineMark* m = s.editor.AddLine();
            m->SetPenWidth(r.penWidth);
            m->SetImageRect(TRect{0, 0, 799, 599});
            m->AddPoint(TPoint{40, 200});
            m->AddPoint(TPoint{720, 200});
            m->AddPoint(TPoint{720, 560});
            QCOMPARE(m->RenderPenWidth(), r.pixels);
            QImage shot = s.grab();
            int x = static_cast<int>(300 * r.zoom / 100);
            int covered = 0;
            for (int y = 0; y < shot.height(); ++y) covered += At(shot, x, y) == Rgb(clRed);
            QCOMPARE(covered, r.pixels);
            // The key leaves the page visible beside the line.
            QCOMPARE(At(shot, x, static_cast<int>(100 * r.zoom / 100)), x < 200 ? PageLeft : PageRight);
        }
    }

    void textMarkIsOpaqueWithItsText() {
        Scene s;
        TTextMark* m = s.editor.AddText();
        m->SetText(QStringLiteral("Hello"));
        m->SetImageRect(TRect{10, 10, 209, 69});
        QImage shot = s.grab();
        QCOMPARE(At(shot, 150, 60), Rgb(clWhite));  // white background, not keyed by yellow
        int dark = 0;
        for (int y = 10; y < 70; ++y)
            for (int x = 10; x < 210; ++x) dark += qGray(shot.pixel(x, y)) < 100;
        QVERIFY(dark > 20);
        // White text on black; with the key on black only the text is drawn.
        TFont f = m->Font();
        f.Color = clWhite;
        m->SetFont(f);
        QCOMPARE(m->Render()->Image.pixel(199, 59) | 0xFF000000, Rgb(clBlack));
        m->SetColor(clBlack);
        shot = s.grab();
        QCOMPARE(At(shot, 150, 60), PageLeft);
    }

    void imageMarkStretchesItsPicture() {
        Scene s;
        TImageMark* m = s.editor.AddImage();
        m->SetColor(clBlue);
        m->SetImageRect(TRect{100, 100, 140, 140});  // bitmap 41 x 41, picture into 40 x 40
        QImage shot = s.grab();
        QCOMPARE(At(shot, 120, 120), Rgb(clBlue));
        m->SetDIB(FourColorPicture());
        shot = s.grab();
        QCOMPARE(At(shot, 105, 105), qRgb(255, 0, 0));
        QCOMPARE(At(shot, 135, 105), qRgb(0, 255, 0));
        QCOMPARE(At(shot, 105, 135), qRgb(0, 0, 255));
        QCOMPARE(At(shot, 135, 135), qRgb(255, 255, 255));
        m->SetDIB(TopDownPicture());
        shot = s.grab();
        QCOMPARE(At(shot, 105, 105), qRgb(255, 0, 0));
        QCOMPARE(At(shot, 135, 105), qRgb(0, 255, 0));
        QCOMPARE(At(shot, 105, 135), qRgb(0, 0, 255));
        QCOMPARE(At(shot, 135, 135), qRgb(255, 255, 255));
        size_t blocks = GlobalBlockCount();
        m->SetDIB(FourColorPicture());  // the previous block is released
        QCOMPARE(GlobalBlockCount(), blocks);
        s.editor.Clear();
        QCOMPARE(GlobalBlockCount(), blocks - 1);
    }

    void shrunkPicturesKeepBlackWhenBilevel() {
        // Four columns into two: a bilevel picture ANDs each pair (black wins), a color
        // picture takes the first pixel of each pair.
        struct Row {
            uint8_t format;
            uint32_t first, second;  // the colors of the two left columns
            QRgb shown;
        };
        const Row rows[] = {{fmt1Bit, 0xFFFFFF, 0x000000, qRgb(0, 0, 0)}, {fmt24Bit, 0x0000FF, 0xFF0000, qRgb(255, 0, 0)}};
        for (const Row& r : rows) {
            TDIB dib;
            dib.CreateNew(4, 2, r.format, 96, 96);
            if (r.format == fmt1Bit) {
                dib.SetPaletteEntry(0, 0x000000);
                dib.SetPaletteEntry(1, 0xFFFFFF);
                for (int y = 0; y < 2; ++y)
                    for (int x = 0; x < 4; ++x) dib.SetPixel(x, y, x == 1 ? 0 : 1);
            } else {
                for (int y = 0; y < 2; ++y) {
                    dib.SetPixel(0, y, static_cast<int32_t>(r.first));  // raw: red in the low byte
                    dib.SetPixel(1, y, static_cast<int32_t>(r.second));
                    dib.SetPixel(2, y, 0xFFFFFF);
                    dib.SetPixel(3, y, 0xFFFFFF);
                }
            }
            dib.OwnsHandle = false;
            HGLOBAL block = dib.GetHandle();
            dib.Clear();
            Scene s;
            TImageMark* m = s.editor.AddImage();
            m->SetImageRect(TRect{100, 100, 102, 101});  // bitmap 3 x 2, picture into 2 x 1
            m->SetDIB(block);
            QImage shot = s.grab();
            QCOMPARE(At(shot, 100, 100), r.shown);
            QCOMPARE(At(shot, 101, 100), qRgb(255, 255, 255));
        }
    }

    void picturesThroughBitmapFiles() {
        QImage picture(3, 2, QImage::Format_RGB32);
        const QRgb colors[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF102030, 0xFFFFFFFF, 0xFF000000};
        for (int i = 0; i < 6; ++i) picture.setPixel(i % 3, i / 3, colors[i]);
        HGLOBAL block = GraphicToDIB(picture);
        QVERIFY(block);
        const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(block));
        QCOMPARE(header->biSize, 40u);
        QCOMPARE(header->biWidth, 3);
        QCOMPARE(header->biHeight, 2);
        GlobalUnlock(block);
        QImage back;
        DIBToGraphic(block, back);
        QCOMPARE(back.size(), QSize(3, 2));
        for (int i = 0; i < 6; ++i) QCOMPARE(back.pixel(i % 3, i / 3) | 0xFF000000, colors[i]);
        GlobalFree(block);
        QCOMPARE(GraphicToDIB(QImage()), HGLOBAL{0});
        DIBToGraphic(0, back);  // nothing happens
        QCOMPARE(back.size(), QSize(3, 2));
        // A block of an engine image (bits offset 0 in the built file header).
        HGLOBAL engine = FourColorPicture();
        DIBToGraphic(engine, back);
        QCOMPARE(back.pixel(0, 0) | 0xFF000000, qRgb(255, 0, 0));
        QCOMPARE(back.pixel(1, 1) | 0xFF000000, qRgb(255, 255, 255));
        GlobalFree(engine);
    }

    void logFontToFont() {
        TLogFontA lf{};
        lf.lfHeight = 20;
        lf.lfWeight = 700;
        lf.lfItalic = 1;
        lf.lfStrikeOut = 5;
        std::memcpy(lf.lfFaceName, "Courier New", 12);
        TFont f = LogFontToFont(lf);
        QCOMPARE(f.Name, QString("Courier New"));
        QCOMPARE(f.Size, 20);
        QVERIFY(f.Bold && f.Italic && f.StrikeOut && !f.Underline);
        lf.lfWeight = 699;
        std::memset(lf.lfFaceName, 'A', 32);  // no NUL: 32 characters at most
        f = LogFontToFont(lf);
        QVERIFY(!f.Bold);
        QCOMPARE(f.Name, QString(32, QLatin1Char('A')));
    }

    void selectionAndItsResizer() {
        Scene s;
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetImageRect(TRect{50, 60, 150, 120});
        m->SetSelected(true);
        TControlResizer* r = m->Resizer();
        QVERIFY(r);
        QCOMPARE(r->BoundsRect(), m->BoundsRect());
        QCOMPARE(r->TargetControl(), static_cast<QWidget*>(m));
        QCOMPARE(r->BoxColor(), clBlue);
        QVERIFY(r->Visible() && r->Movable() && r->Resizable());
        QCOMPARE(r->Handle(TControlResizer::hkTopLeft)->geometry().topLeft(), QPoint(48, 58));
        m->SetSelected(true);  // already selected: nothing changes
        QCOMPARE(m->Resizer(), r);
        m->SetSelected(false);  // hidden, kept
        QCOMPARE(m->Resizer(), r);
        QVERIFY(!r->isVisible());
        QVERIFY(!r->Handle(TControlResizer::hkTop)->isVisible());
        // Zoom changes carry the resizer along with a selected mark.
        m->SetSelected(true);
        s.editor.SetZoom(50);
        QCOMPARE(r->BoundsRect(), (TRect{25, 30, 75, 60}));
    }

    void dragsOfASelectedMark() {
        Scene s;
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetImageRect(TRect{50, 60, 150, 120});
        m->SetSelected(true);
        TControlResizer* r = m->Resizer();
        Drag(r, QPoint(30, 30), {QPoint(35, 28), QPoint(40, 26)});
        QCOMPARE(m->ImageRect(), (TRect{60, 56, 160, 116}));
        QCOMPARE(m->BoundsRect(), (TRect{60, 56, 160, 116}));
        QCOMPARE(r->BoundsRect(), m->BoundsRect());  // laid over the mark again
        QVERIFY(m->Modified());
        // At 50 % the new bounds go back to image pixels: each / 0.5.
        s.editor.SetZoom(50);
        QCOMPARE(m->BoundsRect(), (TRect{30, 28, 80, 58}));
        Drag(r->Handle(TControlResizer::hkRight), QPoint(2, 2), {QPoint(12, 2)});
        QCOMPARE(m->ImageRect(), (TRect{60, 56, 180, 116}));
        QCOMPARE(m->BoundsRect(), (TRect{30, 28, 90, 58}));
    }

    void readOnlyMarksShowHandlesButDoNotMove() {
        Scene s;
        s.editor.SetReadOnly(true);
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetImageRect(TRect{50, 60, 150, 120});
        m->SetSelected(true);
        TControlResizer* r = m->Resizer();
        QVERIFY(!r->Movable() && !r->Resizable());
        for (int k = 0; k < 8; ++k) QVERIFY(r->Handle(static_cast<TControlResizer::THandleKind>(k))->isVisible());
        Drag(r, QPoint(30, 30), {QPoint(45, 40)});
        Drag(r->Handle(TControlResizer::hkBottomRight), QPoint(2, 2), {QPoint(30, 30)});
        QCOMPARE(m->ImageRect(), (TRect{50, 60, 150, 120}));
        QCOMPARE(r->BoundsRect(), (TRect{50, 60, 150, 120}));
        QVERIFY(!m->Modified());
        QVERIFY(r->Handle(TControlResizer::hkBottomRight)->isVisible());
        // Read-only takes effect at the next selection.
        s.editor.SetReadOnly(false);  // deselects
        QVERIFY(!m->Selected());
        m->SetSelected(true);
        QVERIFY(r->Movable() && r->Resizable());
    }

    void paintingFailuresAreSwallowed() {
        Scene s;
        TRectangleMark* m = s.editor.AddRectangle();
        m->SetImageRect(TRect{0, 0, 2000000, 2000000});  // no bitmap that large is made
        QImage shot = s.grab();
        QCOMPARE(At(shot, 10, 10), PageLeft);
    }
};

QTEST_MAIN(MarksTest)
#include "marks_test.moc"
