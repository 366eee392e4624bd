#include "app/commands.h"

#include <gtest/gtest.h>

#include <memory>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/memory.h"

using namespace qil;
using namespace qil::app;

namespace {

// A white page of the given format with a few black text-like bars.
std::unique_ptr<TDIB> Page(uint8_t format, int32_t w = 400, int32_t h = 300) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, format, 200, 200);
    d->Fill(0xFF);
    int32_t black = d->BlackIndex();
    for (int32_t line = 0; line < 6; ++line)
        for (int32_t y = 40 + 40 * line; y < 52 + 40 * line; ++y)
            for (int32_t x = 40; x < w - 40; ++x)
                if ((x / 12) % 4 != 3) {
                    if (format == fmt24Bit) d->SetPixelColor(x, y, 0);
                    else d->SetPixel(x, y, black);
                }
    return d;
}

std::vector<uint8_t> Pixels(TDIB& d) {
    std::vector<uint8_t> v;
    for (int32_t y = 0; y < d.Height(); ++y) v.insert(v.end(), d.Rows[y], d.Rows[y] + d.RowBytes);
    return v;
}

std::unique_ptr<TDIB> Adopt(TCommandResult& r) {
    auto d = std::make_unique<TDIB>();
    d->SetHandle(r.ReleaseBlock());
    return d;
}

}  // namespace

TEST(CommandState, EnabledDepthsFollowTheTable) {
    struct Row {
        TCommand Command;
        bool D1, D4, D8, D24;
    };
    const Row rows[] = {
        {TCommand::Deskew, true, false, true, true},          {TCommand::Despeckle, true, false, false, false},
        {TCommand::Repair, true, false, false, false},        {TCommand::LineRemoval, true, false, false, false},
        {TCommand::Thresholding, false, false, true, true},   {TCommand::BlackBorderRemoval, true, false, true, true},
        {TCommand::RemoveDither, true, false, false, false},  {TCommand::DropColoredInk, false, false, false, true},
        {TCommand::FindImageAndText, true, false, false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(CommandEnabled(r.Command, 1), r.D1);
        EXPECT_EQ(CommandEnabled(r.Command, 4), r.D4);
        EXPECT_EQ(CommandEnabled(r.Command, 8), r.D8);
        EXPECT_EQ(CommandEnabled(r.Command, 24), r.D24);
        EXPECT_FALSE(CommandEnabled(r.Command, 0));
    }
    EXPECT_EQ(CommandDepthsText(TCommand::Thresholding), "8 or 24");
}

TEST(Commands, DeskewEstimateOnlyHandsNothingOverAndReleasesTheCopy) {
    auto page = Page(fmt1Bit);
    std::vector<uint8_t> before = Pixels(*page);
    size_t blocks = GlobalBlockCount();
    TDeskewParams p;
    p.RadioButtonDeskew = false;
    TCommandResult r = CommandDeskew(*page, p);
    EXPECT_EQ(r.Block, HGLOBAL(0));
    EXPECT_EQ(GlobalBlockCount(), blocks);
    EXPECT_EQ(r.Message, "Estimated skew angle is: 0\xC2\xB0");
    EXPECT_EQ(Pixels(*page), before);
}

TEST(Commands, DeskewCorrectsAndReportsTheAngle) {
    auto page = Page(fmt8Bit);
    TCommandResult r = CommandDeskew(*page, TDeskewParams{});
    ASSERT_NE(r.Block, HGLOBAL(0));
    EXPECT_EQ(r.Message.rfind("Estimated and corrected skew angle is: ", 0), 0u);
    EXPECT_EQ(r.Message.substr(r.Message.size() - 2), "\xC2\xB0");
}

TEST(Commands, FailuresReleaseTheCopyAndLeaveTheOriginal) {
    auto gray = Page(fmt8Bit);
    std::vector<uint8_t> before = Pixels(*gray);
    size_t blocks = GlobalBlockCount();
    EXPECT_THROW(CommandRepair(*gray, TRepairParams{}), Exception);
    EXPECT_EQ(GlobalBlockCount(), blocks);
    TDeskewParams bad;
    bad.EditAccuracy = "x";
    EXPECT_THROW(CommandDeskew(*gray, bad), EConvertError);
    TBlackBorderParams badPercent;
    badPercent.EditPercent = "99,5";
    EXPECT_THROW(CommandBlackBorderRemoval(*gray, badPercent), EConvertError);
    EXPECT_NO_THROW(CommandBlackBorderRemoval(*gray, badPercent, ','));
    EXPECT_EQ(GlobalBlockCount(), blocks);
    EXPECT_EQ(Pixels(*gray), before);
}

TEST(Commands, MessagesOfTheCountingCommands) {
    auto page = Page(fmt1Bit);
    page->SetPixel(5, 5, page->BlackIndex());  // one speck
    TCommandResult r = CommandDespeckle(*page, TDespeckleParams{});
    EXPECT_EQ(r.Message.rfind("Despeckle executed removing ", 0), 0u);
    EXPECT_EQ(r.Message.substr(r.Message.size() - 8), " points.");
    EXPECT_EQ(CommandRemoveDither(*page).Message, "Dither removed.");
    EXPECT_EQ(CommandLineRemoval(*page, TLinesRemovalParams{}).Message, "Lines removal executed !");
    auto color = Page(fmt24Bit);
    EXPECT_EQ(CommandDropColoredInk(*color, TDropInkParams{}).Message, "Colored ink dropped !");
    TCommandResult repaired = CommandRepair(*page, TRepairParams{});
    EXPECT_EQ(repaired.Message.rfind("Image repaired changing ", 0), 0u);
}

TEST(Commands, LineRatioThatIsNotANumberActsAsTen) {
    auto page = Page(fmt1Bit, 500, 300);
    for (int32_t x = 10; x < 490; ++x) page->SetPixel(x, 20, page->BlackIndex());  // a ruling line
    TLinesRemovalParams ten, text, empty;
    text.EditHorzRatio = "abc";
    empty.EditHorzRatio = "";
    TCommandResult a = CommandLineRemoval(*page, ten), b = CommandLineRemoval(*page, text),
                   c = CommandLineRemoval(*page, empty);
    auto da = Adopt(a), db = Adopt(b), dc = Adopt(c);
    EXPECT_EQ(Pixels(*da), Pixels(*db));
    EXPECT_EQ(Pixels(*da), Pixels(*dc));
    EXPECT_NE(Pixels(*da), Pixels(*page));  // the line went
}

TEST(Commands, BlackBorderMessages) {
    auto clean = Page(fmt8Bit);
    EXPECT_EQ(CommandBlackBorderRemoval(*clean, TBlackBorderParams{}).Message, "No black border found !");
    auto bordered = Page(fmt8Bit);
    for (int32_t y = 0; y < bordered->Height(); ++y)
        for (int32_t x = 0; x < 30; ++x) bordered->SetPixel(x, y, 0);
    TCommandResult r = CommandBlackBorderRemoval(*bordered, TBlackBorderParams{});
    EXPECT_EQ(r.Message, "Black border removed  !");
    auto cropped = Adopt(r);
    EXPECT_LT(cropped->Width(), bordered->Width());
}

TEST(Commands, EveryThresholdModeGivesABilevelPageWithBlackText) {
    auto color = Page(fmt24Bit);
    std::vector<TThresholdParams> modes(5);
    modes[1].RadioButtonStandard = false;
    modes[1].RadioButtonAuto = true;
    modes[2].RadioButtonStandard = false;
    modes[2].RadioButtonDynamic = true;
    modes[3] = modes[2];
    modes[3].ComboBoxMode = 1;
    modes[3].LoadModeDefaults(1);
    modes[4].RadioButtonStandard = false;
    modes[4].RadioButtonAdvanced = true;
    for (size_t i = 0; i < modes.size(); ++i) {
        SCOPED_TRACE(i);
        TCommandResult r = CommandThresholding(*color, modes[i]);
        EXPECT_EQ(r.Message, "Image binarized.");
        auto d = Adopt(r);
        ASSERT_EQ(d->BitCount(), 1);
        EXPECT_EQ(d->GetPixelColor(50, 45) & 0xFFFFFF, 0u) << "text pixel";
        EXPECT_EQ(d->GetPixelColor(20, 20) & 0xFFFFFF, 0xFFFFFFu) << "paper pixel";
    }
    EXPECT_EQ(color->BitCount(), 24);
}

TEST(Commands, PreserveHalfTonesOrsADitheredCopyOfTheOriginal) {
    auto gray = Page(fmt8Bit);
    for (int32_t y = 250; y < 290; ++y)
        for (int32_t x = 0; x < 400; ++x) gray->SetPixel(x, y, 100);  // a mid-gray band
    TThresholdParams p;
    TCommandResult plain = CommandThresholding(*gray, p);
    p.CheckBoxPreservaMezziToni = true;
    TCommandResult kept = CommandThresholding(*gray, p);
    auto a = Adopt(plain), b = Adopt(kept);
    int whiteA = 0, whiteB = 0;
    for (int32_t x = 0; x < 400; ++x) {
        whiteA += (a->GetPixelColor(x, 270) & 0xFF) != 0;
        whiteB += (b->GetPixelColor(x, 270) & 0xFF) != 0;
    }
    EXPECT_EQ(whiteA, 0);       // 100 is below the level 127: all black
    EXPECT_GT(whiteB, 100);     // the dithered band lets some white through
}

TEST(Commands, FindImagesAndTextOnABlankPageHandsOverAnUnchangedCopy) {
    auto blank = std::make_unique<TDIB>();
    blank->CreateNew(300, 200, fmt1Bit, 300, 300);
    blank->Fill(0xFF);
    TCommandResult r = CommandFindImagesAndText(*blank);
    EXPECT_EQ(r.Message, "Text blocks have a single frame, images blocks have a double frame.");
    EXPECT_TRUE(r.TextBlocks.empty());
    EXPECT_TRUE(r.ImageBlocks.empty());
    auto d = Adopt(r);
    EXPECT_EQ(Pixels(*d), Pixels(*blank));
}

TEST(Dialogs, ModeDefaultsAndTheDecimalKeyFilter) {
    TThresholdParams p;
    p.LoadModeDefaults(1);
    EXPECT_EQ(p.SpinEditContrast, 8);
    EXPECT_EQ(p.SpinEditAreaW, 10);
    EXPECT_EQ(p.SpinEditAreaH, 10);
    p.LoadModeDefaults(0);
    EXPECT_EQ(p.SpinEditContrast, 16);
    EXPECT_EQ(p.SpinEditAreaW, 7);
    struct Key {
        const char* Text;
        char Key, Separator;
        bool Accepted;
    };
    const Key keys[] = {{"0", '.', ',', false}, {"0", ',', ',', true}, {"0", '.', '.', true},
                        {"0", 'x', '.', false}, {"12", '\b', '.', true}, {"0.1", '5', '.', true},
                        {"", ' ', '.', true},   {"0.1", '.', '.', false}};
    for (const Key& k : keys) EXPECT_EQ(DecimalKeyAccepted(k.Text, k.Key, k.Separator), k.Accepted) << k.Text << k.Key;
}
