// TAnnotationsEditor: its operations and events, and BuildMarks on annotated TIFF files
// written by the tests.
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

#include "annotations/annotation_writer.h"
#include "annotations/annotations.h"
#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/mouse.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;
using namespace qil::testing;

namespace {

void WriteFile(const QString& name, const Bytes& bytes) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

MarkAttrs Attrs(uint32_t type, TRect bounds, std::array<uint8_t, 3> bgr1 = {0, 0, 0}, std::array<uint8_t, 3> bgr2 = {0, 0, 0}) {
    MarkAttrs a;
    a.markType = type;
    a.left = bounds.Left, a.top = bounds.Top, a.right = bounds.Right, a.bottom = bounds.Bottom;
    a.color1[0] = bgr1[0], a.color1[1] = bgr1[1], a.color1[2] = bgr1[2];
    a.color2[0] = bgr2[0], a.color2[1] = bgr2[1], a.color2[2] = bgr2[2];
    return a;
}

void SetLogFont(MarkAttrs& a, int32_t height, int32_t weight, uint8_t italic, const char* face) {
    TLogFontA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfItalic = italic;
    std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName);
    std::memcpy(a.logFont, &lf, sizeof lf);
}

// The bytes of a packed 2 x 1 24-bit DIB: red, then blue.
Bytes TwoPixelDIB() {
    TDIB dib;
    dib.CreateNew(2, 1, fmt24Bit, 96, 96);
    dib.SetPixel(0, 0, 0x0000FF);
    dib.SetPixel(1, 0, 0xFF0000);
    const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(dib.GetHandle()));
    Bytes b(p, p + GlobalSize(dib.GetHandle()));
    GlobalUnlock(dib.GetHandle());
    return b;
}

struct Fixture {
    QTemporaryDir dir;
    QWidget surface;
    TAnnotationsEditor editor;
    Fixture() {
        surface.resize(600, 600);
        editor.SetSurface(&surface);
    }
    // Loads the annotations of a one-page TIFF file holding Data and builds the marks.
    void Build(const AnnoData& data, double zoom = 100, int32_t resolution = 200) {
        QString name = dir.filePath(QStringLiteral("page.tif"));
        WriteFile(name, BuildTiff(false, {{AnnotationTag(data.bytes)}}).bytes);
        TAnnotations annotations;
        annotations.LoadFromFile(name.toStdString(), 0);
        editor.BuildMarks(annotations, zoom, resolution);
    }
};

}  // namespace

class AnnotationsEditorTest : public QObject {
    Q_OBJECT
private slots:
    void defaults() {
        TAnnotationsEditor e;
        QCOMPARE(e.MarkCount(), 0);
        QVERIFY(!e.Visible());
        QVERIFY(e.ReadOnly());
        QVERIFY(!e.Modified());
        QCOMPARE(e.ZoomFactor(), 0.0);
        QVERIFY(!e.Surface());
    }

    void addTakesTheEditorsSettings() {
        QWidget surface;
        TAnnotationsEditor e;
        e.SetZoom(50);
        e.SetResolution(300);
        e.SetSurface(&surface);
        TGenericMark* marks[] = {e.AddStickNote(), e.AddRectangle(), e.AddText(), e.AddLine(), e.AddImage()};
        QVERIFY(e.Modified());
        QCOMPARE(e.MarkCount(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(e.Marks(i), marks[i]);
            QCOMPARE(marks[i]->Parent(), &surface);
            QCOMPARE(marks[i]->ZoomFactor(), 50.0);
            QCOMPARE(marks[i]->Resolution(), 300);
            QVERIFY(!marks[i]->Visible());
            QCOMPARE(marks[i]->Editor(), &e);
        }
        QVERIFY(qobject_cast<TStickNoteMark*>(marks[0]) && qobject_cast<TImageMark*>(marks[4]));
        bool threw = false;
        try {
            e.Marks(5);
        } catch (const EListError&) {
            threw = true;
        }
        QVERIFY(threw);
        // Visibility, zoom, resolution, parent and Modified reach every mark.
        e.SetVisible(true);
        for (TGenericMark* m : marks) QVERIFY(m->Visible());
        e.SetResolution(96);
        e.SetZoom(200);
        QWidget other;
        e.SetSurface(&other);
        e.SetModified(true);
        for (TGenericMark* m : marks) {
            QCOMPARE(m->Resolution(), 96);
            QCOMPARE(m->ZoomFactor(), 200.0);
            QCOMPARE(m->Parent(), &other);
            QVERIFY(m->Visible());
            QVERIFY(m->Modified());
        }
        e.SetModified(false);
        QVERIFY(!marks[2]->Modified() && !e.Modified());
        // Hiding deselects; read-only deselects.
        marks[1]->SetSelected(true);
        e.SetVisible(false);
        QVERIFY(!marks[1]->Selected());
        QVERIFY(!marks[1]->Visible());
        e.SetVisible(true);
        marks[1]->SetSelected(true);
        marks[3]->SetSelected(true);
        e.SetReadOnly(true);
        QVERIFY(!marks[1]->Selected() && !marks[3]->Selected());
        QPointer<TGenericMark> first = marks[0];
        e.Clear();
        QCOMPARE(e.MarkCount(), 0);
        QVERIFY(first.isNull());
        QVERIFY(e.Modified());
    }

    void surfaceGoingAwayTakesItsMarks() {
        TAnnotationsEditor e;
        auto* surface = new QWidget;
        e.SetSurface(surface);
        e.AddRectangle();
        e.AddLine();
        delete surface;
        QCOMPARE(e.MarkCount(), 0);
    }

    void markEventsAreTheEditors() {
        QWidget surface;
        surface.resize(300, 300);
        TAnnotationsEditor e;
        e.SetSurface(&surface);
        e.SetVisible(true);
        e.SetZoom(100);
        surface.show();
        QVERIFY(QTest::qWaitForWindowExposed(&surface));
        TRectangleMark* m = e.AddRectangle();
        m->SetImageRect(TRect{10, 10, 110, 60});
        std::vector<std::string> log;
        auto name = [&](QObject* sender) { return sender == m ? std::string("mark") : std::string("other"); };
        e.OnMarkClick = [&](QObject* s) { log.push_back("click " + name(s)); };
        e.OnMarkDblClick = [&](QObject* s) { log.push_back("dblclick " + name(s)); };
        e.OnMarkMouseDown = [&](QObject* s, Qt::MouseButton b, TShiftState shift, int x, int y) {
            std::string entry = "down " + name(s);
            entry += b == Qt::LeftButton ? " left " : " other ";
            entry += std::to_string(x);
            entry += ",";
            entry += std::to_string(y);
            if (shift.Double) entry += " double";
            log.push_back(entry);
        };
        e.OnMarkMouseMove = [&](QObject* s, TShiftState, int x, int y) {
            std::string entry = "move " + name(s) + " ";
            entry += std::to_string(x);
            entry += ",";
            entry += std::to_string(y);
            log.push_back(entry);
        };
        e.OnMarkMouseUp = [&](QObject* s, Qt::MouseButton, TShiftState, int x, int y) {
            std::string entry = "up " + name(s) + " ";
            entry += std::to_string(x);
            entry += ",";
            entry += std::to_string(y);
            log.push_back(entry);
        };
        Press(m, QPoint(5, 6));
        Move(m, QPoint(7, 8));
        Release(m, QPoint(7, 8));
        std::vector<std::string> expected = {"down mark left 5,6", "move mark 7,8", "click mark", "up mark 7,8"};
        QCOMPARE(log, expected);
        log.clear();
        // Released outside the mark: no click.
        Press(m, QPoint(5, 6));
        Release(m, QPoint(500, 6));
        expected = {"down mark left 5,6", "up mark 500,6"};
        QCOMPARE(log, expected);
        log.clear();
        SendMouse(m, QEvent::MouseButtonDblClick, QPoint(3, 4), Qt::LeftButton, Qt::LeftButton);
        expected = {"dblclick mark", "down mark left 3,4 double"};
        QCOMPARE(log, expected);
        log.clear();
        // A selected mark lies under its resizer; a double click there is still the mark's.
        m->SetSelected(true);
        SendMouse(m->Resizer(), QEvent::MouseButtonDblClick, QPoint(3, 4), Qt::LeftButton, Qt::LeftButton);
        // The button is no longer down (as after a dialog that took the release): no drag starts.
        QVERIFY(!m->Resizer()->Moving());
        QVERIFY(!m->Resizer()->FrameOverlay());
        expected = {"dblclick mark"};
        QCOMPARE(log, expected);
    }

    void buildMarksInCollectionOrder() {
        Fixture f;
        MarkAttrs stamp = Attrs(amtTextStamp, TRect{100, 100, 300, 150}, {0, 0, 0}, {0, 0, 0});
        stamp.color1[0] = 0x30, stamp.color1[1] = 0x20, stamp.color1[2] = 0x10;  // blue, green, red
        SetLogFont(stamp, 14, 400, 0, "Times New Roman");
        AnnoData data;
        data.Mark(Attrs(amtHollowRectangle, TRect{10, 20, 110, 220}, {0x00, 0x00, 0xFF}))
            .Mark(stamp)
            .ForMark("OiAnText", TextData(750, " \tAPPROVED \r\n"))
            .Mark(Attrs(amtStraightLine, TRect{50, 50, 150, 80}, {0xFF, 0, 0}))
            .ForMark("OiAnoDat", PointData({{0, 0}, {100, 30}}));
        f.Build(data, 50, 300);
        QCOMPARE(f.editor.MarkCount(), 3);
        QCOMPARE(f.editor.ZoomFactor(), 50.0);
        QCOMPARE(f.editor.Resolution(), 300);
        QVERIFY(!f.editor.Modified());
        auto* rect = qobject_cast<TRectangleMark*>(f.editor.Marks(0));
        auto* text = qobject_cast<TTextMark*>(f.editor.Marks(1));
        auto* line = qobject_cast<TLineMark*>(f.editor.Marks(2));
        QVERIFY(rect && text && line);
        QCOMPARE(rect->ImageRect(), (TRect{10, 20, 110, 220}));
        QCOMPARE(rect->BoundsRect(), (TRect{5, 10, 55, 110}));
        QCOMPARE(rect->Color(), clRed);  // stored blue 0, green 0, red 255
        QVERIFY(!rect->Filled());
        QVERIFY(!rect->Highlight());
        QCOMPARE(rect->PenWidth(), 3);
        QCOMPARE(text->Text(), QString("APPROVED"));
        QCOMPARE(text->Color(), clYellow);  // the mark's own default
        QCOMPARE(text->Font().Color, 0x302010u);  // red + green x 256 + blue x 65536
        QCOMPARE(text->Font().Name, QString("Times New Roman"));
        QCOMPARE(text->Font().Size, 14);
        QCOMPARE(line->PointCount(), 2);
        QCOMPARE(line->PointAt(1), (TPoint{100, 30}));
        QCOMPARE(line->Color(), clBlue);
        for (int i = 0; i < 3; ++i) QVERIFY(!f.editor.Marks(i)->Modified());
        // A second build starts over.
        f.Build(AnnoData().Mark(Attrs(amtFilledRectangle, TRect{0, 0, 9, 9})), 100, 200);
        QCOMPARE(f.editor.MarkCount(), 1);
        QVERIFY(qobject_cast<TRectangleMark*>(f.editor.Marks(0))->Filled());
    }

    void buildMarksOfEveryKind() {
        Fixture f;
        MarkAttrs note = Attrs(amtAttachANote, TRect{0, 0, 99, 99}, {0x00, 0xFF, 0xFF}, {0x00, 0x00, 0x80});
        SetLogFont(note, 20, 700, 1, "Arial");
        MarkAttrs filled = Attrs(amtFilledRectangle, TRect{5, 5, 50, 50}, {0x00, 0xFF, 0x00});
        filled.highlighting = 1;
        filled.lineSize = 7;
        MarkAttrs free = Attrs(amtFreeHandLine, TRect{0, 0, 40, 40});
        free.lineSize = 2;
        AnnoData data;
        data.Mark(note)
            .ForMark("OiAnText", TextData(240, "  note text  "))
            .Mark(filled)
            .Mark(free)
            .ForMark("OiAnoDat", PointData({{1, 1}, {2, 2}, {3, 3}}))
            .Mark(Attrs(amtTypedRectangle, TRect{0, 0, 30, 30}))
            .ForMark("OiAnText", TextData(750, "  typed  "))
            .Mark(Attrs(amtOCRRegion, TRect{0, 0, 30, 30}))
            .Mark(Attrs(amtImageEmbedded, TRect{10, 10, 20, 20}, {0x11, 0x22, 0x33}))
            .ForMark("OiDIB", TwoPixelDIB());
        f.Build(data);
        QCOMPARE(f.editor.MarkCount(), 6);
        auto* n = qobject_cast<TStickNoteMark*>(f.editor.Marks(0));
        QVERIFY(n);
        QCOMPARE(n->Color(), clYellow);
        QCOMPARE(n->Text(), QString("  note text  "));  // only text stamps are trimmed
        QCOMPARE(n->Font().Color, 0x000080u);
        QVERIFY(n->Font().Bold && n->Font().Italic);
        QCOMPARE(n->Font().Size, 20);
        auto* r = qobject_cast<TRectangleMark*>(f.editor.Marks(1));
        QVERIFY(r && r->Filled() && r->Highlight());
        QCOMPARE(r->PenWidth(), 7);
        QCOMPARE(r->Color(), clLime);
        auto* l = qobject_cast<TLineMark*>(f.editor.Marks(2));
        QVERIFY(l);
        QCOMPARE(l->PointCount(), 3);
        QCOMPARE(l->PenWidth(), 2);
        auto* t = qobject_cast<TTextMark*>(f.editor.Marks(3));
        QVERIFY(t);
        QCOMPARE(t->Text(), QString("  typed  "));
        QVERIFY(qobject_cast<TTextMark*>(f.editor.Marks(4)));
        auto* img = qobject_cast<TImageMark*>(f.editor.Marks(5));
        QVERIFY(img && img->DIB());
        QCOMPARE(img->Color(), 0x112233u);
    }

    void embeddedPicturesOutliveTheCollection() {
        Fixture f;
        QString name = f.dir.filePath(QStringLiteral("embedded.tif"));
        AnnoData data;
        data.Mark(Attrs(amtImageEmbedded, TRect{0, 0, 9, 9})).ForMark("OiDIB", TwoPixelDIB());
        WriteFile(name, BuildTiff(false, {{AnnotationTag(data.bytes)}}).bytes);
        HGLOBAL stored = 0;
        {
            TAnnotations annotations;
            annotations.LoadFromFile(name.toStdString(), 0);
            stored = static_cast<TAnnotationImageEmbedded*>(annotations.Items(0))->DIBHandle;
            f.editor.BuildMarks(annotations, 100, 200);
        }
        auto* img = qobject_cast<TImageMark*>(f.editor.Marks(0));
        QVERIFY(img->DIB() && img->DIB() != stored);
        QImage picture;
        DIBToGraphic(img->DIB(), picture);
        QCOMPARE(picture.size(), QSize(2, 1));
        QCOMPARE(picture.pixel(0, 0) | 0xFF000000, qRgb(255, 0, 0));
        QCOMPARE(picture.pixel(1, 0) | 0xFF000000, qRgb(0, 0, 255));
    }

    void referencedPictureFiles() {
        Fixture f;
        // A bitmap file written by the engine is loaded and kept as a block.
        TDIB dib;
        dib.CreateNew(3, 3, fmt24Bit, 96, 96);
        dib.SetPixel(1, 1, 0x00FF00);
        std::string bmp = f.dir.filePath(QStringLiteral("pic.bmp")).toStdString();
        dib.SaveToBitmapFile(bmp);
        AnnoData good;
        good.Mark(Attrs(amtImageReference, TRect{0, 0, 9, 9})).ForMark("OiFilNam", CStr(bmp));
        f.Build(good);
        auto* img = qobject_cast<TImageMark*>(f.editor.Marks(0));
        QVERIFY(img && img->DIB());
        QImage picture;
        DIBToGraphic(img->DIB(), picture);
        QCOMPARE(picture.size(), QSize(3, 3));
        QCOMPARE(picture.pixel(1, 1) | 0xFF000000, qRgb(0, 255, 0));
        QVERIFY(!f.editor.Modified());

        // A missing file stops the build: the marks so far stay, Modified stays set.
        AnnoData missing;
        missing.Mark(Attrs(amtHollowRectangle, TRect{0, 0, 9, 9}))
            .Mark(Attrs(amtForm, TRect{0, 0, 9, 9}))
            .ForMark("OiFilNam", CStr(f.dir.filePath(QStringLiteral("none.bmp")).toStdString()))
            .Mark(Attrs(amtHollowRectangle, TRect{0, 0, 9, 9}));
        bool openError = false;
        try {
            f.Build(missing);
        } catch (const EFOpenError&) {
            openError = true;
        }
        QVERIFY(openError);
        QCOMPARE(f.editor.MarkCount(), 2);
        QVERIFY(f.editor.Modified());

        // A file that is not a bitmap.
        std::string text = f.dir.filePath(QStringLiteral("pic.txt")).toStdString();
        WriteFile(QString::fromStdString(text), Bytes{'h', 'e', 'l', 'l', 'o'});
        AnnoData notBitmap;
        notBitmap.Mark(Attrs(amtImageReference, TRect{0, 0, 9, 9})).ForMark("OiFilNam", CStr(text));
        QCOMPARE(failureOf([&] { f.Build(notBitmap); }), std::string("Bitmap image is not valid"));
        QCOMPARE(f.editor.MarkCount(), 1);
    }
};

QTEST_MAIN(AnnotationsEditorTest)
#include "annotations_editor_test.moc"
