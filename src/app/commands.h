// The command layer: one function per processing command of the workbench.
//
// Each command takes the original image (never modified) and the values of its parameter
// dialog as a plain struct whose fields are named after the dialog's controls, with the
// dialog's defaults and the presets the command applies before showing it. It works on a
// Duplicate of the original and returns the result block (or none) and the information
// message the window shows. The workbench and the command-line tool call exactly these
// functions.
//
// Ownership: the copy owns its block until the command succeeds; on any exception the copy
// and every auxiliary image or list are released with their blocks, and the exception
// propagates unchanged. On success the block belongs to the returned TCommandResult until a
// caller takes it with ReleaseBlock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "platform/memory.h"
#include "platform/rect.h"

namespace qil::app {

// The range of a spin edit; a control whose minimum and maximum are both 0 has no limits.
struct TSpinRange {
    int32_t Min;
    int32_t Max;
    bool Limited() const { return Min != 0 || Max != 0; }
    bool Contains(int32_t v) const { return !Limited() || (v >= Min && v <= Max); }
};

// "Deskew" dialog.
struct TDeskewParams {
    bool RadioButtonDeskew = true;    // "Estimate skew angle and correct image"; false: estimate only
    int32_t SpinEditAngle = 5;        // "Range (+/-)", degrees
    std::string EditAccuracy = "0.1"; // "Resolution", degrees, as typed
    int32_t TrackBarStep = 15;        // "Accurate" (0) ... "Fast" (30)
    bool CheckBoxBlack = false;       // "Use black color for new background"
    bool CheckBoxInterpolation = false;
    static constexpr TSpinRange AngleRange{1, 45};
    static constexpr TSpinRange StepRange{0, 30};
};

// "Despeckle" dialog.
struct TDespeckleParams {
    int32_t SpinEditMaxH = 3;
    int32_t SpinEditMaxV = 3;
    bool CheckBoxSmart = false;
    static constexpr TSpinRange MaxRange{1, 100};
};

// "Repair" dialog: item index of "Very Low" (0) ... "Very High" (4).
struct TRepairParams {
    int32_t RadioGroupAggr = 2;
    static constexpr TSpinRange AggrRange{0, 4};
};

// "Lines Removal" dialog, with both ratio fields preset to "10".
struct TLinesRemovalParams {
    bool RadioButtonBoth = true;
    bool RadioButtonHorz = false;
    bool RadioButtonVert = false;
    int32_t SpinEditMinH = 100;
    int32_t SpinEditHolesH = 2;
    std::string EditHorzRatio = "10";
    int32_t SpinEditMinV = 100;
    int32_t SpinEditHolesV = 2;
    std::string EditVertRatio = "10";
    bool CheckBoxClean = true;
    bool CheckBoxReconnect = false;
    static constexpr TSpinRange MinLengthRange{5, 2000};
    static constexpr TSpinRange HolesRange{0, 50};
};

// "Binarization" dialog.
struct TThresholdParams {
    bool RadioButtonStandard = true;
    int32_t SpinEditStandard = 127;
    bool RadioButtonAuto = false;
    int32_t ComboBoxAuto = 0;  // "Otsu", "Lloyd", "Ridler and Calvard", "Uniform Error", "Standard Deviation"
    bool RadioButtonDynamic = false;
    int32_t ComboBoxMode = 0;  // "MinMax", "Average"
    int32_t SpinEditContrast = 16;
    int32_t SpinEditAreaW = 7;
    int32_t SpinEditAreaH = 7;
    bool RadioButtonAdvanced = false;
    bool CheckBoxPreservaMezziToni = false;
    static constexpr TSpinRange StandardRange{1, 254};
    static constexpr TSpinRange UnlimitedRange{0, 0};
    // The values the dialog loads when the mode selection changes to ModeIndex.
    void LoadModeDefaults(int32_t modeIndex);
};

// "Black Border Removal" dialog, with the command's presets ("99", crop checked).
struct TBlackBorderParams {
    std::string EditPercent = "99";
    bool CheckBoxCrop = true;
};

// "Drop Colored Ink" dialog.
struct TDropInkParams {
    bool CheckBoxRed = true;
    bool CheckBoxGreen = false;
    bool CheckBoxBlue = false;
    int32_t SpinEditThreshold = 255;
    static constexpr TSpinRange ThresholdRange{0, 255};
};

// What a command produced. Block is the result image (0 when the command hands nothing
// over, as "Estimate skew angle only"); it is freed with the result unless taken.
struct TCommandResult {
    HGLOBAL Block = 0;
    std::string Message;
    float Angle = 0;                   // deskew: the estimated angle
    std::vector<TRect> TextBlocks;     // find images and text: as found
    std::vector<TRect> ImageBlocks;    // the same, before the image frames are grown

    TCommandResult() = default;
    TCommandResult(TCommandResult&& other) noexcept;
    TCommandResult& operator=(TCommandResult&& other) noexcept;
    TCommandResult(const TCommandResult&) = delete;
    TCommandResult& operator=(const TCommandResult&) = delete;
    ~TCommandResult();
    // Hands the block to the caller, who then owns it.
    HGLOBAL ReleaseBlock();
};

// DecimalSeparator is the separator the text fields are written with (the locale's in the
// workbench, '.' in the command-line tool).
TCommandResult CommandDeskew(TDIB& original, const TDeskewParams& p, char decimalSeparator = '.');
TCommandResult CommandDespeckle(TDIB& original, const TDespeckleParams& p);
TCommandResult CommandRepair(TDIB& original, const TRepairParams& p);
TCommandResult CommandLineRemoval(TDIB& original, const TLinesRemovalParams& p, char decimalSeparator = '.');
TCommandResult CommandThresholding(TDIB& original, const TThresholdParams& p);
TCommandResult CommandBlackBorderRemoval(TDIB& original, const TBlackBorderParams& p, char decimalSeparator = '.');
TCommandResult CommandRemoveDither(TDIB& original);
TCommandResult CommandDropColoredInk(TDIB& original, const TDropInkParams& p);
TCommandResult CommandFindImagesAndText(TDIB& original);

// The processing commands, for the command-state rule.
enum class TCommand {
    Deskew,
    Despeckle,
    Repair,
    LineRemoval,
    Thresholding,
    BlackBorderRemoval,
    RemoveDither,
    DropColoredInk,
    FindImageAndText,
};

// Whether a command is enabled for an image of the given depth (bits per pixel).
bool CommandEnabled(TCommand command, int32_t depth);
// The depths that enable a command, as text: "1", "8 or 24", "1, 8 or 24", "24".
std::string CommandDepthsText(TCommand command);

}  // namespace qil::app

namespace qil::app {
// The key filter of the decimal text fields ("Resolution", "Black Percentage"): a key below
// code 33 passes; otherwise the key passes when the current text followed by it (by ".0"
// for the "." key) converts as a number with the given decimal separator.
bool DecimalKeyAccepted(const std::string& currentText, char key, char decimalSeparator);
}  // namespace qil::app
