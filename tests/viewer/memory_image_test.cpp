#include "viewer/memory_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "dib/image_file.h"
#include "platform/clipboard.h"
#include "platform/exceptions.h"
#include "platform/printer.h"
#include "platform/raster.h"

using namespace qil;
namespace fs = std::filesystem;

namespace {

HGLOBAL Block(int32_t w, int32_t h, uint8_t format, int32_t xdpi, int32_t ydpi) {
    TDIB d;
    d.CreateNew(w, h, format, xdpi, ydpi);
    d.Fill(0xFF);
    d.OwnsHandle = false;
    return d.GetHandle();
}

std::string TempName(const char* name) {
    return (fs::temp_directory_path() / (std::string("qil-holder-") + std::to_string(::getpid()) + "-" + name)).string();
}

}  // namespace

TEST(MemoryImage, HandOverSetsTheFileStateAndMissingResolutionReads72) {
    TMemoryImage holder;
    EXPECT_FALSE(holder.IsValid());
    EXPECT_EQ(holder.PageCount(), 1);
    EXPECT_EQ(holder.HorzResolution(), 72);  // also before any image
    EXPECT_EQ(holder.VertResolution(), 72);
    holder.SetImageHandle(Block(1000, 500, fmt8Bit, 0, 0));
    EXPECT_TRUE(holder.IsValid());
    EXPECT_EQ(holder.HorzSize(), 1000);
    EXPECT_EQ(holder.Depth(), 8);
    EXPECT_EQ(holder.HorzResolution(), 72);
    EXPECT_EQ(holder.VertResolution(), 72);
    EXPECT_EQ(holder.Page(), 0);
    EXPECT_TRUE(holder.FileName().empty());
    holder.SetImageHandle(Block(1000, 500, fmt1Bit, 200, 100));
    EXPECT_EQ(holder.GetVertSizeCorrected(), 1000);
    holder.SetImageHandle(0);
    EXPECT_FALSE(holder.IsValid());
    EXPECT_EQ(holder.HorzSize(), 1000);  // kept from the last image
}

TEST(MemoryImage, KeepingTheBlockWithFreeImageHandleFalse) {
    TMemoryImage holder;
    HGLOBAL h = Block(10, 10, fmt8Bit, 300, 300);
    holder.SetImageHandle(h);
    holder.FreeImageHandle = false;
    size_t blocks = GlobalBlockCount();
    holder.SetImageHandle(0);
    EXPECT_EQ(GlobalBlockCount(), blocks);  // not freed: the client keeps it
    EXPECT_TRUE(holder.FreeImageHandle);
    GlobalFree(h);
}

TEST(MemoryImage, RotationAndResolutionChanges) {
    TMemoryImage holder;
    holder.SetImageHandle(Block(200, 100, fmt8Bit, 200, 100));
    holder.RotateImage(90);
    EXPECT_EQ(holder.HorzSize(), 100);
    EXPECT_EQ(holder.VertSize(), 200);
    EXPECT_EQ(holder.HorzResolution(), 100);
    EXPECT_EQ(holder.VertResolution(), 200);
    holder.RotateImage(45);
    EXPECT_EQ(holder.HorzSize(), 100);
    EXPECT_EQ(holder.VertSize(), 200);
    EXPECT_EQ(holder.DIB().GetPixel(0, 0), 0);  // uncovered corner: raw 0

    holder.SetImageHandle(Block(1000, 1000, fmt8Bit, 150, 150));
    holder.ChangeResolution(300, 300, true);
    EXPECT_EQ(holder.HorzSize(), 2000);
    EXPECT_EQ(holder.VertSize(), 2000);
    EXPECT_EQ(holder.HorzResolution(), 300);
    EXPECT_EQ(holder.DIB().GetPixel(999, 999), 255);
    EXPECT_EQ(holder.DIB().GetPixel(1000, 999), 0);
    EXPECT_EQ(holder.DIB().GetPixel(999, 1000), 0);
    holder.Crop(TRect{10, 20, 109, 69});
    EXPECT_EQ(holder.HorzSize(), 100);
    EXPECT_EQ(holder.VertSize(), 50);
}

TEST(MemoryImage, PagesOfAFileAndAFailedLoad) {
    std::string name = TempName("four.tif");
    for (int p = 0; p < 4; ++p) {
        TDIB d;
        d.CreateNew(20 + p, 10, fmt1Bit, 300, 300);
        d.SaveToTiffFile(name, p > 0, tcNone, 16);
    }
    TMemoryImage holder;
    holder.LoadImage(name, 1);
    EXPECT_EQ(holder.PageCount(), 4);
    EXPECT_EQ(holder.HorzSize(), 21);
    holder.SetPage(-3);
    EXPECT_EQ(holder.Page(), 0);
    EXPECT_EQ(holder.HorzSize(), 20);
    holder.SetPage(9);
    EXPECT_EQ(holder.Page(), 3);
    EXPECT_EQ(holder.HorzSize(), 23);

    std::string broken = TempName("broken.bmp");
    std::ofstream(broken) << "not an image";
    EXPECT_THROW(holder.LoadImage(broken, 2), Exception);
    EXPECT_FALSE(holder.IsValid());
    EXPECT_EQ(holder.FileName(), broken);
    EXPECT_EQ(holder.Page(), 2);
    EXPECT_EQ(holder.PageCount(), 1);
    holder.SetImageHandle(Block(5, 5, fmt8Bit, 300, 300));
    holder.SetPage(1);  // no file any more: nothing happens
    EXPECT_EQ(holder.HorzSize(), 5);
    fs::remove(name);
    fs::remove(broken);
}

namespace {

// A printer that records what the holder asks of it; its page is 700 x 900 dots at 100 dpi,
// 50 dots inside the paper.
struct FakePrinter : TPrinter {
    int Begun = 0, Ended = 0;
    bool FailDrawing = false;
    std::vector<TRect> Areas;
    std::vector<TPoint> Origins;
    void BeginDoc() override { ++Begun; }
    void EndDoc() override { ++Ended; }
    bool Printing() const override { return Begun > Ended; }
    int32_t GetDeviceCaps(int32_t index) const override {
        switch (index) {
            case LOGPIXELSX: case LOGPIXELSY: return 100;
            case HORZRES: return 700;
            case VERTRES: return 900;
            case PHYSICALOFFSETX: case PHYSICALOFFSETY: return 50;
            default: return 0;
        }
    }
    void DrawOnPage(const TRect& area, const std::function<void(TRasterDevice*)>& draw) override {
        Areas.push_back(area);
        Origins.push_back(ViewportOrigin);
        if (FailDrawing) throw Exception("Printer out of paper");
        TRasterDevice device(1, 1);
        draw(&device);
    }
};

struct InstalledPrinter {
    FakePrinter Printer;
    InstalledPrinter() { SetPrinter(&Printer); }
    ~InstalledPrinter() { SetPrinter(nullptr); }
};

struct RefusingClipboard : TClipboardBackEnd {
    int Opened = 0, Closed = 0;
    HGLOBAL Offered = 0;
    bool Open() override { return ++Opened, true; }
    bool Close() override { return ++Closed, true; }
    bool Empty() override { return true; }
    bool SetData(uint32_t, HGLOBAL block) override {
        Offered = block;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
};

}  // namespace

TEST(MemoryImage, PrintEndsTheJobAndRestoresTheOriginAlsoWhenDrawingFails) {
    InstalledPrinter installed;
    FakePrinter& printer = installed.Printer;
    printer.ViewportOrigin = TPoint{3, 4};
    TMemoryImage holder;
    holder.SetImageHandle(Block(750, 950, fmt8Bit, 100, 100));  // larger than the page
    printer.FailDrawing = true;
    EXPECT_THROW(holder.Print(0, false), Exception);
    EXPECT_EQ(printer.Title, "Printing Image");
    EXPECT_EQ(printer.Begun, 1);
    EXPECT_EQ(printer.Ended, 1);
    ASSERT_EQ(printer.Origins.size(), 1u);
    EXPECT_EQ(printer.Origins[0], (TPoint{-50, -50}));
    EXPECT_EQ(printer.Areas[0], (TRect{0, 0, 750, 950}));
    EXPECT_EQ(printer.ViewportOrigin, (TPoint{3, 4}));

    // Centring a picture larger than the page moves it up and left by half the excess.
    printer.FailDrawing = false;
    holder.PrintInCurrentJob(0, true);
    EXPECT_EQ(printer.Areas[1], (TRect{-25, -25, 725, 925}));
}

TEST(MemoryImage, PrintingAnEmptyHolderDrawsNothingAndNoPrinterIsAnError) {
    TMemoryImage holder;
    EXPECT_THROW(holder.Print(1, true), Exception);  // no printer installed
    InstalledPrinter installed;
    holder.Print(1, true);
    EXPECT_EQ(installed.Printer.Begun, 1);
    EXPECT_EQ(installed.Printer.Ended, 1);
    EXPECT_TRUE(installed.Printer.Areas.empty());
}

TEST(MemoryImage, ClipboardThatRefusesTheCopyGetsClosedAndTheCopyIsFreed) {
    RefusingClipboard clipboard;
    SetClipboardBackEnd(&clipboard);
    TMemoryImage holder;
    holder.SetImageHandle(Block(20, 10, fmt24Bit, 72, 72));
    EXPECT_THROW(holder.CopyToClipboard(TRect{2, 2, 5, 5}), EOSError);
    SetClipboardBackEnd(nullptr);
    EXPECT_EQ(clipboard.Opened, 1);
    EXPECT_EQ(clipboard.Closed, 1);
    ASSERT_NE(clipboard.Offered, 0u);
    EXPECT_EQ(GlobalSize(clipboard.Offered), 0u);  // freed
    EXPECT_EQ(holder.HorzSize(), 20);              // the holder's own image is untouched
}
