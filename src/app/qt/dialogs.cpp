#include "app/qt/dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>

#include "platform/text.h"

namespace qil::app::qt {

char LocaleDecimalSeparator(const QLocale& locale) {
    const QString point = locale.decimalPoint();
    if (point.size() == 1 && point[0].unicode() > 32 && point[0].unicode() < 127)
        return static_cast<char>(point[0].unicode());
    return '.';
}

void SetSpinRange(QSpinBox* spin, TSpinRange range) {
    if (range.Limited())
        spin->setRange(range.Min, range.Max);
    else
        spin->setRange(INT_MIN, INT_MAX);
}

void CheckOnly(std::initializer_list<QRadioButton*> set, QRadioButton* checked) {
    for (QRadioButton* b : set) {
        b->setAutoExclusive(false);
        b->setChecked(b == checked);
    }
    for (QRadioButton* b : set) b->setAutoExclusive(true);
}

namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// The text of a number written with the separator, as the commands write their presets.
QString NumberText(long double value, char separator) { return FromStd(FloatToStr(value, separator)); }

QLineEdit* SpinLineEdit(QSpinBox* spin) { return spin->findChild<QLineEdit*>(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TRadioGroup

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    auto* layout = new QGridLayout(this);
    const int count = static_cast<int>(items.size());
    const int cols = columns < 1 ? 1 : columns;
    const int rows = (count + cols - 1) / cols;
    for (int i = 0; i < count; ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        layout->addWidget(button, i % rows, i / rows);
    }
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* b = group_->button(index)) {
        b->setChecked(true);
        return;
    }
    group_->setExclusive(false);
    for (QAbstractButton* b : group_->buttons()) b->setChecked(false);
    group_->setExclusive(true);
}

int TRadioGroup::Count() const { return static_cast<int>(group_->buttons().size()); }

QRadioButton* TRadioGroup::Button(int index) const { return static_cast<QRadioButton*>(group_->button(index)); }

// ---------------------------------------------------------------------------------------------
// TParameterDialog

TParameterDialog::TParameterDialog(QWidget* parent, const QLocale& locale, const QString& caption, TBorder border,
                                   TPlacement placement, TButtons buttons)
    : QDialog(parent), locale_(locale), separator_(LocaleDecimalSeparator(locale)), placement_(placement) {
    setWindowTitle(caption);
    setModal(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    grid_ = new QGridLayout(Bevel1);
    grid_->setColumnStretch(1, 1);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    QBoxLayout* outer;
    QBoxLayout* buttonBox;
    if (buttons == TButtons::Right) {
        outer = new QHBoxLayout(this);
        buttonBox = new QVBoxLayout;
        buttonBox->addWidget(OKBtn);
        buttonBox->addWidget(CancelBtn);
        buttonBox->addStretch(1);
    } else {
        outer = new QVBoxLayout(this);
        buttonBox = new QHBoxLayout;
        buttonBox->addStretch(1);
        buttonBox->addWidget(OKBtn);
        buttonBox->addWidget(CancelBtn);
    }
    outer->addWidget(Bevel1, 1);
    outer->addLayout(buttonBox);

    if (border == TBorder::Fixed) {
        outer->setSizeConstraint(QLayout::SetFixedSize);
        setSizeGripEnabled(false);
    } else {
        setSizeGripEnabled(true);
    }
}

void TParameterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (placement_ == TPlacement::ScreenCenter) {
        QScreen* s = parentWidget() != nullptr ? parentWidget()->screen() : screen();
        if (s == nullptr) s = QGuiApplication::primaryScreen();
        if (s != nullptr) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

QSpinBox* TParameterDialog::AddSpin(const char* name, const QString& label, const QString& unit, int row,
                                    TSpinRange range, int value) {
    auto* spin = new QSpinBox(Bevel1);
    spin->setObjectName(QLatin1String(name));
    SetSpinRange(spin, range);
    spin->setValue(value);
    auto* caption = new QLabel(label, Bevel1);
    caption->setBuddy(spin);
    grid_->addWidget(caption, row, 0);
    grid_->addWidget(spin, row, 1);
    if (!unit.isEmpty()) grid_->addWidget(new QLabel(unit, Bevel1), row, 2);
    return spin;
}

QLineEdit* TParameterDialog::AddEdit(const char* name, const QString& label, const QString& unit, int row,
                                     const QString& text) {
    auto* edit = new QLineEdit(text, Bevel1);
    edit->setObjectName(QLatin1String(name));
    auto* caption = new QLabel(label, Bevel1);
    caption->setBuddy(edit);
    grid_->addWidget(caption, row, 0);
    grid_->addWidget(edit, row, 1);
    if (!unit.isEmpty()) grid_->addWidget(new QLabel(unit, Bevel1), row, 2);
    return edit;
}

QCheckBox* TParameterDialog::AddCheck(const char* name, const QString& caption, int row, bool checked) {
    auto* box = new QCheckBox(caption, Bevel1);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    grid_->addWidget(box, row, 0, 1, 3);
    return box;
}

QRadioButton* TParameterDialog::AddRadio(const char* name, const QString& caption, int row, bool checked) {
    auto* button = new QRadioButton(caption, Bevel1);
    button->setObjectName(QLatin1String(name));
    button->setChecked(checked);
    grid_->addWidget(button, row, 0, 1, 3);
    return button;
}

QComboBox* TParameterDialog::AddCombo(const char* name, const QString& label, int row, const QStringList& items,
                                      int index) {
    auto* combo = new QComboBox(Bevel1);
    combo->setObjectName(QLatin1String(name));
    combo->setEditable(false);
    combo->addItems(items);
    combo->setCurrentIndex(index);
    auto* caption = new QLabel(label, Bevel1);
    caption->setBuddy(combo);
    grid_->addWidget(caption, row, 0);
    grid_->addWidget(combo, row, 1);
    return combo;
}

bool TParameterDialog::DecimalKeyPasses(const QString& text, QChar key) const {
    if (key.unicode() < 33) return true;
    // No character outside ASCII can continue a number written with an ASCII separator.
    if (key.unicode() > 127) return false;
    return DecimalKeyAccepted(text.toStdString(), static_cast<char>(key.unicode()), separator_);
}

void TParameterDialog::InstallDecimalFilter(QLineEdit* edit) {
    decimalFields_.push_back(edit);
    edit->installEventFilter(this);
}

bool TParameterDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        for (QLineEdit* edit : decimalFields_) {
            if (watched != edit) continue;
            auto* key = static_cast<QKeyEvent*>(event);
            // Editing keys without a character (arrows, Home, Delete, ...) are not filtered.
            if (key->key() == Qt::Key_Delete) return false;
            QString imagined = edit->text();
            for (QChar c : key->text()) {
                if (!DecimalKeyPasses(imagined, c)) return true;  // discarded silently
                imagined += c;
            }
            return false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// TDialogoDeskew

TDialogoDeskew::TDialogoDeskew(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Deskew"), TBorder::Fixed, TPlacement::ScreenCenter,
                       TButtons::Bottom) {
    const TDeskewParams d;
    RadioButtonDeskew = AddRadio("RadioButtonDeskew", QStringLiteral("Estimate skew angle and correct image"), 0, true);
    RadioButtonEstimate = AddRadio("RadioButtonEstimate", QStringLiteral("Estimate skew angle only"), 1, false);
    SpinEditAngle = AddSpin("SpinEditAngle", QStringLiteral("Range (+/-)"), QStringLiteral("\u00B0"), 2,
                            TDeskewParams::AngleRange, d.SpinEditAngle);
    EditAccuracy = AddEdit("EditAccuracy", QStringLiteral("Resolution"), QStringLiteral("\u00B0"), 3,
                           NumberText(0.1L, DecimalSeparator()));
    InstallDecimalFilter(EditAccuracy);

    TrackBarStep = new QSlider(Qt::Horizontal, Bevel1);
    TrackBarStep->setObjectName(QStringLiteral("TrackBarStep"));
    TrackBarStep->setRange(TDeskewParams::StepRange.Min, TDeskewParams::StepRange.Max);
    TrackBarStep->setTickPosition(QSlider::TicksBelow);
    TrackBarStep->setTickInterval(1);
    TrackBarStep->setSingleStep(1);
    TrackBarStep->setPageStep(2);
    auto showPosition = [this](int position) { TrackBarStep->setToolTip(QString::number(position)); };
    connect(TrackBarStep, &QSlider::valueChanged, this, showPosition);
    TrackBarStep->setValue(d.TrackBarStep);
    showPosition(TrackBarStep->value());
    Grid()->addWidget(new QLabel(QStringLiteral("Accurate"), Bevel1), 4, 0);
    Grid()->addWidget(TrackBarStep, 4, 1);
    Grid()->addWidget(new QLabel(QStringLiteral("Fast"), Bevel1), 4, 2);

    CheckBoxBlack = AddCheck("CheckBoxBlack", QStringLiteral("Use black color for new background"), 5, false);
    CheckBoxInterpolation = AddCheck("CheckBoxInterpolation", QStringLiteral("Use Interpolation"), 6, false);
}

void TDialogoDeskew::FormShow() { EditAccuracy->setText(NumberText(0.1L, DecimalSeparator())); }

void TDialogoDeskew::showEvent(QShowEvent* event) {
    // Only when the dialog becomes visible: the window system's own show events (a restore
    // from minimized) must not overwrite what the user typed.
    if (!event->spontaneous()) FormShow();
    TParameterDialog::showEvent(event);
}

bool TDialogoDeskew::EditAccuracyKeyPress(QChar key) const { return DecimalKeyPasses(EditAccuracy->text(), key); }

TDeskewParams TDialogoDeskew::Params() const {
    TDeskewParams p;
    p.RadioButtonDeskew = RadioButtonDeskew->isChecked();
    p.SpinEditAngle = SpinEditAngle->value();
    p.EditAccuracy = EditAccuracy->text().toStdString();
    p.TrackBarStep = TrackBarStep->value();
    p.CheckBoxBlack = CheckBoxBlack->isChecked();
    p.CheckBoxInterpolation = CheckBoxInterpolation->isChecked();
    return p;
}

void TDialogoDeskew::SetParams(const TDeskewParams& p) {
    CheckOnly({RadioButtonDeskew, RadioButtonEstimate}, p.RadioButtonDeskew ? RadioButtonDeskew : RadioButtonEstimate);
    SpinEditAngle->setValue(p.SpinEditAngle);
    EditAccuracy->setText(FromStd(p.EditAccuracy));
    TrackBarStep->setValue(p.TrackBarStep);
    CheckBoxBlack->setChecked(p.CheckBoxBlack);
    CheckBoxInterpolation->setChecked(p.CheckBoxInterpolation);
}

// ---------------------------------------------------------------------------------------------
// TDialogoDespeckle

TDialogoDespeckle::TDialogoDespeckle(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Despeckle"), TBorder::Fixed, TPlacement::ScreenCenter,
                       TButtons::Bottom) {
    const TDespeckleParams d;
    SpinEditMaxH = AddSpin("SpinEditMaxH", QStringLiteral("Noise Max Horizontal Size"), QStringLiteral("pixel"), 0,
                           TDespeckleParams::MaxRange, d.SpinEditMaxH);
    SpinEditMaxV = AddSpin("SpinEditMaxV", QStringLiteral("Noise Max Vertical Size"), QStringLiteral("pixel"), 1,
                           TDespeckleParams::MaxRange, d.SpinEditMaxV);
    CheckBoxSmart = AddCheck("CheckBoxSmart", QStringLiteral("Don't remove points in text lines (Smart !)"), 2,
                             d.CheckBoxSmart);
}

TDespeckleParams TDialogoDespeckle::Params() const {
    TDespeckleParams p;
    p.SpinEditMaxH = SpinEditMaxH->value();
    p.SpinEditMaxV = SpinEditMaxV->value();
    p.CheckBoxSmart = CheckBoxSmart->isChecked();
    return p;
}

void TDialogoDespeckle::SetParams(const TDespeckleParams& p) {
    SpinEditMaxH->setValue(p.SpinEditMaxH);
    SpinEditMaxV->setValue(p.SpinEditMaxV);
    CheckBoxSmart->setChecked(p.CheckBoxSmart);
}

// ---------------------------------------------------------------------------------------------
// TDialogoRepair

TDialogoRepair::TDialogoRepair(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Repair"), TBorder::Sizeable, TPlacement::Default,
                       TButtons::Bottom) {
    RadioGroupAggr = new TRadioGroup(
        QStringLiteral("Aggressivity"),
        {QStringLiteral("Very Low"), QStringLiteral("Low"), QStringLiteral("Medium"), QStringLiteral("High"),
         QStringLiteral("Very High")},
        2, Bevel1);
    RadioGroupAggr->setObjectName(QStringLiteral("RadioGroupAggr"));
    RadioGroupAggr->SetItemIndex(TRepairParams{}.RadioGroupAggr);
    Grid()->addWidget(RadioGroupAggr, 0, 0, 1, 3);
}

TRepairParams TDialogoRepair::Params() const {
    TRepairParams p;
    p.RadioGroupAggr = RadioGroupAggr->ItemIndex();
    return p;
}

void TDialogoRepair::SetParams(const TRepairParams& p) { RadioGroupAggr->SetItemIndex(p.RadioGroupAggr); }

// ---------------------------------------------------------------------------------------------
// TDialogoLinesRemoval

TDialogoLinesRemoval::TDialogoLinesRemoval(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Lines Removal"), TBorder::Fixed, TPlacement::ScreenCenter,
                       TButtons::Bottom) {
    const TLinesRemovalParams d;
    const QString pixel = QStringLiteral("pixel");
    RadioButtonBoth = AddRadio("RadioButtonBoth", QStringLiteral("Remove Both Orizontal and Vertical Lines"), 0, true);
    RadioButtonHorz = AddRadio("RadioButtonHorz", QStringLiteral("Remove Horizontal Lines Only"), 1, false);
    RadioButtonVert = AddRadio("RadioButtonVert", QStringLiteral("Remove Vertical Lines Only"), 2, false);
    SpinEditMinH = AddSpin("SpinEditMinH", QStringLiteral("Min horz line length"), pixel, 3,
                           TLinesRemovalParams::MinLengthRange, d.SpinEditMinH);
    SpinEditHolesH = AddSpin("SpinEditHolesH", QStringLiteral("Max horz line holes"), pixel, 4,
                             TLinesRemovalParams::HolesRange, d.SpinEditHolesH);
    EditHorzRatio = AddEdit("EditHorzRatio", QStringLiteral("Min horz Ratio"), QString(), 5, QStringLiteral("10"));
    SpinEditMinV = AddSpin("SpinEditMinV", QStringLiteral("Min vert line lenght"), pixel, 6,
                           TLinesRemovalParams::MinLengthRange, d.SpinEditMinV);
    SpinEditHolesV = AddSpin("SpinEditHolesV", QStringLiteral("Max vert line holes"), pixel, 7,
                             TLinesRemovalParams::HolesRange, d.SpinEditHolesV);
    EditVertRatio = AddEdit("EditVertRatio", QStringLiteral("Min horz Ratio"), QString(), 8, QStringLiteral("10"));
    CheckBoxClean = AddCheck("CheckBoxClean", QStringLiteral("Clean line borders"), 9, d.CheckBoxClean);
    CheckBoxReconnect = AddCheck("CheckBoxReconnect", QStringLiteral("Reconnect crossed characters"), 10,
                                 d.CheckBoxReconnect);
}

void TDialogoLinesRemoval::Preset() {
    EditHorzRatio->setText(NumberText(10, DecimalSeparator()));
    EditVertRatio->setText(NumberText(10, DecimalSeparator()));
}

TLinesRemovalParams TDialogoLinesRemoval::Params() const {
    TLinesRemovalParams p;
    p.RadioButtonBoth = RadioButtonBoth->isChecked();
    p.RadioButtonHorz = RadioButtonHorz->isChecked();
    p.RadioButtonVert = RadioButtonVert->isChecked();
    p.SpinEditMinH = SpinEditMinH->value();
    p.SpinEditHolesH = SpinEditHolesH->value();
    p.EditHorzRatio = EditHorzRatio->text().toStdString();
    p.SpinEditMinV = SpinEditMinV->value();
    p.SpinEditHolesV = SpinEditHolesV->value();
    p.EditVertRatio = EditVertRatio->text().toStdString();
    p.CheckBoxClean = CheckBoxClean->isChecked();
    p.CheckBoxReconnect = CheckBoxReconnect->isChecked();
    return p;
}

void TDialogoLinesRemoval::SetParams(const TLinesRemovalParams& p) {
    QRadioButton* checked = p.RadioButtonHorz ? RadioButtonHorz : p.RadioButtonVert ? RadioButtonVert : RadioButtonBoth;
    CheckOnly({RadioButtonBoth, RadioButtonHorz, RadioButtonVert}, checked);
    SpinEditMinH->setValue(p.SpinEditMinH);
    SpinEditHolesH->setValue(p.SpinEditHolesH);
    EditHorzRatio->setText(FromStd(p.EditHorzRatio));
    SpinEditMinV->setValue(p.SpinEditMinV);
    SpinEditHolesV->setValue(p.SpinEditHolesV);
    EditVertRatio->setText(FromStd(p.EditVertRatio));
    CheckBoxClean->setChecked(p.CheckBoxClean);
    CheckBoxReconnect->setChecked(p.CheckBoxReconnect);
}

// ---------------------------------------------------------------------------------------------
// TDialogoThreshold

TDialogoThreshold::TDialogoThreshold(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Binarization"), TBorder::Fixed, TPlacement::ScreenCenter,
                       TButtons::Bottom) {
    const TThresholdParams d;
    RadioButtonStandard = AddRadio("RadioButtonStandard", QStringLiteral("Standard Thresholding"), 0, true);
    SpinEditStandard = AddSpin("SpinEditStandard", QStringLiteral("Fixed Threshold Value"), QString(), 1,
                               TThresholdParams::StandardRange, d.SpinEditStandard);
    RadioButtonAuto = AddRadio("RadioButtonAuto", QStringLiteral("Auto Thresholding"), 2, false);
    ComboBoxAuto = AddCombo("ComboBoxAuto", QStringLiteral("Algorithm"), 3,
                            {QStringLiteral("Otsu"), QStringLiteral("Lloyd"), QStringLiteral("Ridler and Calvard"),
                             QStringLiteral("Uniform Error"), QStringLiteral("Standard Deviation")},
                            d.ComboBoxAuto);
    RadioButtonDynamic = AddRadio("RadioButtonDynamic", QStringLiteral("Dynamic Thresholding"), 4, false);
    ComboBoxMode = AddCombo("ComboBoxMode", QStringLiteral("Mode"), 5,
                            {QStringLiteral("MinMax"), QStringLiteral("Average")}, d.ComboBoxMode);
    SpinEditContrast = AddSpin("SpinEditContrast", QStringLiteral("Local Contrast"), QString(), 6,
                               TThresholdParams::UnlimitedRange, d.SpinEditContrast);

    // The two area sizes side by side: width, then height.
    SpinEditAreaW = new QSpinBox(Bevel1);
    SpinEditAreaW->setObjectName(QStringLiteral("SpinEditAreaW"));
    SetSpinRange(SpinEditAreaW, TThresholdParams::UnlimitedRange);
    SpinEditAreaW->setValue(d.SpinEditAreaW);
    SpinEditAreaH = new QSpinBox(Bevel1);
    SpinEditAreaH->setObjectName(QStringLiteral("SpinEditAreaH"));
    SetSpinRange(SpinEditAreaH, TThresholdParams::UnlimitedRange);
    SpinEditAreaH->setValue(d.SpinEditAreaH);
    auto* area = new QHBoxLayout;
    area->addWidget(SpinEditAreaW);
    area->addWidget(SpinEditAreaH);
    auto* areaLabel = new QLabel(QStringLiteral("Local Area Size"), Bevel1);
    areaLabel->setBuddy(SpinEditAreaW);
    Grid()->addWidget(areaLabel, 7, 0);
    Grid()->addLayout(area, 7, 1);

    RadioButtonAdvanced = AddRadio("RadioButtonAdvanced", QStringLiteral("Advanced Dynamic Thresholding"), 8, false);
    CheckBoxPreservaMezziToni = AddCheck("CheckBoxPreservaMezziToni", QStringLiteral("Preserve Half-Tones"), 9,
                                         d.CheckBoxPreservaMezziToni);

    connect(SpinEditStandard, &QSpinBox::valueChanged, this, [this] { SpinEditStandardChange(); });
    connect(ComboBoxAuto, &QComboBox::activated, this, [this] { ComboBoxAutoClick(); });
    // A choice in the mode list is a click on it and a change of its selection, in that order,
    // also when the same item is chosen again.
    connect(ComboBoxMode, &QComboBox::activated, this, [this] {
        ComboBoxModeClick();
        ComboBoxModeChange();
    });
    for (QSpinBox* spin : {SpinEditContrast, SpinEditAreaW, SpinEditAreaH}) {
        spin->installEventFilter(this);
        if (QLineEdit* edit = SpinLineEdit(spin)) edit->installEventFilter(this);
    }
}

bool TDialogoThreshold::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto clicked = [watched](QSpinBox* spin) { return watched == spin || watched == SpinLineEdit(spin); };
        if (clicked(SpinEditContrast))
            SpinEditContrastClick();
        else if (clicked(SpinEditAreaW) || clicked(SpinEditAreaH))
            SpinEditAreaWClick();
    }
    return TParameterDialog::eventFilter(watched, event);
}

void TDialogoThreshold::SpinEditStandardChange() { RadioButtonStandard->setChecked(true); }
void TDialogoThreshold::ComboBoxAutoClick() { RadioButtonAuto->setChecked(true); }
void TDialogoThreshold::ComboBoxModeClick() { RadioButtonDynamic->setChecked(true); }
void TDialogoThreshold::SpinEditContrastClick() { RadioButtonDynamic->setChecked(true); }
void TDialogoThreshold::SpinEditAreaWClick() { RadioButtonDynamic->setChecked(true); }

void TDialogoThreshold::ComboBoxModeChange() {
    TThresholdParams p = Params();
    p.LoadModeDefaults(ComboBoxMode->currentIndex());
    SpinEditContrast->setValue(p.SpinEditContrast);
    SpinEditAreaW->setValue(p.SpinEditAreaW);
    SpinEditAreaH->setValue(p.SpinEditAreaH);
}

TThresholdParams TDialogoThreshold::Params() const {
    TThresholdParams p;
    p.RadioButtonStandard = RadioButtonStandard->isChecked();
    p.SpinEditStandard = SpinEditStandard->value();
    p.RadioButtonAuto = RadioButtonAuto->isChecked();
    p.ComboBoxAuto = ComboBoxAuto->currentIndex();
    p.RadioButtonDynamic = RadioButtonDynamic->isChecked();
    p.ComboBoxMode = ComboBoxMode->currentIndex();
    p.SpinEditContrast = SpinEditContrast->value();
    p.SpinEditAreaW = SpinEditAreaW->value();
    p.SpinEditAreaH = SpinEditAreaH->value();
    p.RadioButtonAdvanced = RadioButtonAdvanced->isChecked();
    p.CheckBoxPreservaMezziToni = CheckBoxPreservaMezziToni->isChecked();
    return p;
}

void TDialogoThreshold::SetParams(const TThresholdParams& p) {
    SpinEditStandard->setValue(p.SpinEditStandard);
    ComboBoxAuto->setCurrentIndex(p.ComboBoxAuto);
    ComboBoxMode->setCurrentIndex(p.ComboBoxMode);
    SpinEditContrast->setValue(p.SpinEditContrast);
    SpinEditAreaW->setValue(p.SpinEditAreaW);
    SpinEditAreaH->setValue(p.SpinEditAreaH);
    CheckBoxPreservaMezziToni->setChecked(p.CheckBoxPreservaMezziToni);
    // The radio buttons last: setting the fixed level above checks "Standard Thresholding".
    QRadioButton* checked = p.RadioButtonStandard ? RadioButtonStandard
                            : p.RadioButtonAuto     ? RadioButtonAuto
                            : p.RadioButtonDynamic  ? RadioButtonDynamic
                            : p.RadioButtonAdvanced ? RadioButtonAdvanced
                                                    : nullptr;
    CheckOnly({RadioButtonStandard, RadioButtonAuto, RadioButtonDynamic, RadioButtonAdvanced}, checked);
}

// ---------------------------------------------------------------------------------------------
// TDialogoBlackBorderRemoval

TDialogoBlackBorderRemoval::TDialogoBlackBorderRemoval(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Black Border Removal"), TBorder::Fixed,
                       TPlacement::ScreenCenter, TButtons::Bottom) {
    // The form's own values; the command replaces both before showing (Preset).
    EditPercent = AddEdit("EditPercent", QStringLiteral("Black Percentage"), QStringLiteral("%"), 0,
                          QStringLiteral("99,5"));
    InstallDecimalFilter(EditPercent);
    CheckBoxCrop = AddCheck("CheckBoxCrop", QStringLiteral("Auto Crop Image"), 1, false);
}

void TDialogoBlackBorderRemoval::Preset() {
    EditPercent->setText(NumberText(99, DecimalSeparator()));
    CheckBoxCrop->setChecked(true);
}

bool TDialogoBlackBorderRemoval::EditPercentKeyPress(QChar key) const {
    return DecimalKeyPasses(EditPercent->text(), key);
}

TBlackBorderParams TDialogoBlackBorderRemoval::Params() const {
    TBlackBorderParams p;
    p.EditPercent = EditPercent->text().toStdString();
    p.CheckBoxCrop = CheckBoxCrop->isChecked();
    return p;
}

void TDialogoBlackBorderRemoval::SetParams(const TBlackBorderParams& p) {
    EditPercent->setText(FromStd(p.EditPercent));
    CheckBoxCrop->setChecked(p.CheckBoxCrop);
}

// ---------------------------------------------------------------------------------------------
// TDialogoDropInk

TDialogoDropInk::TDialogoDropInk(QWidget* parent, const QLocale& locale)
    : TParameterDialog(parent, locale, QStringLiteral("Drop Colored Ink"), TBorder::Sizeable,
                       TPlacement::ScreenCenter, TButtons::Right) {
    const TDropInkParams d;
    CheckBoxRed = AddCheck("CheckBoxRed", QStringLiteral("Filter Red Channel"), 0, d.CheckBoxRed);
    CheckBoxGreen = AddCheck("CheckBoxGreen", QStringLiteral("Filter Green Channel"), 1, d.CheckBoxGreen);
    CheckBoxBlue = AddCheck("CheckBoxBlue", QStringLiteral("Filter Blue Channel"), 2, d.CheckBoxBlue);
    SpinEditThreshold = AddSpin("SpinEditThreshold", QStringLiteral("Aggressivity"), QString(), 3,
                                TDropInkParams::ThresholdRange, d.SpinEditThreshold);
    if (QLineEdit* edit = SpinLineEdit(SpinEditThreshold)) edit->setMaxLength(3);
}

TDropInkParams TDialogoDropInk::Params() const {
    TDropInkParams p;
    p.CheckBoxRed = CheckBoxRed->isChecked();
    p.CheckBoxGreen = CheckBoxGreen->isChecked();
    p.CheckBoxBlue = CheckBoxBlue->isChecked();
    p.SpinEditThreshold = SpinEditThreshold->value();
    return p;
}

void TDialogoDropInk::SetParams(const TDropInkParams& p) {
    CheckBoxRed->setChecked(p.CheckBoxRed);
    CheckBoxGreen->setChecked(p.CheckBoxGreen);
    CheckBoxBlue->setChecked(p.CheckBoxBlue);
    SpinEditThreshold->setValue(p.SpinEditThreshold);
}

}  // namespace qil::app::qt
