// TDialogAnnotationProperties: the modal form that shows and edits one annotation mark.
//
// Use: create it, LoadFromMark(mark), exec(), and StoreToMark(mark) when it closes with OK.
// The controls above the pages edit the mark's rectangle (image pixels), color and
// visibility; one of four pages, chosen by the mark's class, edits the rest: text and font
// (sticky note, text mark), rectangle style, point list (line) or picture. Cancel leaves the
// mark untouched: nothing reaches the mark before StoreToMark.
//
// Every control has the object name the form gives it (SpinEditTop, ListBoxPoints, ...).
#pragma once

#include <QDialog>
#include <QComboBox>
#include <QImage>
#include <QString>
#include <cstdint>

#include "annotations/qt/marks.h"

class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace qil {

// A color picker: the sixteen standard colors and a custom entry that carries any other color
// (and opens the color chooser when picked). Colors are platform color values 0x00BBGGRR.
class TColorBox : public QComboBox {
    Q_OBJECT

public:
    explicit TColorBox(QWidget* parent = nullptr);
    uint32_t Selected() const;
    // Selects the standard entry of the color, or puts the color on the custom entry.
    void SetSelected(uint32_t color);
    int CustomIndex() const { return count() - 1; }
    void SetCustomColor(uint32_t color);

private:
    void Picked(int index);
};

// A picture shown stretched proportionally into the control (at its top-left corner).
class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent = nullptr);
    // The bitmap; empty (null) when there is no picture.
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The font chooser: face, size and style (with strike-out and underline) and a text color.
// Font holds the font shown when Execute starts and the chosen one after it was confirmed.
class TFontDialog : public QObject {
    Q_OBJECT

public:
    explicit TFontDialog(QObject* parent = nullptr) : QObject(parent) {}
    // Shows the chooser modally; true (and Font changed) when confirmed.
    bool Execute(QWidget* parent);
    TFont Font;
};

// "Name, size" followed by ", Bold", ", Italic", ", Underline", ", Strikeout" for each style
// the font has, in that order: a bold italic 12-point Arial gives "Arial, 12, Bold, Italic".
QString FontDescription(const TFont& font);

// Point list items carry the point packed into 32 bits: X in the low, Y in the high 16 bits,
// both read back as unsigned 16-bit numbers (so -5 comes back as 65531).
uint32_t PackPoint(int32_t x, int32_t y);
TPoint UnpackPoint(uint32_t packed);

class TDialogAnnotationProperties : public QDialog {
    Q_OBJECT

public:
    explicit TDialogAnnotationProperties(QWidget* parent = nullptr);

    void LoadFromMark(TGenericMark* mark);
    void StoreToMark(TGenericMark* mark);

    // Event handlers. ButtonAddClick raises EConvertError when X or Y is not an integer
    // (nothing is added); ButtonLoadClick raises the loading error of a file that is not a
    // bitmap. Clicked from the form, their errors are shown in an error box.
    void ButtonFontClick();
    void ButtonLoadClick();
    void ButtonClearClick();
    void ButtonDeleteClick();
    void ButtonAddClick();
    void ListBoxPointsClick();

    QFrame* Bevel1;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QSpinBox* SpinEditTop;
    QSpinBox* SpinEditLeft;
    QSpinBox* SpinEditRight;
    QSpinBox* SpinEditBottom;
    QLabel* Label5;
    TColorBox* ColorBox;
    QCheckBox* CheckBoxVisible;
    QStackedWidget* PageControl1;

    QWidget* TabSheetText;
    QLabel* Label7;
    QLineEdit* EditFont;
    QPushButton* ButtonFont;
    QLabel* Label6;
    QPlainTextEdit* MemoText;

    QWidget* TabSheetRectangle;
    QLabel* Label9;
    QSpinBox* SpinEditRectanglePen;
    QCheckBox* CheckBoxRectangleHightLight;
    QCheckBox* CheckBoxRectangleFilled;

    QWidget* TabSheetLine;
    QLabel* Label10;
    QSpinBox* SpinEditLinePen;
    QLabel* Label8;
    QListWidget* ListBoxPoints;
    QLabel* Label12;
    QLineEdit* EditX;
    QLabel* Label13;
    QLineEdit* EditY;
    QPushButton* ButtonAdd;
    QPushButton* ButtonDelete;

    QWidget* TabSheetImage;
    QLabel* Label11;
    TImage* Image;
    QPushButton* ButtonClear;
    QPushButton* ButtonLoad;

    TFontDialog* FontDialog;
    QFileDialog* OpenDialog;

protected:
    // Centred on the desktop (the available area of the screen) each time it is shown.
    void showEvent(QShowEvent* event) override;

private:
    // Shows the font's description in EditFont, in the font's color.
    void ShowFont(const TFont& font);
    // The text page of a sticky note or a text mark: a copy of its font, its text in lines.
    void LoadTextPage(const TFont& font, const QString& text);
    // Runs a handler from a click: an exception is shown in an error box.
    void Guarded(void (TDialogAnnotationProperties::*handler)());
};

}  // namespace qil
