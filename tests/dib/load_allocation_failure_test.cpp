// A load that cannot get its memory block fails cleanly: the image ends empty, no block is
// left behind, and a load that gets all its blocks gives the same image as always.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "annotations/annotations.h"
#include "dib/dib.h"
#include "dib/file_test_util.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/memory.h"
#include "platform/streams.h"

using namespace qil;
using qil::testing_files::DrawTestImage;
using qil::testing_files::SamePixels;

TEST(LoadAllocationFailure, EveryReaderFailsCleanly) {
    struct Case {
        const char* name;
        uint8_t format;
        std::function<void(TDIB&, TStream&)> save;
    } cases[] = {
        {"bitmap", fmt4Bit, [](TDIB& d, TStream& s) { d.SaveToBitmapStream(s); }},
        {"TIFF", fmt1Bit, [](TDIB& d, TStream& s) { d.SaveToTiffStream(s, false, tcGroup4, 8); }},
        {"TIFF RGBA reader", fmt24Bit, [](TDIB& d, TStream& s) { d.SaveToTiffStream(s, false, tcJpeg, 8); }},
        {"PNG", fmt8Bit, [](TDIB& d, TStream& s) { d.SaveToPngStream(s); }},
        {"JPEG", fmt24Bit, [](TDIB& d, TStream& s) { d.SaveToJpegStream(s, true, 80); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDIB src;
        DrawTestImage(src, 30, 20, c.format);
        TMemoryStream file;
        c.save(src, file);
        TDIB reference;
        file.SetPosition(0);
        reference.LoadFromStream(file, 0);
        for (int64_t count = 0;; ++count) {
            SCOPED_TRACE(count);
            TDIB d;
            d.CreateNew(5, 5, fmt8Bit, 0, 0);  // an image the load replaces
            const size_t blocks = GlobalBlockCount();
            file.SetPosition(0);
            SetAllocationFailureCountdown(count);
            bool failed = false;
            try {
                d.LoadFromStream(file, 0);
            } catch (const EOSError&) {
                failed = true;
            }
            const bool reached = AllocationFailureCountdown() < 0;
            SetAllocationFailureCountdown(-1);
            if (failed) {
                EXPECT_EQ(d.GetHandle(), 0u);
                EXPECT_EQ(GlobalBlockCount(), blocks - 1);  // the old image went, nothing new stayed
            } else {
                EXPECT_FALSE(reached) << "a failed allocation was reported as success";
                EXPECT_TRUE(SamePixels(reference, d));
                EXPECT_EQ(GlobalBlockCount(), blocks);
                break;
            }
        }
    }
}

TEST(LoadAllocationFailure, AnEmbeddedPictureThatCannotBeStoredFailsTheLoad) {
    // Annotation data of one embedded-image mark whose "OiDIB" block needs a memory block.
    std::vector<uint8_t> data = {0xEF, 0xBE, 0xAD, 0xDE, 1, 0, 0, 0};
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) data.push_back(uint8_t(v >> (8 * i)));
    };
    put(5);
    put(164);
    put(1);  // mark type: embedded image
    data.insert(data.end(), 160, 0);
    put(6);
    put(12);
    const char name[8] = {'O', 'i', 'D', 'I', 'B', 0, 0, 0};
    data.insert(data.end(), name, name + 8);
    put(44);
    data.insert(data.end(), 44, 7);
    for (int64_t count : {0, 1}) {
        TAnnotations a;
        const size_t blocks = GlobalBlockCount();
        SetAllocationFailureCountdown(count);
        bool failed = false;
        try {
            a.LoadFromBuffer(data.data(), int32_t(data.size()));
        } catch (const EOSError&) {
            failed = true;
        }
        SetAllocationFailureCountdown(-1);
        ASSERT_EQ(a.Count(), 1);
        auto* mark = dynamic_cast<TAnnotationImageEmbedded*>(a.Items(0));
        ASSERT_NE(mark, nullptr);
        EXPECT_EQ(failed, count == 0);
        EXPECT_EQ(mark->DIBHandle != 0, count != 0);
        EXPECT_EQ(GlobalBlockCount(), blocks + (count != 0 ? 1 : 0));
    }
}
