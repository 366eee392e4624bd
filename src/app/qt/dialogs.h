// The parameter dialogs of the processing commands.
//
// Every dialog has the same small interface, so the window drives all seven alike:
//
//   TDialogoDeskew dialog(parent, locale);   // the form's defaults
//   dialog.Preset();                          // the command's presets (see below)
//   if (dialog.exec() == QDialog::Accepted)
//       CommandDeskew(image, dialog.Params(), dialog.DecimalSeparator());
//
// - The constructor takes the parent widget and the locale whose decimal separator the
//   decimal fields use (the key filters, the text the deskew dialog writes when shown).
// - Preset() applies what the command sets before showing the dialog: "Lines Removal" writes
//   the text of 10 into both ratio fields, "Black Border Removal" writes the text of 99 into
//   "Black Percentage" and checks "Auto Crop Image"; the other dialogs have no presets.
// - Params() reads the controls into the command layer's parameter struct; SetParams() writes
//   such a struct into the controls.
// - DecimalSeparator() is the separator taken from the locale; the window passes it to the
//   command's text-to-number conversions, so a field the key filter accepted always converts.
//
// Every control that carries a value has the object name the commands and tests find it by
// (SpinEditAngle, CheckBoxSmart, ...). The buttons are OKBtn ("OK", the default button) and
// CancelBtn ("Cancel"); the parameter area is framed by the QFrame Bevel1.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLocale>
#include <QStringList>

#include <initializer_list>
#include <vector>

#include "app/commands.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace qil::app::qt {

// The decimal separator of a locale as the command layer's conversions take it: the
// locale's separator when it is a single ASCII character, otherwise '.'.
char LocaleDecimalSeparator(const QLocale& locale);

// A framed group of exclusive radio buttons laid out in columns (filled column by column),
// with the index of the checked item (-1 when none is).
class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Button(int index) const;

private:
    QButtonGroup* group_;
};

// What the dialogs share: the font, the framed parameter area, OK and Cancel, the border kind
// and the placement, the locale's decimal separator.
class TParameterDialog : public QDialog {
    Q_OBJECT

public:
    enum class TBorder { Fixed, Sizeable };
    enum class TPlacement { Default, ScreenCenter };
    enum class TButtons { Bottom, Right };

    char DecimalSeparator() const { return separator_; }
    QLocale Locale() const { return locale_; }

    QFrame* Bevel1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    TParameterDialog(QWidget* parent, const QLocale& locale, const QString& caption, TBorder border,
                     TPlacement placement, TButtons buttons);
    void showEvent(QShowEvent* event) override;

    // Builders of the parameter area, a grid of label, control and unit columns.
    QGridLayout* Grid() const { return grid_; }
    QSpinBox* AddSpin(const char* name, const QString& label, const QString& unit, int row, TSpinRange range,
                      int value);
    QLineEdit* AddEdit(const char* name, const QString& label, const QString& unit, int row, const QString& text);
    QCheckBox* AddCheck(const char* name, const QString& caption, int row, bool checked);
    QRadioButton* AddRadio(const char* name, const QString& caption, int row, bool checked);
    QComboBox* AddCombo(const char* name, const QString& label, int row, const QStringList& items, int index);
    // The decimal key filter of a text field: the key passes when the field's text with the key
    // imagined at its end (".0" for the "." key), wherever the caret is, converts with the
    // separator; keys below code 33 always pass. A refused key is dropped silently.
    // InstallDecimalFilter applies it to every key typed into the field.
    bool DecimalKeyPasses(const QString& text, QChar key) const;
    void InstallDecimalFilter(QLineEdit* edit);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLocale locale_;
    char separator_;
    TPlacement placement_;
    QGridLayout* grid_;
    std::vector<QLineEdit*> decimalFields_;
};

// Sets the spin edit's range (no limits when the range is 0 ... 0).
void SetSpinRange(QSpinBox* spin, TSpinRange range);
// Checks one radio button of a set, or none when checked is null.
void CheckOnly(std::initializer_list<QRadioButton*> set, QRadioButton* checked);

// "Deskew".
class TDialogoDeskew : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoDeskew(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    void Preset() {}
    TDeskewParams Params() const;
    void SetParams(const TDeskewParams& p);

    // Writes the text of the number 0.1 with the locale's separator into EditAccuracy; runs
    // every time the dialog is shown.
    void FormShow();
    bool EditAccuracyKeyPress(QChar key) const;

    QRadioButton* RadioButtonDeskew;
    QRadioButton* RadioButtonEstimate;
    QSpinBox* SpinEditAngle;
    QLineEdit* EditAccuracy;
    QSlider* TrackBarStep;
    QCheckBox* CheckBoxBlack;
    QCheckBox* CheckBoxInterpolation;

protected:
    void showEvent(QShowEvent* event) override;
};

// "Despeckle".
class TDialogoDespeckle : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoDespeckle(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    void Preset() {}
    TDespeckleParams Params() const;
    void SetParams(const TDespeckleParams& p);

    QSpinBox* SpinEditMaxH;
    QSpinBox* SpinEditMaxV;
    QCheckBox* CheckBoxSmart;
};

// "Repair".
class TDialogoRepair : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoRepair(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    void Preset() {}
    TRepairParams Params() const;
    void SetParams(const TRepairParams& p);

    TRadioGroup* RadioGroupAggr;
};

// "Lines Removal".
class TDialogoLinesRemoval : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoLinesRemoval(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    // Both ratio fields := the text of the number 10.
    void Preset();
    TLinesRemovalParams Params() const;
    void SetParams(const TLinesRemovalParams& p);

    QRadioButton* RadioButtonBoth;
    QRadioButton* RadioButtonHorz;
    QRadioButton* RadioButtonVert;
    QSpinBox* SpinEditMinH;
    QSpinBox* SpinEditHolesH;
    QLineEdit* EditHorzRatio;
    QSpinBox* SpinEditMinV;
    QSpinBox* SpinEditHolesV;
    QLineEdit* EditVertRatio;
    QCheckBox* CheckBoxClean;
    QCheckBox* CheckBoxReconnect;
};

// "Binarization". The controls of each mode select that mode: changing the fixed level checks
// "Standard Thresholding", choosing an algorithm checks "Auto Thresholding", clicking the mode,
// the contrast or an area size checks "Dynamic Thresholding", and choosing a mode loads its
// defaults. Nothing selects "Advanced Dynamic Thresholding", and no control is ever disabled.
class TDialogoThreshold : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoThreshold(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    void Preset() {}
    TThresholdParams Params() const;
    void SetParams(const TThresholdParams& p);

    void SpinEditStandardChange();
    void ComboBoxAutoClick();
    void ComboBoxModeClick();
    void SpinEditContrastClick();
    void SpinEditAreaWClick();  // both area spin edits
    void ComboBoxModeChange();

    QRadioButton* RadioButtonStandard;
    QSpinBox* SpinEditStandard;
    QRadioButton* RadioButtonAuto;
    QComboBox* ComboBoxAuto;
    QRadioButton* RadioButtonDynamic;
    QComboBox* ComboBoxMode;
    QSpinBox* SpinEditContrast;
    QSpinBox* SpinEditAreaW;
    QSpinBox* SpinEditAreaH;
    QRadioButton* RadioButtonAdvanced;
    QCheckBox* CheckBoxPreservaMezziToni;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// "Black Border Removal".
class TDialogoBlackBorderRemoval : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoBlackBorderRemoval(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    // EditPercent := the text of the number 99; CheckBoxCrop checked.
    void Preset();
    TBlackBorderParams Params() const;
    void SetParams(const TBlackBorderParams& p);

    bool EditPercentKeyPress(QChar key) const;

    QLineEdit* EditPercent;
    QCheckBox* CheckBoxCrop;
};

// "Drop Colored Ink".
class TDialogoDropInk : public TParameterDialog {
    Q_OBJECT

public:
    explicit TDialogoDropInk(QWidget* parent = nullptr, const QLocale& locale = QLocale());
    void Preset() {}
    TDropInkParams Params() const;
    void SetParams(const TDropInkParams& p);

    QCheckBox* CheckBoxRed;
    QCheckBox* CheckBoxGreen;
    QCheckBox* CheckBoxBlue;
    QSpinBox* SpinEditThreshold;
};

}  // namespace qil::app::qt
