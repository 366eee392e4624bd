// The holder's clipboard copy and printing through the Qt back ends: the copy is read back
// from the application's clipboard, the printout is a PDF rasterised with pdftoppm.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>
#include <memory>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "viewer/memory_image.h"
#include "viewer/qt/print_clipboard.h"
#include "viewer/qt/page_block.h"

using namespace qil;

namespace {

// A TDIB over a copy of packed DIB bytes.
std::unique_ptr<TDIB> DIBFromBytes(const QByteArray& bytes) {
    HGLOBAL block = GlobalAlloc(GHND, static_cast<size_t>(bytes.size()));
    std::memcpy(GlobalLock(block), bytes.constData(), static_cast<size_t>(bytes.size()));
    GlobalUnlock(block);
    auto dib = std::make_unique<TDIB>();
    dib->SetHandle(block);
    return dib;
}

// Black where the pixel is dark.
QRect DarkBounds(const QImage& image) {
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) r |= QRect(x, y, 1, 1);
    return r;
}

bool Near(const QRect& a, const QRect& b) {
    return qAbs(a.left() - b.left()) <= 1 && qAbs(a.top() - b.top()) <= 1 && qAbs(a.right() - b.right()) <= 1 &&
           qAbs(a.bottom() - b.bottom()) <= 1;
}

}  // namespace

class PrintClipboardTest : public QObject {
    Q_OBJECT

private slots:
    void copyIsReadBackFromTheClipboard_data() {
        QTest::addColumn<int>("format");
        QTest::newRow("1 bit") << int(fmt1Bit);
        QTest::newRow("8 bit") << int(fmt8Bit);
        QTest::newRow("24 bit") << int(fmt24Bit);
    }
    void copyIsReadBackFromTheClipboard() {
        QFETCH(int, format);
        TQtClipboard clipboard;
        TMemoryImage holder;
        auto colorAt = [&](int x, int y) -> uint32_t {
            if (format == fmt1Bit) return (x * 7 + y * 3) % 5 < 2 ? 0 : 0xFFFFFF;
            if (format == fmt8Bit) { uint32_t g = (x * 11 + y * 5) & 255; return g | g << 8 | g << 16; }
            return (x * 5u) | (y * 7u) << 8 | ((x + y) * 3u) << 16;
        };
        holder.SetImageHandle(MakeBlock(50, 40, static_cast<uint8_t>(format), 200, 150, [&](TDIB& d) {
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 50; ++x) d.SetPixelColor(x, y, colorAt(x, y));
        }));
        holder.CopyToClipboard(TRect{5, 6, 24, 20});

        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data);
        QVERIFY(data->hasFormat(TQtClipboard::DIBMimeType()));
        std::unique_ptr<TDIB> copy = DIBFromBytes(data->data(TQtClipboard::DIBMimeType()));
        QCOMPARE(copy->Width(), 20);
        QCOMPARE(copy->Height(), 15);
        QCOMPARE(copy->BitCount(), holder.DIB().BitCount());
        QCOMPARE(copy->XResolution(), 200);
        QCOMPARE(copy->YResolution(), 150);
        const QImage pasted = QGuiApplication::clipboard()->image();
        QCOMPARE(pasted.size(), QSize(20, 15));
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 20; ++x) {
                QCOMPARE(copy->GetPixelColor(x, y), colorAt(5 + x, 6 + y));
                QCOMPARE(pasted.pixel(x, y) & 0xFFFFFF, colorAt(5 + x, 6 + y));
            }
        // The same picture as a bitmap file for the programs that paste BMP.
        QCOMPARE(QImage::fromData(data->data(QStringLiteral("image/bmp")), "BMP"), pasted);
    }

    void emptyHolderLeavesTheClipboard() {
        TQtClipboard clipboard;
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        TMemoryImage holder;
        holder.CopyToClipboard(TRect{0, 0, 1, 1});
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    }

    void copyWithoutClipboardFails() {
        TMemoryImage holder;
        holder.SetImageHandle(MakeBlock(4, 4, fmt8Bit, 72, 72));
        QVERIFY_THROWS_EXCEPTION(EOSError, holder.CopyToClipboard(TRect{0, 0, 1, 1}));
        // The clipboard is closed again after a failing step.
        TQtClipboard clipboard;
        QVERIFY_THROWS_EXCEPTION(Exception, holder.CopyToClipboard(TRect{0, 0, 9, 9}));  // outside
        holder.CopyToClipboard(TRect{0, 0, 1, 1});
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(2, 2));
    }

    // The page: 8 x 10 inches at 100 dpi with half-inch margins, so the printable area is
    // 700 x 900 dots at (50, 50) of the 800 x 1000 paper. Expected rectangles are on the paper.
    void printPutsThePageWhereTheModeSays_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("center");
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSize>("dpi");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("true size, centred") << 0 << true << QSize(200, 300) << QSize(100, 100) << QRect(300, 350, 200, 300);
        QTest::newRow("true size at 50 dpi") << 0 << false << QSize(200, 300) << QSize(50, 50) << QRect(50, 50, 400, 600);
        QTest::newRow("true size, 100 x 50 dpi is one inch square")
            << 0 << false << QSize(100, 50) << QSize(100, 50) << QRect(50, 50, 100, 100);
        QTest::newRow("true size larger than the page starts at the paper's corner")
            << 0 << false << QSize(750, 950) << QSize(100, 100) << QRect(0, 0, 750, 950);
        QTest::newRow("fit to page, centred") << 1 << true << QSize(100, 300) << QSize(100, 100) << QRect(250, 50, 300, 900);
        // Turned to 90 x 140, then scaled by 900 / 140: 579 x 900.
        QTest::newRow("fit to page, turned") << 1 << false << QSize(140, 90) << QSize(300, 300) << QRect(50, 50, 579, 900);
        QTest::newRow("pixel per dot, turned") << 2 << false << QSize(120, 90) << QSize(300, 300) << QRect(50, 50, 90, 120);
        QTest::newRow("pixel per dot, centred") << 2 << true << QSize(90, 120) << QSize(300, 300) << QRect(355, 440, 90, 120);
    }
    void printPutsThePageWhereTheModeSays() {
        QFETCH(int, mode);
        QFETCH(bool, center);
        QFETCH(QSize, pixels);
        QFETCH(QSize, dpi);
        QFETCH(QRect, expected);
        TMemoryImage holder;
        holder.SetImageHandle(MakeBlock(pixels.width(), pixels.height(), fmt1Bit, dpi.width(), dpi.height(),
                                        [](TDIB& d) { d.Fill(0); }));
        const QImage page = PrintToImage([&] { holder.Print(mode, center); });
        QCOMPARE(page.size(), QSize(800, 1000));
        const QRect found = DarkBounds(page);
        if (!Near(found, expected)) QFAIL(qPrintable(QStringLiteral("black at %1,%2 %3x%4").arg(found.x()).arg(found.y()).arg(found.width()).arg(found.height())));
    }

    void landscapeImageIsTurnedClockwiseOnAPortraitPage() {
        TMemoryImage holder;
        // Left half black: after a quarter turn clockwise, the top half.
        holder.SetImageHandle(MakeBlock(300, 200, fmt24Bit, 100, 100, [](TDIB& d) {
            for (int y = 0; y < 200; ++y)
                for (int x = 0; x < 150; ++x) d.SetPixelColor(x, y, 0);
        }));
        const QImage page = PrintToImage([&] { holder.Print(0, true); });
        QVERIFY(Near(DarkBounds(page), QRect(300, 350, 200, 150)));
        QCOMPARE(qGray(page.pixel(400, 600)), 255);  // the white half below
    }

    void printJobIsTitled() {
        TMemoryImage holder;
        holder.SetImageHandle(MakeBlock(10, 10, fmt8Bit, 100, 100));
        QString title;
        PrintToImage([&] { holder.Print(2, false); }, &title);
        QCOMPARE(title, QStringLiteral("Printing Image"));
    }

private:
    // Runs Print with a PDF printer, answers the rasterised page at 100 dpi.
    QImage PrintToImage(const std::function<void()>& print, QString* title = nullptr) {
        QTemporaryDir dir;
        if (!dir.isValid()) return {};
        const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setResolution(100);
            printer.setPageLayout(QPageLayout(QPageSize(QSizeF(8, 10), QPageSize::Inch), QPageLayout::Portrait,
                                              QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch));
            TQtPrinter backEnd(printer);
            print();
            if (title) *title = printer.docName();
        }
        QProcess raster;
        raster.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-gray"),
                                                  QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("page"))});
        if (!raster.waitForFinished(60000) || raster.exitCode() != 0) {
            qWarning("pdftoppm failed: %s", raster.readAllStandardError().constData());
            return {};
        }
        return QImage(dir.filePath(QStringLiteral("page.pgm")));
    }
};

QTEST_MAIN(PrintClipboardTest)
#include "print_clipboard_test.moc"
