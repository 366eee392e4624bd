#include "viewer/memory_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "dib/image_file.h"
#include "platform/exceptions.h"

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
