// The annotation property dialog: its controls, the page chosen by the mark's class, and the
// round trip LoadFromMark / StoreToMark for each kind of mark, with the point list, the
// picture, the font chooser and Cancel.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

#include "annotations/qt/annotation_properties_dialog.h"
#include "annotations/qt/annotations_editor.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

// Runs Action on the modal dialog that opens next, once the event loop runs inside it.
void OnNextModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        action(modal);
    });
}

QStringList ItemTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

}  // namespace

class AnnotationPropertiesTest : public QObject {
    Q_OBJECT

private slots:
    void FormControls();
    void PageFollowsTheMarksClass();
    void RectangleAndColorRoundTrip();
    void RectangleIsNormalised();
    void CheckingFilledMakesTheMarkRenderFilled();
    void LinePointsRoundTrip();
    void PointListButtons();
    void PointsArePackedIntoUnsignedHalves();
    void NonIntegerPointAddsNothing();
    void TextAndFontRoundTrip();
    void FontDescriptions_data();
    void FontDescriptions();
    void CancelAfterAFontChangeChangesNothing();
    void OkAfterAFontChangeStoresTheFont();
    void PictureRoundTripAndClear();
    void LoadPictureFromFile();

private:
    TAnnotationsEditor editor_;
};

void AnnotationPropertiesTest::FormControls() {
    TDialogAnnotationProperties d;
    QCOMPARE(d.windowTitle(), QStringLiteral("Annotation Properties"));
    QCOMPARE(d.size(), QSize(377, 307));
    QCOMPARE(d.Bevel1->geometry(), QRect(8, 8, 277, 289));
    QCOMPARE(d.OkBtn->text(), QStringLiteral("OK"));
    QVERIFY(d.OkBtn->isDefault());
    QCOMPARE(d.CancelBtn->text(), QStringLiteral("Cancel"));
    QCOMPARE(d.font().pointSize(), 8);
    {
        // Centred on the desktop, also when its parent lies elsewhere.
        QWidget owner;
        owner.setGeometry(0, 0, 120, 90);
        owner.show();
        TDialogAnnotationProperties shown(&owner);
        shown.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shown));
        const QPoint centre = shown.screen()->availableGeometry().center();
        QVERIFY((shown.frameGeometry().center() - centre).manhattanLength() <= 2);
    }

    struct Spin {
        QSpinBox* spin;
        QLabel* label;
        const char* caption;
        int max, value, maxLength;
    };
    const Spin spins[] = {
        {d.SpinEditTop, d.Label1, "Top", 999999, 0, 6},
        {d.SpinEditLeft, d.Label2, "Left", 999999, 0, 6},
        {d.SpinEditRight, d.Label3, "Right", 999999, 0, 6},
        {d.SpinEditBottom, d.Label4, "Bottom", 999999, 0, 6},
        {d.SpinEditRectanglePen, d.Label9, "Pen Width", 999, 1, 3},
        {d.SpinEditLinePen, d.Label10, "Pen Width", 999, 1, 3},
    };
    for (const Spin& s : spins) {
        QCOMPARE(s.label->text(), QString::fromLatin1(s.caption));
        QCOMPARE(s.label->buddy(), s.spin);
        QCOMPARE(s.spin->maximum(), s.max);
        QCOMPARE(s.spin->minimum(), s.max == 999 ? 1 : 0);
        QCOMPARE(s.spin->value(), s.value);
        QCOMPARE(s.spin->findChild<QLineEdit*>()->maxLength(), s.maxLength);
    }
    struct Text {
        QWidget* widget;
        const char* name;
        const char* text;
    };
    const Text texts[] = {
        {d.Label5, "Label5", "Color"},          {d.CheckBoxVisible, "CheckBoxVisible", "Visible"},
        {d.Label7, "Label7", "Font"},           {d.ButtonFont, "ButtonFont", "..."},
        {d.Label6, "Label6", "Text"},           {d.CheckBoxRectangleHightLight, "CheckBoxRectangleHightLight", "Hightlight"},
        {d.CheckBoxRectangleFilled, "CheckBoxRectangleFilled", "Filled"},
        {d.Label8, "Label8", "Points:"},        {d.Label12, "Label12", "X"},
        {d.Label13, "Label13", "Y"},            {d.ButtonAdd, "ButtonAdd", "Add"},
        {d.ButtonDelete, "ButtonDelete", "Delete"},
        {d.Label11, "Label11", "Image"},        {d.ButtonClear, "ButtonClear", "Clear"},
        {d.ButtonLoad, "ButtonLoad", "Load..."},
    };
    for (const Text& t : texts) {
        QCOMPARE(t.widget->objectName(), QString::fromLatin1(t.name));
        QCOMPARE(t.widget->property("text").toString(), QString::fromLatin1(t.text));
    }
    QCOMPARE(d.EditX->text(), QStringLiteral("0"));
    QCOMPARE(d.EditY->text(), QStringLiteral("0"));
    // At most 4 typed characters; a longer text from code (an unpacked point) stays whole.
    for (QLineEdit* edit : {d.EditX, d.EditY}) {
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("123456"));
        QCOMPARE(edit->text(), QStringLiteral("1234"));
        edit->setText(QStringLiteral("65531"));
        QCOMPARE(edit->text(), QStringLiteral("65531"));
    }
    QVERIFY(d.EditFont->isReadOnly());
    QVERIFY(!d.EditFont->hasFrame());
    QCOMPARE(d.EditFont->text(), QStringLiteral("Arial, 12, bold, italic, underlined"));
    QCOMPARE(d.MemoText->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(d.MemoText->document()->blockCount(), 1);
    QCOMPARE(d.Image->size(), QSize(153, 129));
    QCOMPARE(d.PageControl1->count(), 4);
    QCOMPARE(d.OpenDialog->nameFilters(), QStringList{QStringLiteral("BMP Files (*.bmp)")});
    QCOMPARE(d.OpenDialog->defaultSuffix(), QStringLiteral("bmp"));
    // Every named control is found by its name.
    for (const char* name : {"SpinEditTop", "ColorBox", "PageControl1", "TabSheetText", "TabSheetRectangle",
                             "TabSheetLine", "TabSheetImage", "EditFont", "MemoText", "ListBoxPoints", "EditX",
                             "EditY", "Image", "OkBtn", "CancelBtn", "Bevel1", "FontDialog", "OpenDialog"})
        QVERIFY2(d.findChild<QObject*>(QLatin1String(name)) != nullptr, name);
}

void AnnotationPropertiesTest::PageFollowsTheMarksClass() {
    struct Row {
        std::function<TGenericMark*()> add;
        QWidget* TDialogAnnotationProperties::*page;
    };
    const Row rows[] = {
        {[this] { return editor_.AddStickNote(); }, &TDialogAnnotationProperties::TabSheetText},
        {[this] { return editor_.AddRectangle(); }, &TDialogAnnotationProperties::TabSheetRectangle},
        {[this] { return editor_.AddText(); }, &TDialogAnnotationProperties::TabSheetText},
        {[this] { return editor_.AddLine(); }, &TDialogAnnotationProperties::TabSheetLine},
        {[this] { return editor_.AddImage(); }, &TDialogAnnotationProperties::TabSheetImage},
    };
    for (const Row& r : rows) {
        TDialogAnnotationProperties d;
        d.LoadFromMark(r.add());
        QCOMPARE(d.PageControl1->currentWidget(), d.*r.page);
    }
    editor_.Clear();
}

void AnnotationPropertiesTest::RectangleAndColorRoundTrip() {
    // A standard color, a color of no standard entry, and the visibility both ways.
    for (uint32_t color : {uint32_t{0x00FF00}, uint32_t{0x123456}}) {
        for (bool visible : {false, true}) {
            TRectangleMark* m = editor_.AddRectangle();
            m->SetImageRect({11, 22, 333, 444});
            m->SetColor(color);
            m->SetVisible(visible);
            m->SetFilled(false);
            m->SetHighlight(false);
            m->SetPenWidth(7);
            TDialogAnnotationProperties d;
            d.LoadFromMark(m);
            QCOMPARE(d.SpinEditLeft->value(), 11);
            QCOMPARE(d.SpinEditTop->value(), 22);
            QCOMPARE(d.SpinEditRight->value(), 333);
            QCOMPARE(d.SpinEditBottom->value(), 444);
            QCOMPARE(d.ColorBox->Selected(), color);
            QCOMPARE(d.CheckBoxVisible->isChecked(), visible);
            QVERIFY(!d.CheckBoxRectangleFilled->isChecked());
            QVERIFY(!d.CheckBoxRectangleHightLight->isChecked());
            QCOMPARE(d.SpinEditRectanglePen->value(), 7);

            TRectangleMark* other = editor_.AddRectangle();
            d.StoreToMark(other);
            QCOMPARE(other->ImageRect(), (TRect{11, 22, 333, 444}));
            QCOMPARE(other->Color(), color);
            QCOMPARE(other->Visible(), visible);
            QVERIFY(!other->Filled());
            QVERIFY(!other->Highlight());
            QCOMPARE(other->PenWidth(), 7);
        }
    }
    editor_.Clear();
}

void AnnotationPropertiesTest::RectangleIsNormalised() {
    TRectangleMark* m = editor_.AddRectangle();
    m->SetImageRect({0, 5, 100, 60});
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    d.SpinEditLeft->setValue(50);
    d.SpinEditRight->setValue(10);
    d.StoreToMark(m);
    QCOMPARE(m->ImageRect(), (TRect{10, 5, 50, 60}));
    editor_.Clear();
}

void AnnotationPropertiesTest::CheckingFilledMakesTheMarkRenderFilled() {
    TRectangleMark* m = editor_.AddRectangle();
    m->SetImageRect({0, 0, 9, 9});
    m->SetZoom(100);
    m->SetFilled(false);
    QVERIFY(m->Render()->Transparent);
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    QTimer::singleShot(0, &d, [&d] {
        d.CheckBoxRectangleFilled->setChecked(true);
        d.OkBtn->click();
    });
    if (d.exec() == QDialog::Accepted) d.StoreToMark(m);
    QVERIFY(m->Filled());
    auto bitmap = m->Render();
    QVERIFY(!bitmap->Transparent);
    QCOMPARE(bitmap->Image.pixelColor(5, 5), QColor(0, 255, 0));
    editor_.Clear();
}

void AnnotationPropertiesTest::LinePointsRoundTrip() {
    TLineMark* m = editor_.AddLine();
    m->SetImageRect({100, 100, 200, 200});
    m->AddPoint({3, 4});
    m->AddPoint({10, 20});
    m->SetPenWidth(5);
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    QCOMPARE(ItemTexts(d.ListBoxPoints), (QStringList{"3,4", "10,20"}));
    QCOMPARE(d.SpinEditLinePen->value(), 5);
    d.StoreToMark(m);
    QCOMPARE(m->PointCount(), 2);
    QCOMPARE(m->PointAt(0), (TPoint{3, 4}));
    QCOMPARE(m->PointAt(1), (TPoint{10, 20}));
    QCOMPARE(m->PenWidth(), 5);
    QCOMPARE(m->ImageRect(), (TRect{100, 100, 200, 200}));
    editor_.Clear();
}

void AnnotationPropertiesTest::PointListButtons() {
    TLineMark* m = editor_.AddLine();
    m->SetImageRect({0, 0, 50, 50});
    m->AddPoint({3, 4});
    m->AddPoint({10, 20});
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));

    // Clicking an item fills X and Y; 7 and 8 and Add append "7,8".
    QListWidget* list = d.ListBoxPoints;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    QCOMPARE(d.EditX->text(), QStringLiteral("10"));
    QCOMPARE(d.EditY->text(), QStringLiteral("20"));
    d.EditX->setText(QStringLiteral("7"));
    d.EditY->setText(QStringLiteral("8"));
    d.ButtonAdd->click();
    QCOMPARE(ItemTexts(list), (QStringList{"3,4", "10,20", "7,8"}));

    // Delete removes the selected items.
    list->clearSelection();
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    d.ButtonDelete->click();
    QCOMPARE(ItemTexts(list), (QStringList{"10,20"}));

    d.StoreToMark(m);
    QCOMPARE(m->PointCount(), 1);
    QCOMPARE(m->PointAt(0), (TPoint{10, 20}));
    editor_.Clear();
}

void AnnotationPropertiesTest::PointsArePackedIntoUnsignedHalves() {
    QCOMPARE(PackPoint(3, 4), 0x00040003u);
    QCOMPARE(UnpackPoint(PackPoint(65535, 1)), (TPoint{65535, 1}));
    QCOMPARE(UnpackPoint(PackPoint(-5, 70000)), (TPoint{65531, 70000 - 65536}));

    TLineMark* m = editor_.AddLine();
    m->SetImageRect({0, 0, 10, 10});
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    d.EditX->setText(QStringLiteral("-5"));
    d.EditY->setText(QStringLiteral("$10"));
    d.ButtonAddClick();
    QCOMPARE(ItemTexts(d.ListBoxPoints), (QStringList{"-5,$10"}));
    d.ListBoxPoints->setCurrentRow(0);
    QCOMPARE(d.EditX->text(), QStringLiteral("65531"));
    QCOMPARE(d.EditY->text(), QStringLiteral("16"));
    d.StoreToMark(m);
    QCOMPARE(m->PointAt(0), (TPoint{65531, 16}));
    editor_.Clear();
}

void AnnotationPropertiesTest::NonIntegerPointAddsNothing() {
    TDialogAnnotationProperties d;
    for (const char* bad : {"x", "", "1.5"}) {
        d.EditX->setText(QString::fromLatin1(bad));
        d.EditY->setText(QStringLiteral("2"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, d.ButtonAddClick());
        d.EditX->setText(QStringLiteral("2"));
        d.EditY->setText(QString::fromLatin1(bad));
        QVERIFY_THROWS_EXCEPTION(EConvertError, d.ButtonAddClick());
    }
    QCOMPARE(d.ListBoxPoints->count(), 0);
    // From the button, the error is shown in an error box and the list stays empty.
    d.EditX->setText(QStringLiteral("q"));
    QString shown;
    OnNextModal([&shown](QWidget* box) {
        shown = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
        static_cast<QDialog*>(box)->accept();
    });
    d.ButtonAdd->click();
    QCOMPARE(shown, QStringLiteral("'q' is not a valid integer value"));
    QCOMPARE(d.ListBoxPoints->count(), 0);
}

void AnnotationPropertiesTest::TextAndFontRoundTrip() {
    TFont font;
    font.Name = QStringLiteral("Arial");
    font.Size = 14;
    font.Color = 0x0000FF;
    font.Bold = true;
    font.Underline = true;
    struct Row {
        TGenericMark* mark;
        QString text;
        QString memo;
        QString stored;
    };
    TStickNoteMark* note = editor_.AddStickNote();
    note->SetFont(font);
    note->SetText(QStringLiteral("first\r\nsecond"));
    TTextMark* text = editor_.AddText();
    text->SetFont(font);
    text->SetText(QStringLiteral("Testo"));
    const Row rows[] = {
        {note, note->Text(), QStringLiteral("first\nsecond"), QStringLiteral("first\nsecond\n")},
        {text, text->Text(), QStringLiteral("Testo"), QStringLiteral("Testo\n")},
    };
    for (const Row& r : rows) {
        TDialogAnnotationProperties d;
        d.LoadFromMark(r.mark);
        QCOMPARE(d.EditFont->text(), QStringLiteral("Arial, 14, Bold, Underline"));
        QCOMPARE(d.EditFont->palette().color(QPalette::Text), QColor(255, 0, 0));
        QCOMPARE(d.MemoText->toPlainText(), r.memo);
        QVERIFY(d.FontDialog->Font == font);
        d.MemoText->appendPlainText(QStringLiteral("third"));
        d.StoreToMark(r.mark);
        const QString expected = r.stored + QStringLiteral("third\n");
        if (auto* n = dynamic_cast<TStickNoteMark*>(r.mark)) {
            QCOMPARE(n->Text(), expected);
            QVERIFY(n->Font() == font);
        } else {
            auto* t = static_cast<TTextMark*>(r.mark);
            QCOMPARE(t->Text(), expected);
            QVERIFY(t->Font() == font);
        }
    }
    // An empty memo gives an empty text.
    TDialogAnnotationProperties d;
    d.LoadFromMark(text);
    d.MemoText->clear();
    d.StoreToMark(text);
    QCOMPARE(text->Text(), QString());
    editor_.Clear();
}

void AnnotationPropertiesTest::FontDescriptions_data() {
    QTest::addColumn<int>("styles");  // bit 0 bold, 1 italic, 2 underline, 3 strike-out
    QTest::addColumn<QString>("description");
    QTest::newRow("plain") << 0 << "Arial, 12";
    QTest::newRow("bold italic") << 3 << "Arial, 12, Bold, Italic";
    QTest::newRow("all") << 15 << "Arial, 12, Bold, Italic, Underline, Strikeout";
    QTest::newRow("underline strike-out") << 12 << "Arial, 12, Underline, Strikeout";
}

void AnnotationPropertiesTest::FontDescriptions() {
    QFETCH(int, styles);
    QFETCH(QString, description);
    TFont f;
    f.Bold = styles & 1;
    f.Italic = styles & 2;
    f.Underline = styles & 4;
    f.StrikeOut = styles & 8;
    QCOMPARE(FontDescription(f), description);
    f.Name = QStringLiteral("Times New Roman");
    f.Size = -13;
    QVERIFY(FontDescription(f).startsWith(QStringLiteral("Times New Roman, -13")));
}

namespace {

// Presses the font button of the dialog and, in the font chooser, picks a 20-point bold font
// in blue.
void ChangeFontThroughTheButton(TDialogAnnotationProperties& d) {
    OnNextModal([](QWidget* chooser) {
        auto* fonts = chooser->findChild<QFontDialog*>();
        QVERIFY(fonts != nullptr);
        QFont f(QStringLiteral("Liberation Serif"));
        f.setPointSize(20);
        f.setBold(true);
        fonts->setCurrentFont(f);
        chooser->findChild<TColorBox*>()->SetSelected(0xFF0000);
        chooser->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
    });
    d.ButtonFont->click();
}

}  // namespace

void AnnotationPropertiesTest::CancelAfterAFontChangeChangesNothing() {
    TStickNoteMark* m = editor_.AddStickNote();
    m->SetImageRect({1, 2, 30, 40});
    const TFont before = m->Font();
    const QString text = m->Text();
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    QString shownFont;
    QTimer::singleShot(0, &d, [&] {
        ChangeFontThroughTheButton(d);
        shownFont = d.EditFont->text();
        d.MemoText->setPlainText(QStringLiteral("changed"));
        d.SpinEditLeft->setValue(20);
        d.CancelBtn->click();
    });
    if (d.exec() == QDialog::Accepted) d.StoreToMark(m);
    QVERIFY(shownFont.contains(QStringLiteral(", 20, Bold")));
    QVERIFY(m->Font() == before);
    QCOMPARE(m->Text(), text);
    QCOMPARE(m->ImageRect(), (TRect{1, 2, 30, 40}));
    editor_.Clear();
}

void AnnotationPropertiesTest::OkAfterAFontChangeStoresTheFont() {
    TTextMark* m = editor_.AddText();
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    QTimer::singleShot(0, &d, [&d] {
        ChangeFontThroughTheButton(d);
        d.OkBtn->click();
    });
    if (d.exec() == QDialog::Accepted) d.StoreToMark(m);
    QCOMPARE(m->Font().Size, 20);
    QVERIFY(m->Font().Bold);
    QCOMPARE(m->Font().Color, 0xFF0000u);
    QCOMPARE(d.EditFont->text(), FontDescription(m->Font()));
    QCOMPARE(d.EditFont->palette().color(QPalette::Text), QColor(0, 0, 255));
    editor_.Clear();
}

void AnnotationPropertiesTest::PictureRoundTripAndClear() {
    QImage picture(6, 4, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    TImageMark* m = editor_.AddImage();
    m->SetImageRect({0, 0, 5, 3});
    m->SetDIB(GraphicToDIB(picture));
    QVERIFY(m->DIB() != 0);

    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    QCOMPARE(d.Image->Picture.size(), QSize(6, 4));
    QCOMPARE(d.Image->Picture.pixelColor(2, 2), QColor(10, 200, 30));
    d.StoreToMark(m);
    QVERIFY(m->DIB() != 0);
    QImage back;
    DIBToGraphic(m->DIB(), back);
    QCOMPARE(back.size(), QSize(6, 4));
    QCOMPARE(back.pixelColor(5, 3), QColor(10, 200, 30));

    d.ButtonClear->click();
    QVERIFY(d.Image->Picture.isNull());
    d.StoreToMark(m);
    QCOMPARE(m->DIB(), HGLOBAL(0));

    // A mark without a picture opens with an empty image.
    TDialogAnnotationProperties empty;
    empty.LoadFromMark(m);
    QVERIFY(empty.Image->Picture.isNull());
    editor_.Clear();
}

void AnnotationPropertiesTest::LoadPictureFromFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bitmap = dir.filePath(QStringLiteral("picture.bmp"));
    QImage picture(5, 7, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 255));
    QVERIFY(picture.save(bitmap, "BMP"));
    const QString notBitmap = dir.filePath(QStringLiteral("text.bmp"));
    {
        QFile f(notBitmap);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
    }
    // Picks the file in the open dialog; Then runs on the next modal window after it.
    auto choose = [](const QString& file, std::function<void(QWidget*)> then = {}) {
        OnNextModal([file, then](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            QVERIFY(files != nullptr);
            // As typed into the dialog's file name field.
            auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(file);
            if (then) OnNextModal(then);
            static_cast<QDialog*>(files)->accept();
        });
    };

    TImageMark* m = editor_.AddImage();
    m->SetImageRect({0, 0, 4, 6});
    TDialogAnnotationProperties d;
    d.LoadFromMark(m);
    choose(bitmap);
    d.ButtonLoad->click();
    QCOMPARE(d.Image->Picture.size(), QSize(5, 7));

    // A file that is not a bitmap: the error is shown and the picture stays.
    QString shown;
    choose(notBitmap, [&shown](QWidget* box) {
        shown = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
        static_cast<QDialog*>(box)->accept();
    });
    d.ButtonLoad->click();
    QCOMPARE(shown, QStringLiteral("Bitmap image is not valid"));
    QCOMPARE(d.Image->Picture.size(), QSize(5, 7));

    d.StoreToMark(m);
    QImage back;
    DIBToGraphic(m->DIB(), back);
    QCOMPARE(back.size(), QSize(5, 7));
    QCOMPARE(back.pixelColor(0, 0), QColor(0, 0, 255));
    editor_.Clear();
}

QTEST_MAIN(AnnotationPropertiesTest)
#include "annotation_properties_test.moc"
