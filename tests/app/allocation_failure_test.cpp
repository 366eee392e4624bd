// "Nothing lost": a command that runs out of memory blocks part way leaves the original image
// and the previous result exactly as they were, releases everything it allocated and reports
// the failure. Every command runs with a failure injected at the first, second, third ...
// block allocation until it completes without reaching the armed failure.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/memory.h"

using namespace qil;
using namespace qil::app;

namespace {

// A white page with bars of text-like blocks, a ruling line, a few specks, a dark border on
// the left and a colored stamp, so that every command has something to change.
std::unique_ptr<TDIB> Page(uint8_t format) {
    const int32_t w = 240, h = 160;
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, format, 200, 200);
    d->Fill(0xFF);
    auto dark = [&](int32_t x, int32_t y) {
        if (format == fmt24Bit)
            d->SetPixelColor(x, y, 0x101010);
        else
            d->SetPixel(x, y, d->BlackIndex());
    };
    for (int32_t line = 0; line < 4; ++line)
        for (int32_t y = 30 + 30 * line; y < 40 + 30 * line; ++y)
            for (int32_t x = 30; x < w - 30; ++x)
                if ((x / 9) % 4 != 3) dark(x + y / 40, y);
    for (int32_t x = 20; x < w - 20; ++x) dark(x, 20);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < 8; ++x) dark(x, y);
    for (int32_t k = 0; k < 12; ++k) dark(50 + 13 * k, 150 - k % 3);
    if (format == fmt24Bit)
        for (int32_t y = 120; y < 140; ++y)
            for (int32_t x = 150; x < 200; ++x) d->SetPixelColor(x, y, 0xE03020);
    return d;
}

// All bytes of the block of an image, with its handle.
struct TSnapshot {
    HGLOBAL Handle = 0;
    std::vector<uint8_t> Bytes;
};

TSnapshot Snapshot(HGLOBAL h) {
    TSnapshot s;
    s.Handle = h;
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    if (p) s.Bytes.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
    return s;
}

struct TCase {
    std::string Name;
    uint8_t Format;
    std::function<TCommandResult(TDIB&)> Run;
};

std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    auto add = [&](const std::string& name, std::initializer_list<uint8_t> formats, std::function<TCommandResult(TDIB&)> run) {
        for (uint8_t f : formats) cases.push_back({name + " on " + std::to_string(FormatBitCount(f)) + " bits", f, run});
    };
    TDeskewParams rotate, interpolate, estimate;
    rotate.SpinEditAngle = 3;
    interpolate.CheckBoxInterpolation = true;
    estimate.RadioButtonDeskew = false;
    add("Deskew", {fmt1Bit, fmt8Bit, fmt24Bit}, [=](TDIB& d) { return CommandDeskew(d, rotate); });
    add("Deskew with interpolation", {fmt8Bit, fmt24Bit}, [=](TDIB& d) { return CommandDeskew(d, interpolate); });
    add("Deskew estimate only", {fmt1Bit}, [=](TDIB& d) { return CommandDeskew(d, estimate); });
    TDespeckleParams smart;
    smart.CheckBoxSmart = true;
    add("Despeckle", {fmt1Bit}, [](TDIB& d) { return CommandDespeckle(d, TDespeckleParams{}); });
    add("Smart despeckle", {fmt1Bit}, [=](TDIB& d) { return CommandDespeckle(d, smart); });
    add("Repair", {fmt1Bit}, [](TDIB& d) { return CommandRepair(d, TRepairParams{}); });
    TLinesRemovalParams both, horz, vert;
    both.SpinEditMinH = both.SpinEditMinV = 40;
    both.CheckBoxReconnect = true;
    horz = both;
    horz.RadioButtonBoth = false;
    horz.RadioButtonHorz = true;
    vert = both;
    vert.RadioButtonBoth = false;
    vert.RadioButtonVert = true;
    add("Line removal", {fmt1Bit}, [=](TDIB& d) { return CommandLineRemoval(d, both); });
    add("Horizontal line removal", {fmt1Bit}, [=](TDIB& d) { return CommandLineRemoval(d, horz); });
    add("Vertical line removal", {fmt1Bit}, [=](TDIB& d) { return CommandLineRemoval(d, vert); });
    TThresholdParams fixed, automatic, minMax, average, advanced, halfTones;
    automatic.RadioButtonStandard = false;
    automatic.RadioButtonAuto = true;
    minMax.RadioButtonStandard = false;
    minMax.RadioButtonDynamic = true;
    average = minMax;
    average.ComboBoxMode = 1;
    average.LoadModeDefaults(1);
    advanced.RadioButtonStandard = false;
    advanced.RadioButtonAdvanced = true;
    halfTones.CheckBoxPreservaMezziToni = true;
    for (auto& [name, p] : std::vector<std::pair<std::string, TThresholdParams>>{
             {"Fixed threshold", fixed}, {"Automatic threshold", automatic}, {"Local min-max threshold", minMax},
             {"Local average threshold", average}, {"Advanced threshold", advanced},
             {"Threshold preserving half-tones", halfTones}})
        add(name, {fmt8Bit, fmt24Bit}, [p = p](TDIB& d) { return CommandThresholding(d, p); });
    TBlackBorderParams crop, clear;
    clear.CheckBoxCrop = false;
    add("Black border removal", {fmt1Bit, fmt8Bit, fmt24Bit}, [=](TDIB& d) { return CommandBlackBorderRemoval(d, crop); });
    add("Black border clearing", {fmt1Bit, fmt8Bit}, [=](TDIB& d) { return CommandBlackBorderRemoval(d, clear); });
    add("Remove dither", {fmt1Bit}, [](TDIB& d) { return CommandRemoveDither(d); });
    TDropInkParams allInks;
    allInks.CheckBoxGreen = allInks.CheckBoxBlue = true;
    allInks.SpinEditThreshold = 100;
    add("Drop colored ink", {fmt24Bit}, [=](TDIB& d) { return CommandDropColoredInk(d, allInks); });
    add("Find images and text", {fmt1Bit}, [](TDIB& d) { return CommandFindImagesAndText(d); });
    return cases;
}

}  // namespace

TEST(NothingLost, EveryCommandSurvivesAFailedBlockAllocation) {
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        auto original = Page(c.Format);
        const TSnapshot originalBefore = Snapshot(original->GetHandle());
        const int32_t locks = int32_t(GlobalLockCount(original->GetHandle()));
        // The result of the previous command, which a failed command must leave alone.
        TCommandResult previous = CommandDeskew(*original, TDeskewParams{});
        const TSnapshot previousBefore = Snapshot(previous.Block);
        // The result without any failure, which a command that works round a failure must give.
        TCommandResult reference = c.Run(*original);
        const TSnapshot expected = reference.Block ? Snapshot(reference.Block) : TSnapshot{};
        const std::string expectedMessage = reference.Message;
        reference = TCommandResult{};

        int failures = 0;
        for (int64_t count = 0;; ++count) {
            SCOPED_TRACE("failure at block allocation " + std::to_string(count + 1));
            const size_t blocks = GlobalBlockCount();
            SetAllocationFailureCountdown(count);
            TCommandResult r;
            bool succeeded = false;
            try {
                r = c.Run(*original);
                succeeded = true;
            } catch (const Exception& e) {
                ++failures;
            }
            const bool reached = AllocationFailureCountdown() < 0;
            SetAllocationFailureCountdown(-1);

            EXPECT_EQ(original->GetHandle(), originalBefore.Handle);
            EXPECT_EQ(int32_t(GlobalLockCount(original->GetHandle())), locks);
            EXPECT_TRUE(Snapshot(original->GetHandle()).Bytes == originalBefore.Bytes) << "the original changed";
            EXPECT_TRUE(Snapshot(previous.Block).Bytes == previousBefore.Bytes) << "the previous result changed";
            EXPECT_EQ(GlobalBlockCount(), blocks + (r.Block ? 1 : 0)) << "blocks were leaked";
            if (succeeded) {
                // Success is sound only when the result is the one made without a failure.
                EXPECT_EQ(r.Message, expectedMessage);
                EXPECT_TRUE((r.Block ? Snapshot(r.Block).Bytes : std::vector<uint8_t>{}) == expected.Bytes)
                    << (reached ? "a failed allocation was reported as success with another result"
                                : "the result differs");
            }
            if (!reached) break;  // every allocation of the command succeeded
            if (count > 200) {
                ADD_FAILURE() << "more than 200 block allocations";
                break;
            }
        }
        EXPECT_GT(failures, 0) << "no allocation of the command could be made to fail";
    }
}
