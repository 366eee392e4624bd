#include "app/commands.h"

#include <memory>
#include <utility>

#include "cleanup/blobs.h"
#include "platform/exceptions.h"
#include "platform/text.h"

namespace qil::app {

TCommandResult::TCommandResult(TCommandResult&& other) noexcept
    : Block(std::exchange(other.Block, 0)),
      Message(std::move(other.Message)),
      Angle(other.Angle),
      TextBlocks(std::move(other.TextBlocks)),
      ImageBlocks(std::move(other.ImageBlocks)) {}

TCommandResult& TCommandResult::operator=(TCommandResult&& other) noexcept {
    if (this != &other) {
        if (Block != 0) GlobalFree(Block);
        Block = std::exchange(other.Block, 0);
        Message = std::move(other.Message);
        Angle = other.Angle;
        TextBlocks = std::move(other.TextBlocks);
        ImageBlocks = std::move(other.ImageBlocks);
    }
    return *this;
}

TCommandResult::~TCommandResult() {
    if (Block != 0) GlobalFree(Block);
}

HGLOBAL TCommandResult::ReleaseBlock() { return std::exchange(Block, 0); }

void TThresholdParams::LoadModeDefaults(int32_t modeIndex) {
    if (modeIndex == 0) {
        SpinEditContrast = 16;
        SpinEditAreaW = 7;
        SpinEditAreaH = 7;
    } else {
        SpinEditContrast = 8;
        SpinEditAreaW = 10;
        SpinEditAreaH = 10;
    }
}

namespace {

// The working copy of a command: owns its block until it is handed over.
using TWork = std::unique_ptr<TDIB>;

TWork MakeWork(TDIB& original) { return TWork(original.Duplicate()); }

// Steps 5 of the common frame: the copy gives up its block to the result.
TCommandResult HandOver(TWork& work, std::string message) {
    TCommandResult r;
    work->OwnsHandle = false;
    r.Block = work->GetHandle();
    work.reset();
    r.Message = std::move(message);
    return r;
}

std::vector<TRect> BlobRects(const TBlobList& list) {
    std::vector<TRect> rects;
    rects.reserve(static_cast<size_t>(list.Count()));
    for (int32_t i = 0; i < list.Count(); ++i) rects.push_back(static_cast<const TRect&>(list.Items(i)));
    return rects;
}

const char kDegree[] = "\xC2\xB0";  // U+00B0 DEGREE SIGN in UTF-8

}  // namespace

TCommandResult CommandDeskew(TDIB& original, const TDeskewParams& p, char decimalSeparator) {
    double accuracy = static_cast<double>(StrToFloat(p.EditAccuracy, decimalSeparator));
    TWork work = MakeWork(original);
    float angle = static_cast<float>(work->EstimateSkew(p.TrackBarStep, p.SpinEditAngle, accuracy));
    std::string angleText = FloatToStr(angle, decimalSeparator);
    if (p.RadioButtonDeskew) {
        work->Rotate(!p.CheckBoxBlack, p.CheckBoxInterpolation, angle, angle);
        TCommandResult r = HandOver(work, "Estimated and corrected skew angle is: " + angleText + kDegree);
        r.Angle = angle;
        return r;
    }
    TCommandResult r;  // estimate only: the copy goes with its block
    r.Message = "Estimated skew angle is: " + angleText + kDegree;
    r.Angle = angle;
    return r;
}

TCommandResult CommandDespeckle(TDIB& original, const TDespeckleParams& p) {
    TWork work = MakeWork(original);
    int32_t n = p.CheckBoxSmart ? work->SmartDespeckle(p.SpinEditMaxH, p.SpinEditMaxV, false)
                                : work->Despeckle(p.SpinEditMaxH, p.SpinEditMaxV);
    return HandOver(work, "Despeckle executed removing " + IntToStr(n) + " points.");
}

TCommandResult CommandRepair(TDIB& original, const TRepairParams& p) {
    TWork work = MakeWork(original);
    int32_t n = work->Repair(p.RadioGroupAggr);
    return HandOver(work, "Image repaired changing " + IntToStr(n) + " points.");
}

TCommandResult CommandLineRemoval(TDIB& original, const TLinesRemovalParams& p, char decimalSeparator) {
    // A ratio field that does not hold a number counts as 10.
    auto ratio = [decimalSeparator](const std::string& text) {
        long double v;
        return TryStrToFloat(text, v, decimalSeparator) ? static_cast<double>(v) : 10.0;
    };
    double horzRatio = ratio(p.EditHorzRatio);
    double vertRatio = ratio(p.EditVertRatio);
    TWork work = MakeWork(original);
    if (p.RadioButtonHorz)
        work->RemoveHorizontalLines(p.SpinEditMinH, p.SpinEditHolesH, horzRatio, p.CheckBoxClean, p.CheckBoxReconnect);
    else if (p.RadioButtonVert)
        work->RemoveVerticalLines(p.SpinEditMinV, p.SpinEditHolesV, vertRatio, p.CheckBoxClean, p.CheckBoxReconnect);
    else
        work->RemoveLines(p.SpinEditMinH, p.SpinEditHolesH, horzRatio, p.SpinEditMinV, p.SpinEditHolesV, vertRatio,
                          p.CheckBoxClean, p.CheckBoxReconnect);
    return HandOver(work, "Lines removal executed !");
}

TCommandResult CommandThresholding(TDIB& original, const TThresholdParams& p) {
    TWork work = MakeWork(original);
    if (work->ImageFormat == fmt24Bit) work->RGBToGray(true, true, true, true);
    if (p.RadioButtonStandard) {
        work->Threshold(static_cast<uint8_t>(p.SpinEditStandard), true, 0, 255);
    } else if (p.RadioButtonAuto) {
        if (p.ComboBoxAuto >= 0 && p.ComboBoxAuto <= 4)
            work->AutoThreshold(static_cast<uint8_t>(p.ComboBoxAuto), true, 0, 255);
    } else if (p.RadioButtonDynamic) {
        if (p.ComboBoxMode == 1) {
            work->LocalAverageThreshold(p.SpinEditAreaW, p.SpinEditAreaH, p.SpinEditContrast, true, 0, 255);
        } else if (p.ComboBoxMode == 0) {
            THistogram h;
            work->GetHistogram(h);
            auto level = static_cast<uint8_t>(TDIB::StdDevThreshold(h, 0));
            work->LocalMinMaxThreshold(static_cast<uint8_t>(p.SpinEditContrast), p.SpinEditAreaW, p.SpinEditAreaH,
                                       level, true, 0, 255);
        }
    } else if (p.RadioButtonAdvanced) {
        auto r = std::make_unique<TDIB>();
        r->CreateNew(work->Width(), work->Height(), fmt8Bit, work->XResolution(), work->YResolution());
        TDIB::AdvancedDynamicThreshold(9, *work, *r, -0.2);
        work->OwnsHandle = true;
        work->SetHandle(r->GetHandle());
        r->OwnsHandle = false;
        r.reset();
        // The threshold writes 0 for dark pixels and 255 for light ones, which the bilevel
        // conversion already maps to black and white: no inversion, or the text turns white.
        work->ConvertToFormat(fmt1Bit);
    }
    if (p.CheckBoxPreservaMezziToni) {
        TWork d = MakeWork(original);
        if (d->ImageFormat == fmt24Bit) d->RGBToGray(true, true, true, true);
        d->FloydSteinbergDither(true, 0, 255);
        work->OrImage(*d);
    }
    return HandOver(work, "Image binarized.");
}

TCommandResult CommandBlackBorderRemoval(TDIB& original, const TBlackBorderParams& p, char decimalSeparator) {
    long double percent = StrToFloat(p.EditPercent, decimalSeparator);
    TWork work = MakeWork(original);
    TRect rect{};
    work->FindBlackBorder(0, rect, static_cast<double>(100 - percent));
    if (p.CheckBoxCrop)
        work->CropToRect(rect);
    else
        work->ClearOutsideRect(rect);
    bool whole = rect.Left == 0 && rect.Top == 0 && rect.Right == original.Width() - 1 &&
                 rect.Bottom == original.Height() - 1;
    return HandOver(work, whole ? "No black border found !" : "Black border removed  !");
}

TCommandResult CommandRemoveDither(TDIB& original) {
    TWork work = MakeWork(original);
    work->RemoveDither();
    return HandOver(work, "Dither removed.");
}

TCommandResult CommandDropColoredInk(TDIB& original, const TDropInkParams& p) {
    TWork work = MakeWork(original);
    work->DropColoredInk(p.CheckBoxRed, p.CheckBoxGreen, p.CheckBoxBlue, p.SpinEditThreshold);
    return HandOver(work, "Colored ink dropped !");
}

TCommandResult CommandFindImagesAndText(TDIB& original) {
    TWork work = MakeWork(original);
    TBlobList textBlocks;
    TBlobList imageBlocks;
    work->FindImagesAndText(textBlocks, imageBlocks);
    std::vector<TRect> textRects = BlobRects(textBlocks);
    std::vector<TRect> imageRects = BlobRects(imageBlocks);
    int32_t black = work->BlackIndex();
    work->DrawBlobFrames(textBlocks, black);
    work->DrawBlobFrames(imageBlocks, black);
    for (int32_t i = 0; i < imageBlocks.Count(); ++i) {
        TBlob& b = imageBlocks.Items(i);
        b.Left -= 2;
        b.Top -= 2;
        b.Right += 2;
        b.Bottom += 2;
    }
    work->DrawBlobFrames(imageBlocks, black);
    TCommandResult r = HandOver(work, "Text blocks have a single frame, images blocks have a double frame.");
    r.TextBlocks = std::move(textRects);
    r.ImageBlocks = std::move(imageRects);
    return r;
}

bool CommandEnabled(TCommand command, int32_t depth) {
    switch (command) {
        case TCommand::Deskew:
        case TCommand::BlackBorderRemoval:
            return depth == 1 || depth == 8 || depth == 24;
        case TCommand::Despeckle:
        case TCommand::Repair:
        case TCommand::LineRemoval:
        case TCommand::RemoveDither:
        case TCommand::FindImageAndText:
            return depth == 1;
        case TCommand::Thresholding:
            return depth == 8 || depth == 24;
        case TCommand::DropColoredInk:
            return depth == 24;
    }
    return false;
}

std::string CommandDepthsText(TCommand command) {
    switch (command) {
        case TCommand::Deskew:
        case TCommand::BlackBorderRemoval:
            return "1, 8 or 24";
        case TCommand::Thresholding:
            return "8 or 24";
        case TCommand::DropColoredInk:
            return "24";
        default:
            return "1";
    }
}

bool DecimalKeyAccepted(const std::string& currentText, char key, char decimalSeparator) {
    if (static_cast<unsigned char>(key) < 33) return true;
    std::string candidate = currentText + (key == '.' ? std::string(".0") : std::string(1, key));
    long double v;
    return TryStrToFloat(candidate, v, decimalSeparator);
}

}  // namespace qil::app
