// The size limit of one image: CreateNew and every reader refuse an image whose block would
// exceed it, with a message naming the size and the limit, before allocating anything.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "dib/file_test_util.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/memory.h"
#include "platform/streams.h"

using namespace qil;
using qil::testing_files::DrawTestImage;
using qil::testing_files::SamePixels;

namespace {

// Sets the limit for one scope.
class LimitGuard {
public:
    explicit LimitGuard(uint64_t bytes) : saved_(MaxImageBytes()) { SetMaxImageBytes(bytes); }
    ~LimitGuard() { SetMaxImageBytes(saved_); }

private:
    uint64_t saved_;
};

std::string TooLarge(int w, int h, int bits, uint64_t needed, uint64_t limit) {
    std::string m = "Image too large: ";
    m += std::to_string(w);
    m += " x ";
    m += std::to_string(h);
    m += " pixels at ";
    m += std::to_string(bits);
    m += " bits per pixel need ";
    m += std::to_string(needed);
    m += " bytes, more than the limit of ";
    m += std::to_string(limit);
    m += " bytes";
    return m;
}

}  // namespace

TEST(ImageLimit, BlockBytesFollowTheLayoutAndSaturate) {
    EXPECT_EQ(MaxImageBytes(), uint64_t(2) << 30);
    EXPECT_EQ(ImageBlockBytes(10, 3, 1), 60u);  // the block CreateNew makes
    EXPECT_EQ(ImageBlockBytes(33, 2, 24), 2u * 100 + 40);
    EXPECT_EQ(ImageBlockBytes(5, 5, 4), 5u * 4 + 104);
    EXPECT_EQ(ImageBlockBytes(3, 2, 8), 2u * 4 + 1064);
    EXPECT_EQ(ImageBlockBytes(7, 2, 32), 2u * 28 + 40);
    EXPECT_EQ(ImageBlockBytes(uint64_t(1) << 40, uint64_t(1) << 40, 24), UINT64_MAX);
}

TEST(ImageLimit, CreateNewRefusesBeforeAllocating) {
    LimitGuard limit(11064);
    TDIB d;
    d.CreateNew(100, 100, fmt8Bit, 300, 300);  // exactly the limit
    EXPECT_EQ(d.DIBSize, 11064);
    const size_t blocks = GlobalBlockCount();
    SetMaxImageBytes(11063);
    try {
        d.CreateNew(100, 100, fmt8Bit, 300, 300);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), TooLarge(100, 100, 8, 11064, 11063));
    }
    EXPECT_EQ(d.GetHandle(), 0u);
    EXPECT_EQ(GlobalBlockCount(), blocks - 1);  // the old image was cleared, nothing new allocated
    // The default limit refuses what the header sizes alone would make too large.
    SetMaxImageBytes(kDefaultMaxImageBytes);
    try {
        d.CreateNew(40000, 20000, fmt24Bit, 0, 0);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), TooLarge(40000, 20000, 24, 2400000040ull, 2147483648ull));
    }
}

TEST(ImageLimit, EveryReaderRefusesAnImageOverTheLimit) {
    struct Case {
        const char* name;
        uint8_t format;
        bool lossless;
        std::function<void(TDIB&, TStream&)> save;
    } cases[] = {
        {"bitmap", fmt8Bit, true, [](TDIB& d, TStream& s) { d.SaveToBitmapStream(s); }},
        {"TIFF strips", fmt8Bit, true, [](TDIB& d, TStream& s) { d.SaveToTiffStream(s, false, tcLzw, 8); }},
        {"TIFF Group 4", fmt1Bit, true, [](TDIB& d, TStream& s) { d.SaveToTiffStream(s, false, tcGroup4, 8); }},
        {"TIFF RGBA reader", fmt24Bit, false, [](TDIB& d, TStream& s) { d.SaveToTiffStream(s, false, tcJpeg, 8); }},
        {"PNG", fmt24Bit, true, [](TDIB& d, TStream& s) { d.SaveToPngStream(s); }},
        {"PNG 4 bits", fmt4Bit, true, [](TDIB& d, TStream& s) { d.SaveToPngStream(s); }},
        {"JPEG", fmt24Bit, false, [](TDIB& d, TStream& s) { d.SaveToJpegStream(s, false, 90); }},
        {"JPEG gray, progressive", fmt8Bit, false, [](TDIB& d, TStream& s) { d.SaveToJpegStream(s, true, 90); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDIB src;
        DrawTestImage(src, 64, 48, c.format);
        TMemoryStream file;
        c.save(src, file);
        const int bits = FormatBitCount(c.format);
        const uint64_t needed = ImageBlockBytes(64, 48, bits);
        {
            LimitGuard limit(needed - 1);
            const size_t blocks = GlobalBlockCount();
            TDIB d;
            file.SetPosition(0);
            try {
                d.LoadFromStream(file, 0);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(std::string(e.what()), TooLarge(64, 48, bits, needed, needed - 1));
            }
            EXPECT_EQ(d.GetHandle(), 0u);
            EXPECT_EQ(GlobalBlockCount(), blocks);
        }
        LimitGuard limit(needed);
        TDIB d;
        file.SetPosition(0);
        d.LoadFromStream(file, 0);
        EXPECT_EQ(d.DIBSize, int32_t(needed));
        if (c.lossless) {
            EXPECT_TRUE(SamePixels(src, d));
        }
    }
}
