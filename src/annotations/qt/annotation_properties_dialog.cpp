#include "annotations/qt/annotation_properties_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStackedWidget>
#include <QValidator>
#include <QVBoxLayout>

#include <exception>

// The marks' inline accessors need the editor and the resizer complete.
#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/control_resizer.h"
#include "platform/text.h"

namespace qil {

namespace {

QColor ToQColor(uint32_t color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

uint32_t FromQColor(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
           static_cast<uint32_t>(c.blue()) << 16;
}

QIcon Swatch(uint32_t color) {
    QPixmap pixmap(12, 12);
    pixmap.fill(ToQColor(color));
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    p.drawRect(0, 0, 11, 11);
    return QIcon(pixmap);
}

struct TNamedColor {
    const char* Name;
    uint32_t Color;
};
constexpr TNamedColor kStandardColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080}, {"Green", 0x008000},   {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080}, {"Teal", 0x808000},    {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},    {"Lime", 0x00FF00},    {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},   {"White", 0xFFFFFF},
};

// A font of the face and style with Size points, for the chooser.
QFont ChooserFont(const TFont& font) {
    QFont f(font.Name);
    f.setPointSize(font.Size == 0 ? 1 : (font.Size < 0 ? -font.Size : font.Size));
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    f.setUnderline(font.Underline);
    f.setStrikeOut(font.StrikeOut);
    return f;
}

// The memo's lines, each followed by a line break; a last empty line is not a line.
QString MemoLinesText(const QPlainTextEdit* memo) {
    QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QLatin1Char('\n');
    }
    return text;
}

// The text split into lines at CR LF, CR or LF.
QString MemoTextOf(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

// Limits what the user types to MaxLength characters, as a text field's maximum length does;
// text set from code is taken whole (QLineEdit::setMaxLength would cut it).
class TMaxLengthValidator : public QValidator {
public:
    TMaxLengthValidator(int maxLength, QObject* parent) : QValidator(parent), maxLength_(maxLength) {}
    State validate(QString& input, int&) const override {
        return input.size() > maxLength_ ? Invalid : Acceptable;
    }

private:
    int maxLength_;
};

QSpinBox* NewSpin(QWidget* parent, const char* name, int min, int max, int value, int maxLength) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(min, max);
    spin->setValue(value);
    if (QLineEdit* edit = spin->findChild<QLineEdit*>()) edit->setMaxLength(maxLength);
    return spin;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    if (buddy != nullptr) label->setBuddy(buddy);
    return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QWidget* NewPage(QStackedWidget* pages, const char* name) {
    auto* page = new QWidget(pages);
    page->setObjectName(QLatin1String(name));
    pages->addWidget(page);
    return page;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TColorBox

TColorBox::TColorBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    for (const TNamedColor& c : kStandardColors) addItem(Swatch(c.Color), QLatin1String(c.Name), QVariant(c.Color));
    addItem(Swatch(0), QStringLiteral("Custom..."), QVariant(uint32_t{0}));
    connect(this, &QComboBox::activated, this, &TColorBox::Picked);
}

uint32_t TColorBox::Selected() const {
    const int index = currentIndex();
    return index < 0 ? 0 : itemData(index).toUInt();
}

void TColorBox::SetSelected(uint32_t color) {
    color &= 0xFFFFFF;
    for (int i = 0; i < CustomIndex(); ++i) {
        if (itemData(i).toUInt() == color) {
            setCurrentIndex(i);
            return;
        }
    }
    SetCustomColor(color);
}

void TColorBox::SetCustomColor(uint32_t color) {
    setItemData(CustomIndex(), QVariant(color & 0xFFFFFF));
    setItemIcon(CustomIndex(), Swatch(color));
    setCurrentIndex(CustomIndex());
}

void TColorBox::Picked(int index) {
    if (index != CustomIndex()) return;
    const QColor chosen = QColorDialog::getColor(ToQColor(itemData(index).toUInt()), this);
    if (chosen.isValid()) SetCustomColor(FromQColor(chosen));
}

// ---------------------------------------------------------------------------------------------
// TImage

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::paintEvent(QPaintEvent*) {
    if (Picture.isNull() || Picture.width() <= 0 || Picture.height() <= 0) return;
    QSize size = Picture.size().scaled(this->size(), Qt::KeepAspectRatio);
    QPainter p(this);
    p.drawImage(QRect(QPoint(0, 0), size), Picture);
}

// ---------------------------------------------------------------------------------------------
// TFontDialog

bool TFontDialog::Execute(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Font"));
    auto* chooser = new QFontDialog(&dialog);
    chooser->setObjectName(QStringLiteral("FontChooser"));
    chooser->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    chooser->setWindowFlags(Qt::Widget);
    chooser->setCurrentFont(ChooserFont(Font));
    auto* color = new TColorBox(&dialog);
    color->setObjectName(QStringLiteral("ColorBox"));
    color->SetSelected(Font.Color);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(chooser);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Color"), &dialog));
    bottom->addWidget(color);
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    layout->addLayout(bottom);

    if (dialog.exec() != QDialog::Accepted) return false;
    TFont chosen = Font;
    chosen.Assign(chooser->currentFont());
    chosen.Color = color->Selected();
    Font = chosen;
    return true;
}

QString FontDescription(const TFont& font) {
    QString s = font.Name + QStringLiteral(", ") + QString::number(font.Size);
    if (font.Bold) s += QStringLiteral(", Bold");
    if (font.Italic) s += QStringLiteral(", Italic");
    if (font.Underline) s += QStringLiteral(", Underline");
    if (font.StrikeOut) s += QStringLiteral(", Strikeout");
    return s;
}

uint32_t PackPoint(int32_t x, int32_t y) {
    return (static_cast<uint32_t>(x) & 0xFFFFu) | (static_cast<uint32_t>(y) & 0xFFFFu) << 16;
}

TPoint UnpackPoint(uint32_t packed) {
    return TPoint{static_cast<int32_t>(packed & 0xFFFFu), static_cast<int32_t>(packed >> 16)};
}

// ---------------------------------------------------------------------------------------------
// TDialogAnnotationProperties

TDialogAnnotationProperties::TDialogAnnotationProperties(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Annotation Properties"));
    setModal(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);
    setFixedSize(377, 307);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 277, 289);

    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setDefault(true);
    OkBtn->setGeometry(293, 8, 75, 25);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);
    CancelBtn->setGeometry(293, 38, 75, 25);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    // The rectangle, the color and the visibility.
    SpinEditTop = NewSpin(Bevel1, "SpinEditTop", 0, 999999, 0, 6);
    SpinEditLeft = NewSpin(Bevel1, "SpinEditLeft", 0, 999999, 0, 6);
    SpinEditRight = NewSpin(Bevel1, "SpinEditRight", 0, 999999, 0, 6);
    SpinEditBottom = NewSpin(Bevel1, "SpinEditBottom", 0, 999999, 0, 6);
    Label1 = NewLabel(Bevel1, "Label1", QStringLiteral("Top"), SpinEditTop);
    Label2 = NewLabel(Bevel1, "Label2", QStringLiteral("Left"), SpinEditLeft);
    Label3 = NewLabel(Bevel1, "Label3", QStringLiteral("Right"), SpinEditRight);
    Label4 = NewLabel(Bevel1, "Label4", QStringLiteral("Bottom"), SpinEditBottom);
    ColorBox = new TColorBox(Bevel1);
    ColorBox->setObjectName(QStringLiteral("ColorBox"));
    Label5 = NewLabel(Bevel1, "Label5", QStringLiteral("Color"), ColorBox);
    CheckBoxVisible = new QCheckBox(QStringLiteral("Visible"), Bevel1);
    CheckBoxVisible->setObjectName(QStringLiteral("CheckBoxVisible"));

    auto* top = new QGridLayout;
    top->addWidget(Label2, 0, 0);
    top->addWidget(SpinEditLeft, 0, 1);
    top->addWidget(Label1, 0, 2);
    top->addWidget(SpinEditTop, 0, 3);
    top->addWidget(Label3, 1, 0);
    top->addWidget(SpinEditRight, 1, 1);
    top->addWidget(Label4, 1, 2);
    top->addWidget(SpinEditBottom, 1, 3);
    top->addWidget(Label5, 2, 0);
    top->addWidget(ColorBox, 2, 1, 1, 2);
    top->addWidget(CheckBoxVisible, 2, 3);

    // The four pages; their tabs are never shown, LoadFromMark picks the page.
    PageControl1 = new QStackedWidget(Bevel1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    TabSheetText = NewPage(PageControl1, "TabSheetText");
    EditFont = new QLineEdit(QStringLiteral("Arial, 12, bold, italic, underlined"), TabSheetText);
    EditFont->setObjectName(QStringLiteral("EditFont"));
    EditFont->setReadOnly(true);
    EditFont->setFrame(false);
    {
        QPalette palette = EditFont->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        EditFont->setPalette(palette);
    }
    EditFont->setFocusPolicy(Qt::NoFocus);
    ButtonFont = NewButton(TabSheetText, "ButtonFont", QStringLiteral("..."));
    ButtonFont->setFixedWidth(25);
    Label7 = NewLabel(TabSheetText, "Label7", QStringLiteral("Font"), ButtonFont);
    MemoText = new QPlainTextEdit(TabSheetText);
    MemoText->setObjectName(QStringLiteral("MemoText"));
    MemoText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoText->setPlainText(QString());
    Label6 = NewLabel(TabSheetText, "Label6", QStringLiteral("Text"), MemoText);
    {
        auto* layout = new QGridLayout(TabSheetText);
        layout->addWidget(Label7, 0, 0);
        layout->addWidget(EditFont, 0, 1);
        layout->addWidget(ButtonFont, 0, 2);
        layout->addWidget(Label6, 1, 0, Qt::AlignTop);
        layout->addWidget(MemoText, 1, 1, 1, 2);
    }

    TabSheetRectangle = NewPage(PageControl1, "TabSheetRectangle");
    SpinEditRectanglePen = NewSpin(TabSheetRectangle, "SpinEditRectanglePen", 1, 999, 1, 3);
    Label9 = NewLabel(TabSheetRectangle, "Label9", QStringLiteral("Pen Width"), SpinEditRectanglePen);
    CheckBoxRectangleHightLight = new QCheckBox(QStringLiteral("Hightlight"), TabSheetRectangle);
    CheckBoxRectangleHightLight->setObjectName(QStringLiteral("CheckBoxRectangleHightLight"));
    CheckBoxRectangleFilled = new QCheckBox(QStringLiteral("Filled"), TabSheetRectangle);
    CheckBoxRectangleFilled->setObjectName(QStringLiteral("CheckBoxRectangleFilled"));
    {
        auto* layout = new QGridLayout(TabSheetRectangle);
        layout->addWidget(Label9, 0, 0);
        layout->addWidget(SpinEditRectanglePen, 0, 1);
        layout->addWidget(CheckBoxRectangleHightLight, 1, 0, 1, 2);
        layout->addWidget(CheckBoxRectangleFilled, 2, 0, 1, 2);
        layout->setRowStretch(3, 1);
        layout->setColumnStretch(2, 1);
    }

    TabSheetLine = NewPage(PageControl1, "TabSheetLine");
    SpinEditLinePen = NewSpin(TabSheetLine, "SpinEditLinePen", 1, 999, 1, 3);
    Label10 = NewLabel(TabSheetLine, "Label10", QStringLiteral("Pen Width"), SpinEditLinePen);
    ListBoxPoints = new QListWidget(TabSheetLine);
    ListBoxPoints->setObjectName(QStringLiteral("ListBoxPoints"));
    ListBoxPoints->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Label8 = NewLabel(TabSheetLine, "Label8", QStringLiteral("Points:"), ListBoxPoints);
    EditX = new QLineEdit(QStringLiteral("0"), TabSheetLine);
    EditX->setObjectName(QStringLiteral("EditX"));
    EditX->setValidator(new TMaxLengthValidator(4, EditX));
    EditY = new QLineEdit(QStringLiteral("0"), TabSheetLine);
    EditY->setObjectName(QStringLiteral("EditY"));
    EditY->setValidator(new TMaxLengthValidator(4, EditY));
    Label12 = NewLabel(TabSheetLine, "Label12", QStringLiteral("X"), EditX);
    Label13 = NewLabel(TabSheetLine, "Label13", QStringLiteral("Y"), EditY);
    ButtonAdd = NewButton(TabSheetLine, "ButtonAdd", QStringLiteral("Add"));
    ButtonDelete = NewButton(TabSheetLine, "ButtonDelete", QStringLiteral("Delete"));
    {
        auto* layout = new QGridLayout(TabSheetLine);
        layout->addWidget(Label10, 0, 0);
        layout->addWidget(SpinEditLinePen, 0, 1);
        layout->addWidget(Label8, 1, 0, 1, 2);
        layout->addWidget(ListBoxPoints, 2, 0, 5, 2);
        layout->addWidget(Label12, 2, 2);
        layout->addWidget(EditX, 2, 3);
        layout->addWidget(Label13, 3, 2);
        layout->addWidget(EditY, 3, 3);
        layout->addWidget(ButtonAdd, 4, 2, 1, 2);
        layout->addWidget(ButtonDelete, 5, 2, 1, 2);
        layout->setRowStretch(6, 1);
    }

    TabSheetImage = NewPage(PageControl1, "TabSheetImage");
    Image = new TImage(TabSheetImage);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setFixedSize(153, 129);
    Label11 = NewLabel(TabSheetImage, "Label11", QStringLiteral("Image"));
    ButtonClear = NewButton(TabSheetImage, "ButtonClear", QStringLiteral("Clear"));
    ButtonLoad = NewButton(TabSheetImage, "ButtonLoad", QStringLiteral("Load..."));
    {
        auto* layout = new QGridLayout(TabSheetImage);
        layout->addWidget(Label11, 0, 0, 1, 2);
        layout->addWidget(Image, 1, 0, 3, 1);
        layout->addWidget(ButtonClear, 1, 1);
        layout->addWidget(ButtonLoad, 2, 1);
        layout->setRowStretch(3, 1);
    }

    auto* bevelLayout = new QVBoxLayout(Bevel1);
    bevelLayout->addLayout(top);
    bevelLayout->addWidget(PageControl1, 1);

    FontDialog = new TFontDialog(this);
    FontDialog->setObjectName(QStringLiteral("FontDialog"));
    OpenDialog = new QFileDialog(this);
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setNameFilter(QStringLiteral("BMP Files (*.bmp)"));
    OpenDialog->setDefaultSuffix(QStringLiteral("bmp"));

    connect(ButtonFont, &QPushButton::clicked, this, [this] { Guarded(&TDialogAnnotationProperties::ButtonFontClick); });
    connect(ButtonLoad, &QPushButton::clicked, this, [this] { Guarded(&TDialogAnnotationProperties::ButtonLoadClick); });
    connect(ButtonClear, &QPushButton::clicked, this,
            [this] { Guarded(&TDialogAnnotationProperties::ButtonClearClick); });
    connect(ButtonDelete, &QPushButton::clicked, this,
            [this] { Guarded(&TDialogAnnotationProperties::ButtonDeleteClick); });
    connect(ButtonAdd, &QPushButton::clicked, this, [this] { Guarded(&TDialogAnnotationProperties::ButtonAddClick); });
    connect(ListBoxPoints, &QListWidget::itemClicked, this, [this] { ListBoxPointsClick(); });
    connect(ListBoxPoints, &QListWidget::currentRowChanged, this, [this] { ListBoxPointsClick(); });
}

void TDialogAnnotationProperties::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QScreen* s = parentWidget() != nullptr ? parentWidget()->screen() : screen();
    if (s == nullptr) s = QGuiApplication::primaryScreen();
    if (s == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
}

void TDialogAnnotationProperties::Guarded(void (TDialogAnnotationProperties::*handler)()) {
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), QString::fromUtf8(e.what()));
    }
}

void TDialogAnnotationProperties::ShowFont(const TFont& font) {
    EditFont->setText(FontDescription(font));
    QPalette palette = EditFont->palette();
    palette.setColor(QPalette::Text, ToQColor(font.Color));
    EditFont->setPalette(palette);
}

void TDialogAnnotationProperties::LoadTextPage(const TFont& font, const QString& text) {
    PageControl1->setCurrentWidget(TabSheetText);
    FontDialog->Font = font;
    ShowFont(FontDialog->Font);
    MemoText->setPlainText(MemoTextOf(text));
}

void TDialogAnnotationProperties::LoadFromMark(TGenericMark* mark) {
    const TRect& r = mark->ImageRect();
    SpinEditLeft->setValue(r.Left);
    SpinEditTop->setValue(r.Top);
    SpinEditRight->setValue(r.Right);
    SpinEditBottom->setValue(r.Bottom);
    ColorBox->SetSelected(mark->Color());
    CheckBoxVisible->setChecked(mark->Visible());

    if (auto* note = dynamic_cast<TStickNoteMark*>(mark)) {
        LoadTextPage(note->Font(), note->Text());
    } else if (auto* rectangle = dynamic_cast<TRectangleMark*>(mark)) {
        PageControl1->setCurrentWidget(TabSheetRectangle);
        CheckBoxRectangleFilled->setChecked(rectangle->Filled());
        CheckBoxRectangleHightLight->setChecked(rectangle->Highlight());
        SpinEditRectanglePen->setValue(rectangle->PenWidth());
    } else if (auto* text = dynamic_cast<TTextMark*>(mark)) {
        LoadTextPage(text->Font(), text->Text());
    } else if (auto* line = dynamic_cast<TLineMark*>(mark)) {
        PageControl1->setCurrentWidget(TabSheetLine);
        SpinEditLinePen->setValue(line->PenWidth());
        ListBoxPoints->clear();
        for (const TPoint& p : line->Points()) {
            auto* item = new QListWidgetItem(QString::number(p.X) + QLatin1Char(',') + QString::number(p.Y));
            item->setData(Qt::UserRole, QVariant(PackPoint(p.X, p.Y)));
            ListBoxPoints->addItem(item);
        }
    } else if (auto* picture = dynamic_cast<TImageMark*>(mark)) {
        PageControl1->setCurrentWidget(TabSheetImage);
        DIBToGraphic(picture->DIB(), Image->Picture);
        Image->update();
    }
}

void TDialogAnnotationProperties::StoreToMark(TGenericMark* mark) {
    mark->SetImageRect(TRect{SpinEditLeft->value(), SpinEditTop->value(), SpinEditRight->value(),
                             SpinEditBottom->value()});
    mark->SetColor(ColorBox->Selected());
    mark->SetVisible(CheckBoxVisible->isChecked());

    if (auto* note = dynamic_cast<TStickNoteMark*>(mark)) {
        note->SetFont(FontDialog->Font);
        note->SetText(MemoLinesText(MemoText));
    } else if (auto* rectangle = dynamic_cast<TRectangleMark*>(mark)) {
        rectangle->SetFilled(CheckBoxRectangleFilled->isChecked());
        rectangle->SetHighlight(CheckBoxRectangleHightLight->isChecked());
        rectangle->SetPenWidth(SpinEditRectanglePen->value());
    } else if (auto* text = dynamic_cast<TTextMark*>(mark)) {
        text->SetFont(FontDialog->Font);
        text->SetText(MemoLinesText(MemoText));
    } else if (auto* line = dynamic_cast<TLineMark*>(mark)) {
        line->SetPenWidth(SpinEditLinePen->value());
        line->ClearPoints();
        for (int i = 0; i < ListBoxPoints->count(); ++i)
            line->AddPoint(UnpackPoint(ListBoxPoints->item(i)->data(Qt::UserRole).toUInt()));
    } else if (auto* picture = dynamic_cast<TImageMark*>(mark)) {
        picture->SetDIB(GraphicToDIB(Image->Picture));
    }
}

void TDialogAnnotationProperties::ButtonFontClick() {
    if (FontDialog->Execute(this)) ShowFont(FontDialog->Font);
}

void TDialogAnnotationProperties::ButtonLoadClick() {
    if (OpenDialog->exec() != QDialog::Accepted) return;
    const QStringList files = OpenDialog->selectedFiles();
    if (files.isEmpty()) return;
    LoadBitmapFromFile(files.front().toStdString(), Image->Picture);
    Image->update();
}

void TDialogAnnotationProperties::ButtonClearClick() {
    Image->Picture = QImage();
    Image->repaint();
}

void TDialogAnnotationProperties::ButtonDeleteClick() {
    for (int i = ListBoxPoints->count() - 1; i >= 0; --i)
        if (ListBoxPoints->item(i)->isSelected()) delete ListBoxPoints->takeItem(i);
}

void TDialogAnnotationProperties::ButtonAddClick() {
    const int32_t x = StrToInt(EditX->text().toStdString());
    const int32_t y = StrToInt(EditY->text().toStdString());
    auto* item = new QListWidgetItem(EditX->text() + QLatin1Char(',') + EditY->text());
    item->setData(Qt::UserRole, QVariant(PackPoint(x, y)));
    ListBoxPoints->addItem(item);
}

void TDialogAnnotationProperties::ListBoxPointsClick() {
    QListWidgetItem* item = ListBoxPoints->currentItem();
    if (item == nullptr || !item->isSelected()) return;
    const TPoint p = UnpackPoint(item->data(Qt::UserRole).toUInt());
    EditX->setText(QString::number(p.X));
    EditY->setText(QString::number(p.Y));
}

}  // namespace qil
