// The parameter dialogs: controls, defaults and ranges, the decimal key filter under a comma
// and a point locale, the binarization dialog's mode switching, the presets and FormShow, and
// the values each dialog hands to the command layer.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QSpontaneKeyEvent>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <functional>
#include <memory>

#include "app/qt/dialogs.h"
#include "platform/text.h"

using namespace qil::app;
using namespace qil::app::qt;

namespace {

const QLocale kComma(QLocale::Italian, QLocale::Italy);
const QLocale kPoint(QLocale::English, QLocale::UnitedStates);

// Every dialog, built with the given locale, for the table-driven checks.
std::vector<std::unique_ptr<TParameterDialog>> AllDialogs(const QLocale& locale) {
    std::vector<std::unique_ptr<TParameterDialog>> all;
    all.emplace_back(new TDialogoDeskew(nullptr, locale));
    all.emplace_back(new TDialogoDespeckle(nullptr, locale));
    all.emplace_back(new TDialogoRepair(nullptr, locale));
    all.emplace_back(new TDialogoLinesRemoval(nullptr, locale));
    all.emplace_back(new TDialogoThreshold(nullptr, locale));
    all.emplace_back(new TDialogoBlackBorderRemoval(nullptr, locale));
    all.emplace_back(new TDialogoDropInk(nullptr, locale));
    return all;
}

template <typename T>
T* Child(QObject* parent, const char* name) {
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (child == nullptr) qWarning("no control %s in %s", name, parent->metaObject()->className());
    return child;
}

// The buddy label of a control, or its caption.
QString LabelOf(QWidget* dialog, QWidget* control) {
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() == control) return label->text();
    return QString();
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void CaptionsBordersAndButtons();
    void SpinEditsHaveTheirDefaultsRangesAndLabels();
    void ChoiceControlsHaveTheirCaptionsAndDefaults();
    void FreshDialogsGiveTheCommandDefaults();
    void ParamsRoundTrip();
    void DecimalKeyFilter_data();
    void DecimalKeyFilter();
    void TypedKeysFollowTheFilterWhereverTheCaretIs();
    void AcceptedTextConvertsWithTheDialogsSeparator();
    void DeskewFormShowRewritesTheResolution();
    void BlackBorderFormValuesAndPreset();
    void BinarizationModeSwitching();
    void BinarizationRadioSelectionByOtherControls();
    void RepairGroupHasTwoColumns();
    void ExecReturnsAcceptedOnOkAndRejectedOnCancel();
    void ScreenCentredDialogsAreCentred();
};

void DialogsTest::CaptionsBordersAndButtons() {
    struct Row {
        const char* caption;
        bool fixed;
        bool buttonsRight;
    };
    const Row rows[] = {{"Deskew", true, false},        {"Despeckle", true, false},
                        {"Repair", false, false},       {"Lines Removal", true, false},
                        {"Binarization", true, false},  {"Black Border Removal", true, false},
                        {"Drop Colored Ink", false, true}};
    auto all = AllDialogs(kPoint);
    QCOMPARE(all.size(), std::size(rows));
    for (size_t i = 0; i < all.size(); ++i) {
        TParameterDialog* d = all[i].get();
        const Row& r = rows[i];
        QCOMPARE(d->windowTitle(), QString::fromLatin1(r.caption));
        QCOMPARE(d->layout()->sizeConstraint() == QLayout::SetFixedSize, r.fixed);
        QCOMPARE(d->isSizeGripEnabled(), !r.fixed);
        QCOMPARE(d->font().pointSize(), 8);
        QCOMPARE(d->OKBtn->text(), QStringLiteral("OK"));
        QCOMPARE(d->CancelBtn->text(), QStringLiteral("Cancel"));
        QVERIFY(d->OKBtn->isDefault());
        QVERIFY(!d->CancelBtn->isDefault());
        QCOMPARE(d->Bevel1->frameShape(), QFrame::Box);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        const QRect bevel = d->Bevel1->geometry();
        const QRect ok = d->OKBtn->geometry();
        const QRect cancel = d->CancelBtn->geometry();
        if (r.buttonsRight) {
            QVERIFY2(ok.left() > bevel.right(), r.caption);
            QVERIFY2(cancel.top() > ok.bottom(), r.caption);  // one above the other
        } else {
            QVERIFY2(ok.top() > bevel.bottom(), r.caption);
            QVERIFY2(cancel.left() > ok.right(), r.caption);
        }
        d->hide();
    }
}

void DialogsTest::SpinEditsHaveTheirDefaultsRangesAndLabels() {
    struct Row {
        size_t dialog;
        const char* name;
        const char* label;
        int value, min, max;
    };
    const Row rows[] = {
        {0, "SpinEditAngle", "Range (+/-)", 5, 1, 45},
        {1, "SpinEditMaxH", "Noise Max Horizontal Size", 3, 1, 100},
        {1, "SpinEditMaxV", "Noise Max Vertical Size", 3, 1, 100},
        {3, "SpinEditMinH", "Min horz line length", 100, 5, 2000},
        {3, "SpinEditHolesH", "Max horz line holes", 2, 0, 50},
        {3, "SpinEditMinV", "Min vert line lenght", 100, 5, 2000},
        {3, "SpinEditHolesV", "Max vert line holes", 2, 0, 50},
        {4, "SpinEditStandard", "Fixed Threshold Value", 127, 1, 254},
        {4, "SpinEditContrast", "Local Contrast", 16, INT_MIN, INT_MAX},
        {4, "SpinEditAreaW", "Local Area Size", 7, INT_MIN, INT_MAX},
        {4, "SpinEditAreaH", "", 7, INT_MIN, INT_MAX},
        {6, "SpinEditThreshold", "Aggressivity", 255, 0, 255},
    };
    auto all = AllDialogs(kPoint);
    for (const Row& r : rows) {
        QSpinBox* spin = Child<QSpinBox>(all[r.dialog].get(), r.name);
        QVERIFY2(spin != nullptr, r.name);
        QCOMPARE(spin->value(), r.value);
        QCOMPARE(spin->minimum(), r.min);
        QCOMPARE(spin->maximum(), r.max);
        QCOMPARE(LabelOf(all[r.dialog].get(), spin), QString::fromLatin1(r.label));
        // Integers only, clamped into the range.
        spin->setValue(r.max == INT_MAX ? -70000 : r.max + 1);
        QCOMPARE(spin->value(), r.max == INT_MAX ? -70000 : r.max);
    }
    QCOMPARE(Child<QSpinBox>(all[6].get(), "SpinEditThreshold")->findChild<QLineEdit*>()->maxLength(), 3);

    auto* deskew = static_cast<TDialogoDeskew*>(all[0].get());
    QCOMPARE(deskew->TrackBarStep->orientation(), Qt::Horizontal);
    QCOMPARE(deskew->TrackBarStep->minimum(), 0);
    QCOMPARE(deskew->TrackBarStep->maximum(), 30);
    QCOMPARE(deskew->TrackBarStep->value(), 15);
    QCOMPARE(deskew->TrackBarStep->tickPosition(), QSlider::TicksBelow);
    QCOMPARE(deskew->TrackBarStep->tickInterval(), 1);
    QCOMPARE(LabelOf(deskew, deskew->EditAccuracy), QStringLiteral("Resolution"));
    QStringList texts;
    for (QLabel* l : deskew->findChildren<QLabel*>()) texts << l->text();
    for (const char* t : {"Accurate", "Fast", "\u00B0"}) QVERIFY2(texts.contains(QString::fromUtf8(t)), t);
}

void DialogsTest::ChoiceControlsHaveTheirCaptionsAndDefaults() {
    struct Row {
        size_t dialog;
        const char* name;
        const char* caption;
        bool checked;
    };
    const Row rows[] = {
        {0, "RadioButtonDeskew", "Estimate skew angle and correct image", true},
        {0, "RadioButtonEstimate", "Estimate skew angle only", false},
        {0, "CheckBoxBlack", "Use black color for new background", false},
        {0, "CheckBoxInterpolation", "Use Interpolation", false},
        {1, "CheckBoxSmart", "Don't remove points in text lines (Smart !)", false},
        {3, "RadioButtonBoth", "Remove Both Orizontal and Vertical Lines", true},
        {3, "RadioButtonHorz", "Remove Horizontal Lines Only", false},
        {3, "RadioButtonVert", "Remove Vertical Lines Only", false},
        {3, "CheckBoxClean", "Clean line borders", true},
        {3, "CheckBoxReconnect", "Reconnect crossed characters", false},
        {4, "RadioButtonStandard", "Standard Thresholding", true},
        {4, "RadioButtonAuto", "Auto Thresholding", false},
        {4, "RadioButtonDynamic", "Dynamic Thresholding", false},
        {4, "RadioButtonAdvanced", "Advanced Dynamic Thresholding", false},
        {4, "CheckBoxPreservaMezziToni", "Preserve Half-Tones", false},
        {5, "CheckBoxCrop", "Auto Crop Image", false},
        {6, "CheckBoxRed", "Filter Red Channel", true},
        {6, "CheckBoxGreen", "Filter Green Channel", false},
        {6, "CheckBoxBlue", "Filter Blue Channel", false},
    };
    auto all = AllDialogs(kPoint);
    for (const Row& r : rows) {
        QAbstractButton* b = Child<QAbstractButton>(all[r.dialog].get(), r.name);
        QVERIFY2(b != nullptr, r.name);
        QCOMPARE(b->text(), QString::fromLatin1(r.caption));
        QCOMPARE(b->isChecked(), r.checked);
    }

    auto* threshold = static_cast<TDialogoThreshold*>(all[4].get());
    const QStringList autoItems = {"Otsu", "Lloyd", "Ridler and Calvard", "Uniform Error", "Standard Deviation"};
    QCOMPARE(threshold->ComboBoxAuto->count(), autoItems.size());
    for (int i = 0; i < autoItems.size(); ++i) QCOMPARE(threshold->ComboBoxAuto->itemText(i), autoItems[i]);
    QCOMPARE(threshold->ComboBoxAuto->currentIndex(), 0);
    QCOMPARE(threshold->ComboBoxMode->count(), 2);
    QCOMPARE(threshold->ComboBoxMode->itemText(0), QStringLiteral("MinMax"));
    QCOMPARE(threshold->ComboBoxMode->itemText(1), QStringLiteral("Average"));
    QCOMPARE(threshold->ComboBoxMode->currentIndex(), 0);
    QVERIFY(!threshold->ComboBoxAuto->isEditable());
    QCOMPARE(LabelOf(threshold, threshold->ComboBoxAuto), QStringLiteral("Algorithm"));
    QCOMPARE(LabelOf(threshold, threshold->ComboBoxMode), QStringLiteral("Mode"));

    auto* lines = static_cast<TDialogoLinesRemoval*>(all[3].get());
    QCOMPARE(lines->EditHorzRatio->text(), QStringLiteral("10"));
    QCOMPARE(lines->EditVertRatio->text(), QStringLiteral("10"));
    QCOMPARE(LabelOf(lines, lines->EditHorzRatio), QStringLiteral("Min horz Ratio"));
    QCOMPARE(LabelOf(lines, lines->EditVertRatio), QStringLiteral("Min horz Ratio"));
    // The radio buttons come first, from the top: both, horizontal, vertical.
    lines->show();
    QVERIFY(QTest::qWaitForWindowExposed(lines));
    QVERIFY(lines->RadioButtonBoth->y() < lines->RadioButtonHorz->y());
    QVERIFY(lines->RadioButtonHorz->y() < lines->RadioButtonVert->y());
    QVERIFY(lines->RadioButtonVert->y() < lines->SpinEditMinH->y());
    lines->hide();
}

void DialogsTest::FreshDialogsGiveTheCommandDefaults() {
    const TDeskewParams deskew = TDialogoDeskew(nullptr, kPoint).Params();
    QCOMPARE(deskew.RadioButtonDeskew, true);
    QCOMPARE(deskew.SpinEditAngle, 5);
    QCOMPARE(deskew.EditAccuracy, std::string("0.1"));
    QCOMPARE(deskew.TrackBarStep, 15);
    QCOMPARE(deskew.CheckBoxBlack, false);
    QCOMPARE(deskew.CheckBoxInterpolation, false);

    const TDespeckleParams despeckle = TDialogoDespeckle(nullptr, kPoint).Params();
    QCOMPARE(despeckle.SpinEditMaxH, 3);
    QCOMPARE(despeckle.SpinEditMaxV, 3);
    QCOMPARE(despeckle.CheckBoxSmart, false);

    QCOMPARE(TDialogoRepair(nullptr, kPoint).Params().RadioGroupAggr, 2);

    TDialogoLinesRemoval linesDialog(nullptr, kComma);
    linesDialog.Preset();
    const TLinesRemovalParams lines = linesDialog.Params();
    const TLinesRemovalParams linesDefaults;
    QCOMPARE(lines.RadioButtonBoth, linesDefaults.RadioButtonBoth);
    QCOMPARE(lines.RadioButtonHorz, linesDefaults.RadioButtonHorz);
    QCOMPARE(lines.RadioButtonVert, linesDefaults.RadioButtonVert);
    QCOMPARE(lines.SpinEditMinH, linesDefaults.SpinEditMinH);
    QCOMPARE(lines.SpinEditHolesH, linesDefaults.SpinEditHolesH);
    QCOMPARE(lines.EditHorzRatio, linesDefaults.EditHorzRatio);
    QCOMPARE(lines.SpinEditMinV, linesDefaults.SpinEditMinV);
    QCOMPARE(lines.SpinEditHolesV, linesDefaults.SpinEditHolesV);
    QCOMPARE(lines.EditVertRatio, linesDefaults.EditVertRatio);
    QCOMPARE(lines.CheckBoxClean, linesDefaults.CheckBoxClean);
    QCOMPARE(lines.CheckBoxReconnect, linesDefaults.CheckBoxReconnect);

    const TThresholdParams threshold = TDialogoThreshold(nullptr, kPoint).Params();
    const TThresholdParams thresholdDefaults;
    QCOMPARE(threshold.RadioButtonStandard, thresholdDefaults.RadioButtonStandard);
    QCOMPARE(threshold.SpinEditStandard, thresholdDefaults.SpinEditStandard);
    QCOMPARE(threshold.RadioButtonAuto, thresholdDefaults.RadioButtonAuto);
    QCOMPARE(threshold.ComboBoxAuto, thresholdDefaults.ComboBoxAuto);
    QCOMPARE(threshold.RadioButtonDynamic, thresholdDefaults.RadioButtonDynamic);
    QCOMPARE(threshold.ComboBoxMode, thresholdDefaults.ComboBoxMode);
    QCOMPARE(threshold.SpinEditContrast, thresholdDefaults.SpinEditContrast);
    QCOMPARE(threshold.SpinEditAreaW, thresholdDefaults.SpinEditAreaW);
    QCOMPARE(threshold.SpinEditAreaH, thresholdDefaults.SpinEditAreaH);
    QCOMPARE(threshold.RadioButtonAdvanced, thresholdDefaults.RadioButtonAdvanced);
    QCOMPARE(threshold.CheckBoxPreservaMezziToni, thresholdDefaults.CheckBoxPreservaMezziToni);

    TDialogoBlackBorderRemoval borderDialog(nullptr, kComma);
    borderDialog.Preset();
    const TBlackBorderParams border = borderDialog.Params();
    QCOMPARE(border.EditPercent, TBlackBorderParams{}.EditPercent);
    QCOMPARE(border.CheckBoxCrop, true);

    const TDropInkParams ink = TDialogoDropInk(nullptr, kPoint).Params();
    QCOMPARE(ink.CheckBoxRed, true);
    QCOMPARE(ink.CheckBoxGreen, false);
    QCOMPARE(ink.CheckBoxBlue, false);
    QCOMPARE(ink.SpinEditThreshold, 255);
}

void DialogsTest::ParamsRoundTrip() {
    {
        TDialogoDeskew d(nullptr, kComma);
        d.SetParams({false, 12, "0,25", 3, true, true});
        const TDeskewParams p = d.Params();
        QCOMPARE(p.RadioButtonDeskew, false);
        QVERIFY(d.RadioButtonEstimate->isChecked());
        QCOMPARE(p.SpinEditAngle, 12);
        QCOMPARE(p.EditAccuracy, std::string("0,25"));
        QCOMPARE(p.TrackBarStep, 3);
        QVERIFY(p.CheckBoxBlack && p.CheckBoxInterpolation);
    }
    {
        TDialogoDespeckle d(nullptr, kPoint);
        d.SetParams({7, 9, true});
        const TDespeckleParams p = d.Params();
        QCOMPARE(p.SpinEditMaxH, 7);
        QCOMPARE(p.SpinEditMaxV, 9);
        QVERIFY(p.CheckBoxSmart);
    }
    for (int index = 0; index < 5; ++index) {
        TDialogoRepair d(nullptr, kPoint);
        d.SetParams({index});
        QCOMPARE(d.Params().RadioGroupAggr, index);
    }
    for (int which = 0; which < 3; ++which) {
        TDialogoLinesRemoval d(nullptr, kPoint);
        TLinesRemovalParams in{which == 0, which == 1, which == 2, 40, 5, "abc", 60, 7, "", false, true};
        d.SetParams(in);
        const TLinesRemovalParams p = d.Params();
        QCOMPARE(p.RadioButtonBoth, which == 0);
        QCOMPARE(p.RadioButtonHorz, which == 1);
        QCOMPARE(p.RadioButtonVert, which == 2);
        QCOMPARE(p.SpinEditMinH, 40);
        QCOMPARE(p.SpinEditHolesH, 5);
        QCOMPARE(p.EditHorzRatio, std::string("abc"));
        QCOMPARE(p.SpinEditMinV, 60);
        QCOMPARE(p.SpinEditHolesV, 7);
        QCOMPARE(p.EditVertRatio, std::string());
        QVERIFY(!p.CheckBoxClean && p.CheckBoxReconnect);
    }
    // Each binarization mode, and none at all, survive SetParams although setting the fixed
    // level checks "Standard Thresholding".
    for (int mode = 0; mode < 5; ++mode) {
        TDialogoThreshold d(nullptr, kPoint);
        TThresholdParams in;
        in.RadioButtonStandard = mode == 0;
        in.RadioButtonAuto = mode == 1;
        in.RadioButtonDynamic = mode == 2;
        in.RadioButtonAdvanced = mode == 3;
        in.SpinEditStandard = 200;
        in.ComboBoxAuto = 3;
        in.ComboBoxMode = 1;
        in.SpinEditContrast = -4;
        in.SpinEditAreaW = 31;
        in.SpinEditAreaH = 5;
        in.CheckBoxPreservaMezziToni = true;
        d.SetParams(in);
        const TThresholdParams p = d.Params();
        QCOMPARE(p.RadioButtonStandard, mode == 0);
        QCOMPARE(p.RadioButtonAuto, mode == 1);
        QCOMPARE(p.RadioButtonDynamic, mode == 2);
        QCOMPARE(p.RadioButtonAdvanced, mode == 3);
        QCOMPARE(p.SpinEditStandard, 200);
        QCOMPARE(p.ComboBoxAuto, 3);
        QCOMPARE(p.ComboBoxMode, 1);
        QCOMPARE(p.SpinEditContrast, -4);
        QCOMPARE(p.SpinEditAreaW, 31);
        QCOMPARE(p.SpinEditAreaH, 5);
        QVERIFY(p.CheckBoxPreservaMezziToni);
    }
    {
        TDialogoBlackBorderRemoval d(nullptr, kPoint);
        d.SetParams({"97.5", false});
        QCOMPARE(d.Params().EditPercent, std::string("97.5"));
        QCOMPARE(d.Params().CheckBoxCrop, false);
    }
    {
        TDialogoDropInk d(nullptr, kPoint);
        d.SetParams({false, true, true, 40});
        const TDropInkParams p = d.Params();
        QVERIFY(!p.CheckBoxRed && p.CheckBoxGreen && p.CheckBoxBlue);
        QCOMPARE(p.SpinEditThreshold, 40);
    }
}

void DialogsTest::DecimalKeyFilter_data() {
    QTest::addColumn<bool>("comma");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("key");
    QTest::addColumn<bool>("passes");
    struct Row {
        const char* tag;
        bool comma;
        const char* text;
        char16_t key;
        bool passes;
    };
    const Row rows[] = {
        {"comma: point after 0 refused", true, "0", '.', false},
        {"comma: comma after 0 accepted", true, "0", ',', true},
        {"comma: second comma refused", true, "0,1", ',', false},
        {"comma: digit after comma", true, "0,", '5', true},
        {"point: point after 0 accepted", false, "0", '.', true},
        {"point: comma after 0 refused", false, "0", ',', false},
        {"point: point on empty text (.0)", false, "", '.', true},
        {"comma: point on empty text refused", true, "", '.', false},
        {"x refused", false, "0.1", 'x', false},
        {"x refused on empty text", true, "", 'x', false},
        {"minus alone refused", false, "", '-', false},
        {"minus after digits refused", false, "5", '-', false},
        {"exponent letter alone refused", false, "1", 'e', false},
        {"digit after exponent", false, "1e", '5', true},
        {"blank passes unchecked", false, "abc", ' ', true},
        {"backspace passes", true, "0,1", u'\b', true},
        {"non-ASCII refused", true, "1", u'\u00E9', false},
    };
    for (const Row& r : rows)
        QTest::newRow(r.tag) << r.comma << QString::fromLatin1(r.text) << QChar(r.key) << r.passes;
}

void DialogsTest::DecimalKeyFilter() {
    QFETCH(bool, comma);
    QFETCH(QString, text);
    QFETCH(QChar, key);
    QFETCH(bool, passes);
    const QLocale& locale = comma ? kComma : kPoint;
    TDialogoDeskew deskew(nullptr, locale);
    deskew.EditAccuracy->setText(text);
    QCOMPARE(deskew.EditAccuracyKeyPress(key), passes);
    TDialogoBlackBorderRemoval border(nullptr, locale);
    border.EditPercent->setText(text);
    QCOMPARE(border.EditPercentKeyPress(key), passes);
}

void DialogsTest::TypedKeysFollowTheFilterWhereverTheCaretIs() {
    TDialogoDeskew d(nullptr, kComma);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QLineEdit* edit = d.EditAccuracy;
    edit->setFocus();
    QCOMPARE(edit->text(), QStringLiteral("0,1"));
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("0.x,5"));
    QCOMPARE(edit->text(), QStringLiteral("0,5"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("0,"));
    // The key is judged at the end of the text: "-" before the digits is refused ("0,-"),
    // "7" at the caret's place in front is let through because "0,7" converts.
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Minus);
    QCOMPARE(edit->text(), QStringLiteral("0,"));
    QTest::keyClick(edit, Qt::Key_7);
    QCOMPARE(edit->text(), QStringLiteral("70,"));
    // Editing keys without a character are not filtered.
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("7,"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("7"));

    TDialogoBlackBorderRemoval b(nullptr, kPoint);
    b.Preset();
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    b.EditPercent->setFocus();
    b.EditPercent->end(false);
    QTest::keyClicks(b.EditPercent, QStringLiteral(",.5a"));
    QCOMPARE(b.EditPercent->text(), QStringLiteral("99.5"));
}

void DialogsTest::AcceptedTextConvertsWithTheDialogsSeparator() {
    for (const QLocale* locale : {&kComma, &kPoint}) {
        TDialogoBlackBorderRemoval d(nullptr, *locale);
        d.Preset();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.EditPercent->setFocus();
        d.EditPercent->end(false);
        QTest::keyClicks(d.EditPercent, QStringLiteral(".,25"));
        const TBlackBorderParams p = d.Params();
        QCOMPARE(static_cast<double>(qil::StrToFloat(p.EditPercent, d.DecimalSeparator())), 99.25);
        QCOMPARE(d.DecimalSeparator(), locale == &kComma ? ',' : '.');
    }
    QCOMPARE(LocaleDecimalSeparator(kComma), ',');
    QCOMPARE(LocaleDecimalSeparator(kPoint), '.');
    QCOMPARE(LocaleDecimalSeparator(QLocale::c()), '.');
}

void DialogsTest::DeskewFormShowRewritesTheResolution() {
    for (const QLocale* locale : {&kComma, &kPoint}) {
        const QString expected = locale == &kComma ? QStringLiteral("0,1") : QStringLiteral("0.1");
        TDialogoDeskew d(nullptr, *locale);
        QCOMPARE(d.EditAccuracy->text(), expected);
        QCOMPARE(LabelOf(&d, d.EditAccuracy), QStringLiteral("Resolution"));
        for (int showing = 0; showing < 2; ++showing) {
            d.EditAccuracy->setText(QStringLiteral("2"));
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QCOMPARE(d.EditAccuracy->text(), expected);
            QCOMPARE(static_cast<double>(qil::StrToFloat(d.Params().EditAccuracy, d.DecimalSeparator())), 0.1);
            // The window system's show event after a restore from minimized keeps the text.
            d.EditAccuracy->setText(QStringLiteral("0"));
            QShowEvent restored;
            QSpontaneKeyEvent::setSpontaneous(&restored);
            qApp->notify(&d, &restored);  // sendEvent would clear the spontaneous flag
            QCOMPARE(d.EditAccuracy->text(), QStringLiteral("0"));
            d.hide();
        }
    }
}

void DialogsTest::BlackBorderFormValuesAndPreset() {
    TDialogoBlackBorderRemoval d(nullptr, kComma);
    QCOMPARE(d.EditPercent->text(), QStringLiteral("99,5"));
    QVERIFY(!d.CheckBoxCrop->isChecked());
    QCOMPARE(LabelOf(&d, d.EditPercent), QStringLiteral("Black Percentage"));
    d.Preset();
    QCOMPARE(d.EditPercent->text(), QStringLiteral("99"));
    QVERIFY(d.CheckBoxCrop->isChecked());

    TDialogoLinesRemoval lines(nullptr, kComma);
    lines.EditHorzRatio->setText(QStringLiteral("x"));
    lines.EditVertRatio->clear();
    lines.Preset();
    QCOMPARE(lines.EditHorzRatio->text(), QStringLiteral("10"));
    QCOMPARE(lines.EditVertRatio->text(), QStringLiteral("10"));
}

void DialogsTest::BinarizationModeSwitching() {
    TDialogoThreshold d(nullptr, kPoint);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.ComboBoxMode->setFocus();
    QTest::keyClick(d.ComboBoxMode, Qt::Key_Down);  // "Average"
    QCOMPARE(d.ComboBoxMode->currentIndex(), 1);
    QCOMPARE(d.SpinEditContrast->value(), 8);
    QCOMPARE(d.SpinEditAreaW->value(), 10);
    QCOMPARE(d.SpinEditAreaH->value(), 10);
    QVERIFY(d.RadioButtonDynamic->isChecked());
    QVERIFY(!d.RadioButtonStandard->isChecked());

    d.RadioButtonStandard->setChecked(true);
    QTest::keyClick(d.ComboBoxMode, Qt::Key_Up);  // "MinMax"
    QCOMPARE(d.ComboBoxMode->currentIndex(), 0);
    QCOMPARE(d.SpinEditContrast->value(), 16);
    QCOMPARE(d.SpinEditAreaW->value(), 7);
    QCOMPARE(d.SpinEditAreaH->value(), 7);
    QVERIFY(d.RadioButtonDynamic->isChecked());

    // Choosing the mode already selected loads its defaults again.
    d.SpinEditContrast->setValue(40);
    d.ComboBoxModeClick();
    d.ComboBoxModeChange();
    QCOMPARE(d.SpinEditContrast->value(), 16);

    // Selecting a mode from code is not a choice of the user.
    d.RadioButtonStandard->setChecked(true);
    d.ComboBoxMode->setCurrentIndex(1);
    QCOMPARE(d.SpinEditContrast->value(), 16);
    QVERIFY(d.RadioButtonStandard->isChecked());
}

void DialogsTest::BinarizationRadioSelectionByOtherControls() {
    TDialogoThreshold d(nullptr, kPoint);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));

    d.RadioButtonAdvanced->setChecked(true);
    d.SpinEditStandard->setValue(100);
    QVERIFY(d.RadioButtonStandard->isChecked());

    d.ComboBoxAuto->setFocus();
    QTest::keyClick(d.ComboBoxAuto, Qt::Key_Down);
    QCOMPARE(d.ComboBoxAuto->currentIndex(), 1);
    QVERIFY(d.RadioButtonAuto->isChecked());

    struct Click {
        QSpinBox* spin;
        bool onText;
    };
    for (Click c : {Click{d.SpinEditContrast, true}, Click{d.SpinEditAreaW, true}, Click{d.SpinEditAreaH, false}}) {
        d.RadioButtonAuto->setChecked(true);
        QWidget* target = c.onText ? static_cast<QWidget*>(c.spin->findChild<QLineEdit*>()) : c.spin;
        QTest::mouseClick(target, Qt::LeftButton, {}, c.onText ? QPoint(3, 3) : c.spin->rect().center());
        QVERIFY2(d.RadioButtonDynamic->isChecked(), qPrintable(c.spin->objectName()));
    }
    // Typing a contrast is not a click: the mode stays.
    d.RadioButtonAuto->setChecked(true);
    d.SpinEditContrast->setValue(30);
    QVERIFY(d.RadioButtonAuto->isChecked());

    // Nothing selects the advanced mode, and nothing is disabled.
    for (QWidget* w : d.Bevel1->findChildren<QWidget*>()) QVERIFY(w->isEnabled());
    QVERIFY(!d.RadioButtonAdvanced->isChecked());
}

void DialogsTest::RepairGroupHasTwoColumns() {
    TDialogoRepair d(nullptr, kPoint);
    TRadioGroup* group = d.findChild<TRadioGroup*>(QStringLiteral("RadioGroupAggr"));
    QVERIFY(group == d.RadioGroupAggr);
    QCOMPARE(group->title(), QStringLiteral("Aggressivity"));
    QCOMPARE(group->Count(), 5);
    const char* items[] = {"Very Low", "Low", "Medium", "High", "Very High"};
    for (int i = 0; i < 5; ++i) QCOMPARE(group->Button(i)->text(), QString::fromLatin1(items[i]));
    QCOMPARE(group->ItemIndex(), 2);
    QVERIFY(group->Button(2)->isChecked());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    // Filled column by column: three items in the first column, two in the second.
    QCOMPARE(group->Button(1)->x(), group->Button(0)->x());
    QCOMPARE(group->Button(2)->x(), group->Button(0)->x());
    QVERIFY(group->Button(3)->x() > group->Button(0)->x());
    QCOMPARE(group->Button(4)->x(), group->Button(3)->x());
    QCOMPARE(group->Button(3)->y(), group->Button(0)->y());
    QTest::mouseClick(group->Button(4), Qt::LeftButton);
    QCOMPARE(group->ItemIndex(), 4);
    QVERIFY(!group->Button(2)->isChecked());
}

void DialogsTest::ExecReturnsAcceptedOnOkAndRejectedOnCancel() {
    struct Case {
        std::function<void(TParameterDialog&)> close;
        int result;
    };
    const Case cases[] = {
        {[](TParameterDialog& d) { d.OKBtn->click(); }, QDialog::Accepted},
        {[](TParameterDialog& d) { d.CancelBtn->click(); }, QDialog::Rejected},
        {[](TParameterDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, QDialog::Accepted},
        {[](TParameterDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, QDialog::Rejected},
    };
    for (const Case& c : cases) {
        TDialogoDespeckle d(nullptr, kPoint);
        QTimer::singleShot(0, &d, [&d, &c] {
            d.SpinEditMaxH->setValue(9);
            c.close(d);
        });
        QCOMPARE(d.exec(), c.result);
        QCOMPARE(d.Params().SpinEditMaxH, 9);
    }
}

void DialogsTest::ScreenCentredDialogsAreCentred() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    auto all = AllDialogs(kPoint);
    for (size_t i = 0; i < all.size(); ++i) {
        if (i == 2) continue;  // "Repair" keeps the window system's placement
        TParameterDialog* d = all[i].get();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        const QPoint offset = d->frameGeometry().center() - screen.center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(d->windowTitle()));
        d->hide();
    }
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
