// The zooming viewer on the offscreen platform: zoom arithmetic, placement, which source is
// painted, partial repaints and hand-overs.
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "annotations/annotation_writer.h"
#include "annotations/qt/annotation_properties_dialog.h"
#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/marks.h"
#include "dib/dib.h"
#include "viewer/qt/zoom_image.h"
#include "viewer/qt/page_block.h"

using namespace qil;

namespace {

// A shown viewer whose viewport is exactly Width x Height.
struct Viewer {
    TZoomImage view;
    Viewer(int w, int h) {
        view.setFrameShape(QFrame::NoFrame);
        view.resize(w, h);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
};

// An 8 x 8 bilevel TIFF page (uncompressed, one strip) whose tag 32932 holds Annotations.
std::string AnnotatedTiff(const QTemporaryDir& dir, const char* name, const testing::Bytes& annotations) {
    using testing::TiffTag;
    const testing::Bytes pixels(8, 0x0F);
    const testing::TiffFile file = testing::BuildTiff(
        false, {{TiffTag{256, 3, 1, 8, {}}, TiffTag{257, 3, 1, 8, {}}, TiffTag{258, 3, 1, 1, {}}, TiffTag{259, 3, 1, 1, {}},
                 TiffTag{262, 3, 1, 0, {}}, TiffTag{273, 4, 1, 0, pixels}, TiffTag{278, 3, 1, 8, {}},
                 TiffTag{279, 4, 1, 8, {}}, testing::AnnotationTag(annotations)}});
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.bytes.data()),
                                                static_cast<std::streamsize>(file.bytes.size()));
    return path;
}

testing::MarkAttrs Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    testing::MarkAttrs a;
    a.markType = 5;
    a.left = left;
    a.top = top;
    a.right = right;
    a.bottom = bottom;
    return a;
}

std::set<QRgb> Colors(const QImage& image) {
    std::set<QRgb> colors;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) colors.insert(image.pixel(x, y) & 0xFFFFFF);
    return colors;
}

}  // namespace

class ZoomImageTest : public QObject {
    Q_OBJECT

private slots:
    void fitToPageOfAnA4PageCentresIt() {
        Viewer v(500, 700);
        QCOMPARE(v.view.viewport()->size(), QSize(500, 700));
        v.view.SetImageHandle(MakeBlock(2480, 3508, fmt1Bit, 300, 300));
        v.view.SetZoomMode(zmFitToPage);
        QCOMPARE(v.view.Zoom(), static_cast<double>(700.0L / 3508 * 100));
        QVERIFY(qAbs(v.view.Zoom() - 19.954) < 0.001);
        TDisplayPanel* panel = v.view.DisplayPanel();
        QCOMPARE(panel->width(), 494);
        QCOMPARE(panel->x(), (500 - 494) / 2);
        QVERIFY(!v.view.horizontalScrollBar()->isVisible());
        QVERIFY(!v.view.verticalScrollBar()->isVisible());
        // Fit to width and to height of the same page in the same area.
        v.view.SetZoomMode(zmFitToHeight);
        QCOMPARE(v.view.Zoom(), static_cast<double>(700.0L / 3508 * 100));
        // At 500 / 2480 the page would be 707 pixels tall: the width beside a vertical bar is
        // taken, and then the page fits (no bar after all).
        v.view.SetZoomMode(zmFitToWidth);
        const int sx = v.view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, v.view.verticalScrollBar());
        QCOMPARE(v.view.Zoom(), static_cast<double>(static_cast<long double>(500 - sx) / 2480 * 100));
        const int h = static_cast<int>(3508.0L * (500 - sx) / 2480);
        QCOMPARE(panel->geometry(), QRect(sx / 2, (700 - h) / 2, 500 - sx, h));
        QVERIFY(!v.view.verticalScrollBar()->isVisible());
        // Zoomed in: both bars, the panel at the scroll origin.
        v.view.SetZoomMode(zmCustom);
        v.view.SetZoom(50);
        QVERIFY(v.view.horizontalScrollBar()->isVisible());
        QVERIFY(v.view.verticalScrollBar()->isVisible());
        QCOMPARE(panel->geometry(), QRect(0, 0, 1240, 1754));
        QCOMPARE(v.view.horizontalScrollBar()->maximum(), 1240 - v.view.viewport()->width());
        // Back to the page fit from there: centred again, bars gone.
        v.view.SetZoomMode(zmFitToPage);
        QCOMPARE(panel->geometry().left(), 3);
        QVERIFY(!v.view.horizontalScrollBar()->isVisible());
        QVERIFY(!v.view.verticalScrollBar()->isVisible());
    }

    void resizingReappliesTheZoomMode_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("zoomAfter");
        QTest::newRow("fit to page") << int(zmFitToPage) << static_cast<double>(1400.0L / 3508 * 100);
        QTest::newRow("fit to original keeps the zoom") << int(zmFitToOriginal) << 25.0;
        QTest::newRow("custom keeps the zoom") << int(zmCustom) << 25.0;
    }
    void resizingReappliesTheZoomMode() {
        QFETCH(int, mode);
        QFETCH(double, zoomAfter);
        Viewer v(500, 700);
        v.view.SetImageHandle(MakeBlock(2480, 3508, fmt1Bit, 300, 300));
        v.view.SetZoom(25);
        v.view.SetZoomMode(static_cast<TZoomMode>(mode));
        v.view.SetZoom(25);
        int scales = 0;
        v.view.OnScale = [&](QObject*) { ++scales; };
        v.view.resize(1000, 1400);
        QCoreApplication::processEvents();
        QCOMPARE(v.view.viewport()->size(), QSize(1000, 1400));
        QCOMPARE(v.view.Zoom(), zoomAfter);
        if (mode != zmCustom) QVERIFY(scales > 0);
        // Whatever the mode, the panel is centred in the larger area.
        const QRect panel = v.view.DisplayPanel()->geometry();
        QCOMPARE(panel.left(), (1000 - panel.width()) / 2);
        QVERIFY(!v.view.horizontalScrollBar()->isVisible());
    }

    void zoomAndThresholdAreClamped_data() {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("storedZoom");
        QTest::newRow("below") << 0.05 << 0.1;
        QTest::newRow("above") << 20000.0 << 10000.0;
        QTest::newRow("inside") << 37.5 << 37.5;
    }
    void zoomAndThresholdAreClamped() {
        QFETCH(double, zoom);
        QFETCH(double, storedZoom);
        TZoomImage view;
        view.SetZoom(zoom);
        QCOMPARE(view.Zoom(), storedZoom);
    }

    void thresholdIsClamped() {
        TZoomImage view;
        QCOMPARE(view.AntialiasingThreshold(), 50);
        view.SetAntialiasingThreshold(150);
        QCOMPARE(view.AntialiasingThreshold(), 100);
        view.SetAntialiasingThreshold(-5);
        QCOMPARE(view.AntialiasingThreshold(), 0);
    }

    void emptyViewerFitsAtOnePercent() {
        Viewer v(300, 200);
        QCOMPARE(v.view.FitPageZoom(), 1.0);
        QCOMPARE(v.view.FitWidthZoom(), 100.0);
        QCOMPARE(v.view.FitHeightZoom(), 100.0);
    }

    void lowerVerticalResolutionStretchesVertically() {
        Viewer v(300, 200);
        v.view.SetImageHandle(MakeBlock(1000, 500, fmt1Bit, 200, 100));
        QCOMPARE(v.view.Zoom(), 100.0);
        QCOMPARE(v.view.DisplayPanel()->size(), QSize(1000, 1000));
        // Larger than the area on both axes: both bars, panel at minus the positions.
        QVERIFY(v.view.horizontalScrollBar()->isVisible());
        QVERIFY(v.view.verticalScrollBar()->isVisible());
        v.view.horizontalScrollBar()->setValue(120);
        v.view.verticalScrollBar()->setValue(30);
        QCOMPARE(v.view.DisplayPanel()->pos(), QPoint(-120, -30));
    }

    void mousePositionsAreDisplayPanelCoordinates() {
        Viewer v(600, 400);
        // One black pixel at image (200, 100) of a white 400 x 200 page.
        v.view.SetImageHandle(MakeBlock(400, 200, fmt24Bit, 72, 72, [](TDIB& d) { d.SetPixelColor(200, 100, 0); }));
        v.view.SetZoom(50);
        QPoint got(-1, -1);
        Qt::MouseButton button = Qt::NoButton;
        v.view.SetOnImageMouseDown([&](QObject* sender, Qt::MouseButton b, TShiftState, int x, int y) {
            QCOMPARE(sender, static_cast<QObject*>(v.view.DisplayPanel()));
            button = b;
            got = QPoint(x, y);
        });
        QTest::mousePress(v.view.DisplayPanel(), Qt::LeftButton, {}, QPoint(100, 50));
        QCOMPARE(button, Qt::LeftButton);
        QCOMPARE(got, QPoint(100, 50));
        const QPoint pixel(static_cast<int>(got.x() * 100 / v.view.Zoom()), static_cast<int>(got.y() * 100 / v.view.Zoom()));
        QCOMPARE(pixel, QPoint(200, 100));
        // ... and that panel point shows that pixel.
        QImage shown = v.view.DisplayPanel()->grab().toImage();
        QCOMPARE(shown.pixel(100, 50) & 0xFFFFFF, 0u);
        QCOMPARE(shown.pixel(101, 50) & 0xFFFFFF, 0xFFFFFFu);
    }

    void paintedSourceDependsOnZoomDepthAndMode_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("grayCache");
        QTest::addColumn<QString>("colors");  // every color shown
        // The page: a pixel checkerboard on its left half, black on its right half. A 4 x 4
        // box of the checkerboard has 8 white pixels: level 7 of 0, 17, ..., 255.
        QTest::newRow("1 bit at 25 %: gray rendering") << int(fmt1Bit) << 25.0 << int(aaScaleToGray) << true << "000000 777777";
        QTest::newRow("1 bit at 60 %: direct") << int(fmt1Bit) << 60.0 << int(aaScaleToGray) << false << "000000 ffffff";
        QTest::newRow("1 bit at 50 %: threshold not reached") << int(fmt1Bit) << 50.0 << int(aaScaleToGray) << false << "000000 ffffff";
        QTest::newRow("24 bit at 25 %: direct") << int(fmt24Bit) << 25.0 << int(aaScaleToGray) << false << "000000 ffffff";
        QTest::newRow("1 bit at 25 %, no antialiasing") << int(fmt1Bit) << 25.0 << int(aaNone) << false << "000000 ffffff";
        QTest::newRow("1 bit at 25 %, preserve black") << int(fmt1Bit) << 25.0 << int(aaPreserveBlack) << false << "000000";
        QTest::newRow("1 bit at 25 %, preserve white") << int(fmt1Bit) << 25.0 << int(aaPreserveWhite) << false << "000000 ffffff";
    }
    void paintedSourceDependsOnZoomDepthAndMode() {
        QFETCH(int, format);
        QFETCH(double, zoom);
        QFETCH(int, mode);
        QFETCH(bool, grayCache);
        QFETCH(QString, colors);
        Viewer v(400, 300);
        v.view.SetAntialiasing(static_cast<TAntialiasing>(mode));
        v.view.SetImageHandle(MakeBlock(800, 600, static_cast<uint8_t>(format), 300, 300, [](TDIB& d) {
            for (int32_t y = 0; y < d.Height(); ++y)
                for (int32_t x = 0; x < d.Width(); ++x)
                    if (x >= 400 || (x + y) % 2) d.SetPixelColor(x, y, 0);
        }));
        v.view.SetZoom(zoom);
        const QImage shown = v.view.DisplayPanel()->grab().toImage();
        QCOMPARE(v.view.DisplayPanel()->GrayCache != nullptr, grayCache);
        if (grayCache) {
            QCOMPARE(v.view.DisplayPanel()->GrayCache->Width(), 200);
            QCOMPARE(v.view.DisplayPanel()->GrayCache->Height(), 150);
            QCOMPARE(int(v.view.DisplayPanel()->GrayCache->ImageFormat), int(fmt4Bit));
        }
        std::set<QRgb> expected;
        for (const QString& c : colors.split(' ')) expected.insert(c.toUInt(nullptr, 16));
        QCOMPARE(Colors(shown), expected);
    }

    void grayRenderingOfAnotherSizeIsStretchedAndKept() {
        Viewer v(400, 300);
        v.view.SetImageHandle(MakeBlock(800, 600, fmt1Bit, 300, 300));
        v.view.SetZoom(19.8);  // a 158 x 118 panel; the rendering at 20 % is 160 x 120
        TDisplayPanel* panel = v.view.DisplayPanel();
        QCOMPARE(panel->size(), QSize(158, 118));
        QCOMPARE(Colors(panel->grab().toImage()), (std::set<QRgb>{0xFFFFFF}));
        const TDIB* cache = panel->GrayCache.get();
        QVERIFY(cache);
        QCOMPARE(cache->Width(), 160);
        panel->grab();
        QCOMPARE(panel->GrayCache.get(), cache);
        v.view.SetZoom(19.9);  // another size: built again
        panel->grab();
        QVERIFY(panel->GrayCache);
        QCOMPARE(panel->size(), QSize(159, 119));
    }

    void exposedRectanglePaintsAsTheWholePanel_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("mode");
        QTest::newRow("1 bit reduced, gray") << int(fmt1Bit) << 23.7 << int(aaScaleToGray);
        QTest::newRow("1 bit reduced, black wins") << int(fmt1Bit) << 37.3 << int(aaPreserveBlack);
        QTest::newRow("24 bit enlarged") << int(fmt24Bit) << 413.0 << int(aaNone);
        QTest::newRow("1 bit enlarged, white wins") << int(fmt1Bit) << 170.0 << int(aaPreserveWhite);
    }
    void exposedRectanglePaintsAsTheWholePanel() {
        QFETCH(int, format);
        QFETCH(double, zoom);
        QFETCH(int, mode);
        Viewer v(300, 300);
        v.view.SetAntialiasing(static_cast<TAntialiasing>(mode));
        // Diagonal stripes of varying width and a few colored dots.
        v.view.SetImageHandle(MakeBlock(203, 157, static_cast<uint8_t>(format), 96, 96, [](TDIB& d) {
            for (int32_t y = 0; y < d.Height(); ++y)
                for (int32_t x = 0; x < d.Width(); ++x)
                    if ((x * 3 + y * 5) % 11 < 4) d.SetPixelColor(x, y, (x * 40503u) & 0xFFFFFF);
        }));
        v.view.SetZoom(zoom);
        TDisplayPanel* panel = v.view.DisplayPanel();
        const QImage whole = panel->grab().toImage();
        for (const QRect& part : {QRect(7, 3, 31, 17), QRect(panel->width() - 20, panel->height() - 9, 20, 9),
                                  QRect(panel->width() / 2, 1, 3, panel->height() - 2)}) {
            const QImage piece = panel->grab(part).toImage();
            QCOMPARE(piece.convertToFormat(QImage::Format_RGB32), whole.copy(part).convertToFormat(QImage::Format_RGB32));
        }
    }

    void handOverOfAnEqualSizedImageRepaints() {
        Viewer v(400, 300);
        int paints = 0;
        v.view.OnPaint = [&](QObject* sender) {
            QCOMPARE(sender, static_cast<QObject*>(&v.view));
            ++paints;
        };
        int scales = 0;
        v.view.OnScale = [&](QObject*) { ++scales; };
        v.view.SetImageHandle(MakeBlock(800, 600, fmt1Bit, 300, 300));  // all white
        v.view.SetZoom(25);
        QCOMPARE(scales, 2);
        QCOMPARE(Colors(v.view.DisplayPanel()->grab().toImage()), (std::set<QRgb>{0xFFFFFF}));
        QVERIFY(v.view.DisplayPanel()->GrayCache);

        // Straight to the holder, as the main window hands results over, then the refresh.
        v.view.Image()->SetImageHandle(MakeBlock(800, 600, fmt1Bit, 300, 300, [](TDIB& d) { d.Fill(0); }));
        v.view.SetZoomMode(zmCustom);
        paints = 0;
        v.view.RefreshImage();
        QVERIFY(paints > 0);
        QCOMPARE(Colors(v.view.DisplayPanel()->grab().toImage()), (std::set<QRgb>{0}));

        // Through the viewer's own ImageHandle.
        paints = 0;
        v.view.SetImageHandle(MakeBlock(800, 600, fmt1Bit, 300, 300));
        QVERIFY(paints > 0);
        QCOMPARE(Colors(v.view.DisplayPanel()->grab().toImage()), (std::set<QRgb>{0xFFFFFF}));
    }

    void editorIsHiddenReadOnlyOnThePanel() {
        TZoomImage view;
        TAnnotationsEditor* editor = view.AnnotationsEditor();
        QVERIFY(editor);
        QVERIFY(!editor->Visible());
        QVERIFY(editor->ReadOnly());
        QCOMPARE(editor->Surface(), static_cast<QWidget*>(view.DisplayPanel()));
        QCOMPARE(editor->ZoomFactor(), 100.0);
        QCOMPARE(editor->Resolution(), 200);
        QCOMPARE(editor->DisplayRect(), (TRect{0, 0, 100, 100}));
    }

    void loadedPageGetsItsMarksWhichFollowTheZoom() {
        QTemporaryDir dir;
        const std::string file = AnnotatedTiff(
            dir, "marks.tif", testing::AnnoData().Mark(Rectangle(10, 20, 110, 220)).Mark(Rectangle(2, 4, 6, 8)).bytes);
        Viewer v(300, 300);
        v.view.LoadFromFile(file, zmCustom, 0);
        QVERIFY(v.view.Image()->IsValid());
        TAnnotationsEditor* editor = v.view.AnnotationsEditor();
        QCOMPARE(editor->MarkCount(), 2);
        QVERIFY(qobject_cast<TRectangleMark*>(editor->Marks(0)));
        v.view.SetZoom(50);
        QCOMPARE(editor->ZoomFactor(), 50.0);
        QCOMPARE(editor->Marks(0)->geometry(), QRect(5, 10, 50, 100));
        QCOMPARE(editor->DisplayRect(), (TRect{0, 0, 4, 4}));

        // A click selects that mark alone.
        v.view.MarkClick(editor->Marks(1));
        QVERIFY(editor->Marks(1)->Selected());
        v.view.MarkClick(editor->Marks(0));
        QVERIFY(editor->Marks(0)->Selected());
        QVERIFY(!editor->Marks(1)->Selected());
    }

    void marksThatCannotBeBuiltOrReadDoNotStopThePage_data() {
        QTest::addColumn<QByteArray>("annotations");
        QTest::addColumn<int>("marksLeft");
        testing::AnnoData missingPicture;
        missingPicture.Mark(Rectangle(1, 1, 5, 5)).Mark(2).ForMark("OiFilNam", testing::CStr("/nonexistent/picture.bmp"));
        QTest::newRow("a referenced picture file is missing")
            << QByteArray(reinterpret_cast<const char*>(missingPicture.bytes.data()), qsizetype(missingPicture.bytes.size()))
            << -1;
        QTest::newRow("annotation data cut short") << QByteArray("\x01\x02\x03", 3) << 0;
    }
    void marksThatCannotBeBuiltOrReadDoNotStopThePage() {
        QFETCH(QByteArray, annotations);
        QFETCH(int, marksLeft);
        QTemporaryDir dir;
        const std::string file =
            AnnotatedTiff(dir, "broken.tif", testing::Bytes(annotations.begin(), annotations.end()));
        Viewer v(300, 300);
        v.view.LoadFromFile(file, zmFitToPage, 0);
        QVERIFY(v.view.Image()->IsValid());
        QCOMPARE(v.view.Image()->HorzSize(), 8);
        QCOMPARE(v.view.Zoom(), 300.0 / 8 * 100);
        if (marksLeft >= 0) QCOMPARE(v.view.AnnotationsEditor()->MarkCount(), marksLeft);
        else QVERIFY(v.view.AnnotationsEditor()->MarkCount() >= 1);  // the rectangle built before
    }

    void propertiesOpenForEverySelectedMarkLastFirst() {
        QTemporaryDir dir;
        const std::string file = AnnotatedTiff(dir, "three.tif",
                                               testing::AnnoData()
                                                   .Mark(Rectangle(10, 10, 20, 20))
                                                   .Mark(Rectangle(30, 30, 40, 40))
                                                   .Mark(Rectangle(50, 50, 60, 60))
                                                   .bytes);
        Viewer v(300, 300);
        v.view.LoadFromFile(file, zmCustom, 0);
        TAnnotationsEditor* editor = v.view.AnnotationsEditor();
        QCOMPARE(editor->MarkCount(), 3);
        editor->Marks(0)->SetSelected(true);
        editor->Marks(2)->SetSelected(true);
        // Each dialog reports the left edge it shows; the first one gets Left 5 and OK, the
        // second is cancelled after getting Left 7.
        std::vector<int> shown;
        std::function<void()> answer = [&] {
            auto* dialog = qobject_cast<TDialogAnnotationProperties*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(1, answer);
                return;
            }
            auto* left = dialog->findChild<QSpinBox*>(QStringLiteral("SpinEditLeft"));
            shown.push_back(left->value());
            left->setValue(shown.size() == 1 ? 5 : 7);
            if (shown.size() == 1) {
                dialog->accept();
                QTimer::singleShot(1, answer);
            } else {
                dialog->reject();
            }
        };
        QTimer::singleShot(1, answer);
        v.view.ShowMarkProperties();
        QCOMPARE(shown, (std::vector<int>{50, 10}));
        QCOMPARE(editor->Marks(2)->ImageRect().Left, 5);
        QCOMPARE(editor->Marks(0)->ImageRect().Left, 10);
        QCOMPARE(editor->Marks(1)->ImageRect().Left, 30);

        // A double click through the editor selects that mark alone and opens its dialog.
        shown.clear();
        std::function<void()> cancel = [&] {
            auto* dialog = qobject_cast<TDialogAnnotationProperties*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(1, cancel);
                return;
            }
            shown.push_back(dialog->findChild<QSpinBox*>(QStringLiteral("SpinEditLeft"))->value());
            dialog->reject();
        };
        QTimer::singleShot(1, cancel);
        editor->OnMarkDblClick(editor->Marks(1));
        QCOMPARE(shown, (std::vector<int>{30}));
        QVERIFY(!editor->Marks(0)->Selected());
        QVERIFY(editor->Marks(1)->Selected());
        QVERIFY(!editor->Marks(2)->Selected());
    }
};

QTEST_MAIN(ZoomImageTest)
#include "zoom_image_test.moc"
