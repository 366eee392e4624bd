// The main window driven end to end on the offscreen platform: the bundled sample pages opened,
// every command run through its real dialog, the results compared with the command layer's.
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QSpinBox>
#include <atomic>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest>
#include <functional>
#include <thread>
#include <memory>

#include "annotations/qt/annotations_editor.h"
#include "annotations/qt/marks.h"
#include "app/commands.h"
#include "app/qt/main_window.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "viewer/qt/zoom_image.h"

using namespace qil;
using namespace qil::app;

namespace {

// The window with its boxes and file dialogs answered by the test.
class TTestWindow : public TFinestraPrincipale {
public:
    QStringList Informations;
    QStringList Errors;
    QStringList Questions;
    bool ConfirmAnswer = true;
    QString NextOpenFile;
    QString NextSaveFile;
    TTiffCompression SaveCompression = tcAuto;
    int OpenDialogs = 0;

    void ShowInformation(const QString& text) override { Informations << text; }
    void ShowError(const QString& text) override { Errors << text; }
    bool AskConfirmation(const QString& text) override {
        Questions << text;
        return ConfirmAnswer;
    }
    bool RealOpenDialog = false;
    QString AskOpenFileName() override {
        ++OpenDialogs;
        return RealOpenDialog ? TFinestraPrincipale::AskOpenFileName() : NextOpenFile;
    }
    QString AskSaveFileName(int32_t, TTiffCompression& compression, int32_t&) override {
        compression = SaveCompression;
        return NextSaveFile;
    }
};

// Answers the next modal dialog as soon as it is shown: Setup may change its controls, then
// it is accepted (or rejected). Its caption is kept.
class TDialogAnswer {
public:
    explicit TDialogAnswer(std::function<void(QDialog*)> setup = {}, bool accept = true)
        : FSetup(std::move(setup)), FAccept(accept) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || Answered) return;
            Answered = true;
            Caption = dialog->windowTitle();
            if (FSetup) FSetup(dialog);
            if (FAccept)
                dialog->accept();
            else
                dialog->reject();
        });
        FTimer.start(1);
    }
    bool Answered = false;
    QString Caption;

private:
    QTimer FTimer;
    std::function<void(QDialog*)> FSetup;
    bool FAccept;
};

QString SamplePath(const char* name) {
    return QString::fromLocal8Bit(qgetenv("QIL_SOURCE_DIR")) + QStringLiteral("/samples/") + QString::fromLatin1(name);
}

// Pixels, color table, size, format and resolution equal.
bool SameImage(TDIB& a, TDIB& b) {
    if (a.GetHandle() == 0 || b.GetHandle() == 0) return a.GetHandle() == b.GetHandle();
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount()) return false;
    if (a.XResolution() != b.XResolution() || a.YResolution() != b.YResolution()) return false;
    if (a.PaletteSize != b.PaletteSize) return false;
    for (int32_t i = 0; i < a.PaletteSize; ++i)
        if (a.GetPaletteEntry(i) != b.GetPaletteEntry(i)) return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Rows[y], b.Rows[y], static_cast<size_t>(a.RowBytes)) != 0) return false;
    return true;
}

std::unique_ptr<TDIB> Adopt(TCommandResult& r) {
    auto d = std::make_unique<TDIB>();
    if (r.Block != 0) d->SetHandle(r.ReleaseBlock());
    return d;
}

// One Process command: its menu item, the caption of its dialog (empty: none), and the command
// function at the dialog's defaults.
struct TCase {
    const char* Item;
    TCommand Command;
    const char* DialogCaption;
    std::function<TCommandResult(TDIB&)> Expected;
};

const std::vector<TCase>& Cases() {
    static const std::vector<TCase> cases = {
        {"Deskew1", TCommand::Deskew, "Deskew", [](TDIB& d) { return CommandDeskew(d, {}); }},
        {"Despeckle1", TCommand::Despeckle, "Despeckle", [](TDIB& d) { return CommandDespeckle(d, {}); }},
        {"Repair1", TCommand::Repair, "Repair", [](TDIB& d) { return CommandRepair(d, {}); }},
        {"LineRemoval1", TCommand::LineRemoval, "Lines Removal", [](TDIB& d) { return CommandLineRemoval(d, {}); }},
        {"Thresholding1", TCommand::Thresholding, "Binarization", [](TDIB& d) { return CommandThresholding(d, {}); }},
        {"BlackBorderRemoval1", TCommand::BlackBorderRemoval, "Black Border Removal",
         [](TDIB& d) { return CommandBlackBorderRemoval(d, {}); }},
        {"RemoveDither1", TCommand::RemoveDither, "", [](TDIB& d) { return CommandRemoveDither(d); }},
        {"DropColoredInk1", TCommand::DropColoredInk, "Drop Colored Ink",
         [](TDIB& d) { return CommandDropColoredInk(d, {}); }},
        {"FindImageAndText1", TCommand::FindImageAndText, "", [](TDIB& d) { return CommandFindImagesAndText(d); }},
    };
    return cases;
}

QAction* Item(TFinestraPrincipale& w, const char* name) {
    auto* a = w.findChild<QAction*>(QString::fromLatin1(name));
    if (!a) qFatal("no menu item %s", name);
    return a;
}

QStringList Captions(QMenu* menu) {
    QStringList list;
    for (QAction* a : menu->actions()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return list;
}

// Whether each Process item is enabled as the command-state rule says for the depth (0: none).
void CheckCommandStates(TFinestraPrincipale& w, int32_t depth) {
    for (const TCase& c : Cases()) {
        bool expected = depth != 0 && CommandEnabled(c.Command, depth);
        if (Item(w, c.Item)->isEnabled() != expected)
            QFAIL(qPrintable(QStringLiteral("%1 enabled %2 at depth %3")
                                 .arg(QString::fromLatin1(c.Item))
                                 .arg(!expected)
                                 .arg(depth)));
    }
}

std::unique_ptr<TTestWindow> NewWindow() {
    auto w = std::make_unique<TTestWindow>();
    w->show();
    QCoreApplication::processEvents();
    return w;
}

template <class T>
T* Control(QDialog* d, const char* name) {
    T* c = d->findChild<T*>(QString::fromLatin1(name));
    if (!c) qFatal("no control %s", name);
    return c;
}

// The offscreen platform warns about every top-level size hint; nothing else is dropped.
QtMessageHandler previousHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("propagateSizeHints"))) return;
    previousHandler(type, context, message);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        previousHandler = qInstallMessageHandler(QuietHandler);
        QLocale::setDefault(QLocale::c());
    }

    void startUpState() {
        auto w = NewWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Quorvane Technologies SpA - Image Processing Demo"));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(w->ToolBar1->height(), 29);
        QVERIFY(w->ToolBar1->actions().isEmpty());
        QCOMPARE(w->StatusHint->text(),
                 QStringLiteral("Open an image using \"File\" menu and use \"Process\" commands to see results..."));
        QCOMPARE(w->Splitter->handleWidth(), 5);
        QCOMPARE(w->PanelOriginale->objectName(), QStringLiteral("PanelOriginale"));
        QCOMPARE(w->ImmagineOriginale->parent(), w->PanelOriginale);
        QCOMPARE(w->ImmagineCopia->parent(), w->PanelProcessata);
        for (TZoomImage* pane : {w->ImmagineOriginale, w->ImmagineCopia}) {
            QCOMPARE(pane->Zoom(), 100.0);
            QCOMPARE(pane->ZoomMode(), zmCustom);
            QCOMPARE(pane->AntialiasingThreshold(), 50);
            QCOMPARE(pane->Antialiasing(), aaScaleToGray);
            QVERIFY(pane->Centered);
            QCOMPARE(pane->Page(), 0);
            QVERIFY(pane->ImageHandle() == 0);
        }

        // The menus of the window, in order, then the workbench's additions after them.
        QList<QAction*> menus = w->MainMenu1->actions();
        QCOMPARE(menus.size(), 4);
        QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
        QCOMPARE(menus[1]->text(), QStringLiteral("&View"));
        QCOMPARE(menus[2]->text(), QStringLiteral("&Process"));
        QCOMPARE(menus[3]->text(), QStringLiteral("?"));
        const QStringList file = {"&Open...", "-", "&Exit"};
        const QStringList view = {"Fit To &Width", "Fit To &Page", "&No scale (1:1)"};
        const QStringList process = {"&Deskew...",
                                     "Despec&kle...",
                                     "Repair...",
                                     "&Line Removal...",
                                     "&Thresholding...",
                                     "Black Border Removal...",
                                     "Remove Dither (Alfa Version)",
                                     "Drop Colored Ink",
                                     "Find Images And Text",
                                     "-",
                                     "&Replace Original Image"};
        QCOMPARE(Captions(w->File1).mid(0, file.size()), file);
        QCOMPARE(Captions(w->File1).mid(file.size()), QStringList({"-", "&Save Processed Image As..."}));
        QCOMPARE(Captions(w->View1).mid(0, view.size()), view);
        QCOMPARE(Captions(w->View1).mid(view.size()), QStringList({"-", "Show &Annotations"}));
        QCOMPARE(Captions(w->MenuProcess), process);
        QCOMPARE(Captions(w->N3), QStringList({"About..."}));
        for (const char* name : {"Open1", "N1", "Exit1", "FitToWidth1", "FitToPage1", "FitTo11", "N2",
                                 "ReplaceOriginalImage", "About1"})
            QVERIFY2(Item(*w, name)->isEnabled(), name);
        for (const char* name : {"FitToWidth1", "FitToPage1", "FitTo11", "ShowAnnotations1"})
            QVERIFY2(!Item(*w, name)->isChecked(), name);
        CheckCommandStates(*w, 0);
        QVERIFY(!w->SaveProcessedImageAs1->isEnabled());
        QVERIFY(!w->AnnotationsShown());
        QCOMPARE(w->Open1->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(w->SaveProcessedImageAs1->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QCOMPARE(w->Exit1->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    }

    void openDialogFilterKeepsTheEntriesFirst() {
        QCOMPARE(QString::fromLatin1(kOpenDialogTitle), QStringLiteral("Open File"));
        QVERIFY(QString::fromLatin1(kOpenDialogFilter)
                    .startsWith(QStringLiteral(
                        "Graphics files|*.tif;*.bmp;*.jpg|Bitmap Images|*.bmp|Tiff Images|*.tif|JPEG Images|*.jpg|")));
        QCOMPARE(QtFileFilter(QString::fromLatin1(kOpenDialogFilter)),
                 QStringLiteral("Graphics files (*.tif *.bmp *.jpg);;Bitmap Images (*.bmp);;Tiff Images (*.tif);;"
                                "JPEG Images (*.jpg);;PNG Images (*.png);;All files (*)"));
    }

    void panesStayEqualOnResize() {
        auto w = NewWindow();
        w->setWindowState(Qt::WindowNoState);
        w->resize(1001, 600);
        QCoreApplication::processEvents();
        QCOMPARE(w->Splitter->width(), 1001);
        QCOMPARE(w->PanelOriginale->width(), 498);
        // The user moves the splitter; the next resize makes the panes equal again.
        w->Splitter->setSizes({300, 696});
        QCOMPARE(w->PanelOriginale->width(), 300);
        w->resize(801, 600);
        QCoreApplication::processEvents();
        QCOMPARE(w->PanelOriginale->width(), (801 - 5) / 2);
        QCOMPARE(w->PanelProcessata->width(), 801 - 5 - 398);
    }

    void viewCommandsOnEmptyPanes() {
        auto w = NewWindow();
        w->FitToWidth1->trigger();
        QVERIFY(w->FitToWidth1->isChecked() && !w->FitToPage1->isChecked() && !w->FitTo11->isChecked());
        QCOMPARE(w->ImmagineOriginale->ZoomMode(), zmFitToWidth);
        QCOMPARE(w->ImmagineCopia->ZoomMode(), zmFitToWidth);
        w->FitToPage1->trigger();
        QVERIFY(!w->FitToWidth1->isChecked() && w->FitToPage1->isChecked() && !w->FitTo11->isChecked());
        QCOMPARE(w->ImmagineCopia->ZoomMode(), zmFitToPage);
        w->FitTo11->trigger();
        QVERIFY(!w->FitToWidth1->isChecked() && !w->FitToPage1->isChecked() && w->FitTo11->isChecked());
        for (TZoomImage* pane : {w->ImmagineOriginale, w->ImmagineCopia}) {
            QCOMPARE(pane->ZoomMode(), zmCustom);
            QCOMPARE(pane->Zoom(), 100.0);
        }
        // Replace Original Image with an empty right pane does nothing.
        w->ReplaceOriginalImage->trigger();
        QVERIFY(w->ImmagineOriginale->ImageHandle() == 0);
        CheckCommandStates(*w, 0);
        QVERIFY(w->Informations.isEmpty() && w->Errors.isEmpty());
    }

    // Every sample, every command its depth enables, each through its dialog at the defaults.
    void everyCommandOnEverySample_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<int>("depth");
        QTest::newRow("bilevel letter") << SamplePath("letter-bilevel.tif") << 1;
        QTest::newRow("gray report") << SamplePath("report-gray.tif") << 8;
        QTest::newRow("color invoice") << SamplePath("invoice-color.tif") << 24;
    }
    void everyCommandOnEverySample() {
        QFETCH(QString, sample);
        QFETCH(int, depth);
        auto w = NewWindow();
        w->NextOpenFile = sample;
        w->Open1->trigger();
        QCOMPARE(w->OpenDialogs, 1);
        QVERIFY2(w->Errors.isEmpty(), qPrintable(w->Errors.join('\n')));
        QCOMPARE(w->ImmagineOriginale->Image()->Depth(), depth);
        QCOMPARE(w->ImmagineOriginale->Page(), 0);
        QCOMPARE(w->ImmagineOriginale->ZoomMode(), zmFitToPage);
        QCOMPARE(w->ImmagineCopia->ZoomMode(), zmFitToPage);
        QVERIFY(w->FitToPage1->isChecked() && !w->FitToWidth1->isChecked() && !w->FitTo11->isChecked());
        CheckCommandStates(*w, depth);
        QVERIFY(w->StatusOriginale->text().contains(QStringLiteral("1240 \u00D7 1754")));

        TDIB& original = w->ImmagineOriginale->Image()->DIB();
        int run = 0;
        for (const TCase& c : Cases()) {
            if (!CommandEnabled(c.Command, depth)) continue;
            ++run;
            w->Informations.clear();
            w->ImmagineCopia->SetZoomMode(zmCustom);  // the hand-over copies the left pane's mode
            TDialogAnswer answer;
            Item(*w, c.Item)->trigger();
            QVERIFY2(w->Errors.isEmpty(), qPrintable(w->Errors.join('\n')));
            QCOMPARE(answer.Answered, *c.DialogCaption != 0);
            if (answer.Answered) QCOMPARE(answer.Caption, QString::fromLatin1(c.DialogCaption));
            TCommandResult expected = c.Expected(original);
            QCOMPARE(w->Informations, QStringList(QString::fromStdString(expected.Message)));
            std::unique_ptr<TDIB> expectedImage = Adopt(expected);
            QVERIFY2(SameImage(w->ImmagineCopia->Image()->DIB(), *expectedImage), c.Item);
            QCOMPARE(w->ImmagineCopia->ZoomMode(), w->ImmagineOriginale->ZoomMode());
            QCOMPARE(w->ImmagineCopia->Zoom(), w->ImmagineCopia->FitPageZoom());
            QVERIFY(w->SaveProcessedImageAs1->isEnabled());
            QVERIFY(QApplication::overrideCursor() == nullptr);
            CheckCommandStates(*w, depth);  // commands do not change the states
        }
        QCOMPARE(run, depth == 1 ? 7 : depth == 8 ? 3 : 4);

        // Open again: the right pane is emptied.
        w->Open1->trigger();
        QVERIFY(w->ImmagineCopia->ImageHandle() == 0);
        QVERIFY(!w->SaveProcessedImageAs1->isEnabled());
    }

    void findImagesAndTextShowsItsMessageBeforeTheHandOver() {
        bool emptyDuringMessage = false;
        // The message box comes while the right pane is still empty.
        class TProbeWindow : public TTestWindow {
        public:
            bool* Seen = nullptr;
            void ShowInformation(const QString& text) override {
                *Seen = ImmagineCopia->ImageHandle() == 0;
                TTestWindow::ShowInformation(text);
            }
        };
        TProbeWindow probe;
        probe.Seen = &emptyDuringMessage;
        probe.show();
        QVERIFY(probe.OpenFile(SamplePath("letter-bilevel.tif")));
        probe.FindImageAndText1->trigger();
        QVERIFY(emptyDuringMessage);
        QVERIFY(probe.ImmagineCopia->ImageHandle() != 0);
        QCOMPARE(probe.Informations,
                 QStringList(QStringLiteral("Text blocks have a single frame, images blocks have a double frame.")));
    }

    void cancelledDialogChangesNothing() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        TDialogAnswer answer({}, false);
        w->Despeckle1->trigger();
        QVERIFY(answer.Answered);
        QVERIFY(w->ImmagineCopia->ImageHandle() == 0);
        QVERIFY(w->Informations.isEmpty() && w->Errors.isEmpty());
    }

    void estimateOnlyLeavesTheRightPane() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        TDialogAnswer answer(
            [](QDialog* d) { Control<QRadioButton>(d, "RadioButtonEstimate")->setChecked(true); });
        w->Deskew1->trigger();
        QVERIFY(w->ImmagineCopia->ImageHandle() == 0);
        TDeskewParams p;
        p.RadioButtonDeskew = false;
        TCommandResult expected = CommandDeskew(w->ImmagineOriginale->Image()->DIB(), p);
        QCOMPARE(w->Informations, QStringList(QString::fromStdString(expected.Message)));
        QVERIFY(w->Informations[0].startsWith(QStringLiteral("Estimated skew angle is: ")));
        QVERIFY(w->Informations[0].endsWith(QStringLiteral("\u00B0")));
    }

    // The locale's decimal separator reaches the deskew command and its message.
    void deskewWithACommaLocale() {
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        auto w = NewWindow();
        QLocale::setDefault(QLocale::c());
        QVERIFY(w->OpenFile(SamplePath("report-gray.tif")));
        TDialogAnswer answer;
        w->Deskew1->trigger();
        QVERIFY2(w->Errors.isEmpty(), qPrintable(w->Errors.join('\n')));
        TDeskewParams p;
        p.EditAccuracy = "0,1";
        TCommandResult expected = CommandDeskew(w->ImmagineOriginale->Image()->DIB(), p, ',');
        QCOMPARE(w->Informations, QStringList(QString::fromStdString(expected.Message)));
        std::unique_ptr<TDIB> expectedImage = Adopt(expected);
        QVERIFY(SameImage(w->ImmagineCopia->Image()->DIB(), *expectedImage));
    }

    void replaceOriginalImageChains() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("invoice-color.tif")));
        CheckCommandStates(*w, 24);
        {
            TDialogAnswer answer;
            w->Thresholding1->trigger();
        }
        QCOMPARE(w->ImmagineCopia->Image()->Depth(), 1);
        w->ReplaceOriginalImage->trigger();
        QVERIFY(w->Errors.isEmpty());
        QVERIFY(SameImage(w->ImmagineOriginale->Image()->DIB(), w->ImmagineCopia->Image()->DIB()));
        QVERIFY(w->ImmagineOriginale->ImageHandle() != w->ImmagineCopia->ImageHandle());
        // Deskew, Despeckle, Repair, Line Removal, Black Border Removal, Remove Dither and Find
        // Images And Text on; Thresholding and Drop Colored Ink off.
        CheckCommandStates(*w, 1);
        QVERIFY(!w->Thresholding1->isEnabled() && !w->DropColoredInk1->isEnabled());
        // The left display is laid out for the new image at once.
        QCOMPARE(w->ImmagineOriginale->Zoom(), w->ImmagineOriginale->FitPageZoom());
        QVERIFY(w->StatusOriginale->text().contains(QStringLiteral("1 bit")));

        // The next command starts from the replaced image.
        std::unique_ptr<TDIB> binarized(w->ImmagineOriginale->Image()->DIB().Duplicate());
        w->Informations.clear();
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        TCommandResult expected = CommandDespeckle(*binarized, {});
        QCOMPARE(w->Informations, QStringList(QString::fromStdString(expected.Message)));
        std::unique_ptr<TDIB> expectedImage = Adopt(expected);
        QVERIFY(SameImage(w->ImmagineCopia->Image()->DIB(), *expectedImage));
        w->ReplaceOriginalImage->trigger();
        QVERIFY(SameImage(w->ImmagineOriginale->Image()->DIB(), *expectedImage));
        CheckCommandStates(*w, 1);
    }

    // A command that fails: the error box shows the exception's message, the right pane keeps
    // its image, the cursor is back.
    void exceptionsReachTheErrorBox() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        HGLOBAL before = w->ImmagineCopia->ImageHandle();
        std::unique_ptr<TDIB> shown(w->ImmagineCopia->Image()->DIB().Duplicate());
        QVERIFY(before != 0);

        // A command run on a depth it refuses (the item forced on).
        std::string refusal;
        try {
            CommandThresholding(w->ImmagineOriginale->Image()->DIB(), {});
        } catch (const std::exception& e) {
            refusal = e.what();
        }
        QVERIFY(!refusal.empty());
        w->Informations.clear();
        w->Thresholding1->setEnabled(true);
        {
            TDialogAnswer answer;
            w->Thresholding1->trigger();
        }
        QCOMPARE(w->Errors, QStringList(QString::fromStdString(refusal)));
        QVERIFY(w->Informations.isEmpty());
        QVERIFY(w->ImmagineCopia->ImageHandle() == before);
        QVERIFY(SameImage(w->ImmagineCopia->Image()->DIB(), *shown));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(!w->Busy());

        // A percentage that is not a number: the conversion error.
        w->Errors.clear();
        {
            TDialogAnswer answer([](QDialog* d) { Control<QLineEdit>(d, "EditPercent")->setText(QStringLiteral("abc")); });
            w->BlackBorderRemoval1->trigger();
        }
        QCOMPARE(w->Errors, QStringList(QStringLiteral("'abc' is not a valid floating point value")));
        QVERIFY(w->ImmagineCopia->ImageHandle() == before);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void openFailureLeavesNoCommandEnabled() {
        QTemporaryDir dir;
        QString bad = dir.filePath(QStringLiteral("not-an-image.tif"));
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("II*\0garbage that is no TIFF", 27);
        }
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        CheckCommandStates(*w, 1);
        QVERIFY(!w->OpenFile(bad));
        QCOMPARE(w->Errors.size(), 1);
        QVERIFY(w->ImmagineOriginale->ImageHandle() == 0);
        CheckCommandStates(*w, 0);
        // A cancelled open dialog changes nothing.
        QVERIFY(w->OpenFile(SamplePath("report-gray.tif")));
        w->NextOpenFile.clear();
        w->Open1->trigger();
        CheckCommandStates(*w, 8);
    }

    void closingAndAboutMessages() {
        const QString nl = QStringLiteral("\n\r");
        QCOMPARE(ClosingMessage(), QStringLiteral("Thanks for evaluating Quorvane Technologies SpA products !") + nl + nl +
                                       QStringLiteral("Please send an e-mail with your comments at ") +
                                       QString::fromLatin1(kMakerEMailAddress) + nl + nl +
                                       QStringLiteral("WE NEED YOUR FEEDBACK !"));
        QVERIFY(QString::fromLatin1(kMakerEMailAddress).contains(QLatin1Char('@')));
        auto w = NewWindow();
        w->About1->trigger();
        QCOMPARE(w->Informations, QStringList(AboutMessage()));
        QVERIFY(AboutMessage().contains(QStringLiteral("Version ") + QString::fromLatin1(kWorkbenchVersion)));
        QVERIFY(AboutMessage().contains(QString::fromLatin1(kMakerWebAddress)));
        QVERIFY(AboutMessage().contains(QStringLiteral("Quorvane Technologies SpA") + nl));
        w->Informations.clear();
        w->Exit1->trigger();
        QCOMPARE(w->Informations, QStringList(ClosingMessage()));
        QVERIFY(!w->isVisible());

        // The window's close box: the same message, once.
        auto boxed = NewWindow();
        QVERIFY(boxed->windowHandle()->close());
        QCOMPARE(boxed->Informations, QStringList(ClosingMessage()));
        QVERIFY(!boxed->isVisible());
        boxed->close();
        QCOMPARE(boxed->Informations.size(), 1);
    }

    void savesTheProcessedImage() {
        QTemporaryDir dir;
        QString originalPath = dir.filePath(QStringLiteral("letter.tif"));
        QVERIFY(QFile::copy(SamplePath("letter-bilevel.tif"), originalPath));
        auto w = NewWindow();
        QVERIFY(w->OpenFile(originalPath));
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        TDIB& shown = w->ImmagineCopia->Image()->DIB();

        struct TOut {
            const char* Name;
            TTiffCompression Compression;
            bool Lossless;
        };
        for (const TOut& out : {TOut{"out-g4.tif", tcGroup4, true}, TOut{"out-lzw.tiff", tcLzw, true},
                                TOut{"out.bmp", tcAuto, true}, TOut{"out.png", tcAuto, true},
                                TOut{"out.jpg", tcAuto, false}}) {
            w->NextSaveFile = dir.filePath(QString::fromLatin1(out.Name));
            w->SaveCompression = out.Compression;
            w->SaveProcessedImageAs1->trigger();
            QVERIFY2(w->Errors.isEmpty(), qPrintable(w->Errors.join('\n')));
            TDIB back;
            back.LoadFromFile(QFile::encodeName(w->NextSaveFile).toStdString(), 0);
            if (out.Lossless) {
                QVERIFY2(SameImage(back, shown), out.Name);
            } else {
                QCOMPARE(back.Width(), shown.Width());
                QCOMPARE(back.BitCount(), 8);
            }
        }
        QVERIFY(w->Questions.isEmpty());

        // Over an existing file, and over the original: asked first, kept on No.
        QFile f(originalPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray originalBytes = f.readAll();
        f.close();
        w->NextSaveFile = originalPath;
        w->ConfirmAnswer = false;
        w->SaveProcessedImageAs1->trigger();
        QCOMPARE(w->Questions.size(), 1);
        QVERIFY(w->Questions[0].contains(QStringLiteral("original")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), originalBytes);
        f.close();
        w->NextSaveFile = dir.filePath(QStringLiteral("out.png"));
        w->SaveProcessedImageAs1->trigger();
        QCOMPARE(w->Questions.size(), 2);
        QVERIFY(w->Questions[1].contains(QStringLiteral("already exists")));
        w->ConfirmAnswer = true;
        w->NextSaveFile = originalPath;
        w->SaveProcessedImageAs1->trigger();
        TDIB back;
        back.LoadFromFile(QFile::encodeName(originalPath).toStdString(), 0);
        QVERIFY(SameImage(back, shown));

        // An unknown extension is refused.
        w->NextSaveFile = dir.filePath(QStringLiteral("out.xyz"));
        w->SaveProcessedImageAs1->trigger();
        QCOMPARE(w->Errors.size(), 1);
        QVERIFY(!QFile::exists(w->NextSaveFile));
    }

    void ctrlWheelZoomsBothPanes() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        double left = w->ImmagineOriginale->Zoom();
        double right = w->ImmagineCopia->Zoom();
        QWheelEvent wheel(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(w->ImmagineCopia->viewport(), &wheel);
        QCOMPARE(w->ImmagineOriginale->Zoom(), left * 1.25);
        QCOMPARE(w->ImmagineCopia->Zoom(), right * 1.25);
        QCOMPARE(w->ImmagineOriginale->ZoomMode(), zmCustom);
        QVERIFY(!w->FitToPage1->isChecked());
        QVERIFY(w->StatusProcessata->text().contains(QString::number(right * 1.25, 'f', 1)));
    }

    void dropOpensTheFile() {
        auto w = NewWindow();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(SamplePath("invoice-color.tif"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &drop);
        QTRY_VERIFY(w->ImmagineOriginale->ImageHandle() != 0);
        CheckCommandStates(*w, 24);
    }

    void showAnnotationsItem() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        QVERIFY(!w->AnnotationsShown());
        w->ShowAnnotations1->trigger();
        QVERIFY(w->ShowAnnotations1->isChecked());
        QVERIFY(w->AnnotationsShown());
        w->ShowAnnotations1->trigger();
        QVERIFY(!w->AnnotationsShown());

        // A mark of the page is shown with the item, and goes when the page is replaced.
        TAnnotationsEditor* editor = w->ImmagineOriginale->AnnotationsEditor();
        TGenericMark* mark = editor->AddRectangle();
        QVERIFY(!mark->Visible());
        w->ShowAnnotations1->trigger();
        QVERIFY(mark->Visible());
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        QCOMPARE(editor->MarkCount(), 1);
        w->ReplaceOriginalImage->trigger();
        QCOMPARE(editor->MarkCount(), 0);
    }

    // The boxes themselves: an information box with one OK button, the lines plainly broken.
    void realMessageBoxes() {
        TFinestraPrincipale w;
        QString shownText;
        QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
        int buttons = 0;
        auto read = [&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            QVERIFY(box);
            shownText = box->text();
            shownIcon = box->icon();
            buttons = static_cast<int>(box->buttons().size());
        };
        {
            TDialogAnswer answer(read);
            w.About1->trigger();
            QVERIFY(answer.Answered);
        }
        QCOMPARE(shownText, QString(AboutMessage()).replace(QStringLiteral("\n\r"), QStringLiteral("\n")));
        QCOMPARE(shownIcon, QMessageBox::Information);
        QCOMPARE(buttons, 1);
        {
            TDialogAnswer answer(read);
            w.ShowError(QStringLiteral("This operation requires 1 bit per pixel bitmap !"));
        }
        QCOMPARE(shownText, QStringLiteral("This operation requires 1 bit per pixel bitmap !"));
        QCOMPARE(shownIcon, QMessageBox::Critical);
    }

    void realOpenDialog() {
        auto w = NewWindow();
        w->RealOpenDialog = true;
        QStringList filters;
        TDialogAnswer answer([&](QDialog* d) {
            auto* dialog = qobject_cast<QFileDialog*>(d);
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QStringLiteral("OpenDialog"));
            filters = dialog->nameFilters();
            QCOMPARE(dialog->selectedNameFilter(), filters.value(0));
            dialog->selectFile(SamplePath("report-gray.tif"));
        });
        w->Open1->trigger();
        QCOMPARE(answer.Caption, QStringLiteral("Open File"));
        QCOMPARE(filters.join(QStringLiteral(";;")), QtFileFilter(QString::fromLatin1(kOpenDialogFilter)));
        QVERIFY2(w->Errors.isEmpty(), qPrintable(w->Errors.join('\n')));
        QCOMPARE(w->ImmagineOriginale->Image()->Depth(), 8);
    }

    void saveOptionsDialog() {
        auto w = NewWindow();
        TTiffCompression compression = tcAuto;
        int32_t quality = 80;
        {
            QStringList items;
            TDialogAnswer answer([&](QDialog* d) {
                auto* combo = Control<QComboBox>(d, "ComboBoxCompression");
                for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
                combo->setCurrentIndex(combo->findText(QStringLiteral("LZW")));
            });
            QVERIFY(w->AskSaveOptions(QStringLiteral("/tmp/a.TIF"), 1, compression, quality));
            QCOMPARE(answer.Caption, QStringLiteral("TIFF Options"));
            QCOMPARE(items.value(0), QStringLiteral("CCITT Group 4"));
            QCOMPARE(compression, tcLzw);
        }
        {
            TDialogAnswer answer([](QDialog* d) { Control<QSpinBox>(d, "SpinEditQuality")->setValue(95); });
            QVERIFY(w->AskSaveOptions(QStringLiteral("/tmp/a.jpeg"), 24, compression, quality));
            QCOMPARE(quality, 95);
        }
        {
            TDialogAnswer answer({}, false);
            QVERIFY(!w->AskSaveOptions(QStringLiteral("/tmp/a.tiff"), 8, compression, quality));
        }
        QVERIFY(w->AskSaveOptions(QStringLiteral("/tmp/a.png"), 8, compression, quality));  // no options
    }

    // Every compression offered for a depth writes a page that reads back the same (JPEG: the
    // same size and depth).
    void everyOfferedCompressionRoundTrips() {
        QTemporaryDir dir;
        for (uint8_t format : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit}) {
            TDIB page;
            page.CreateNew(67, 41, format, 300, 300);
            if (format == fmt4Bit)  // the gray ramp a 4-bit gray file reads as
                for (int32_t i = 0; i < 16; ++i) page.SetPaletteEntry(i, static_cast<uint32_t>(i) * 0x111111u);
            for (int32_t y = 0; y < page.Height(); ++y)
                for (int32_t x = 0; x < page.Width(); ++x)
                    page.SetPixel(x, y, format == fmt24Bit ? (x * 3 + y * 5) * 0x010203 & 0xFFFFFF
                                                           : (x + y) % (format == fmt1Bit ? 2 : 16));
            for (const TCompressionChoice& c : CompressionChoices(page.BitCount())) {
                std::string path = QFile::encodeName(dir.filePath(QStringLiteral("page.tif"))).toStdString();
                page.SaveToTiffFile(path, false, c.Compression, 16);
                TDIB back;
                back.LoadFromFile(path, 0);
                QCOMPARE(back.Width(), page.Width());
                if (c.Compression == tcJpeg)
                    QVERIFY2(back.BitCount() == page.BitCount(), c.Caption);
                else
                    QVERIFY2(SameImage(back, page), c.Caption);
            }
        }
    }

    // The window keeps handling events while the worker runs, and gets the worker's exception.
    void backgroundWorkKeepsTheWindowAlive() {
        auto w = NewWindow();
        std::atomic<bool> released{false};
        QTimer::singleShot(5, [&] {
            QVERIFY(w->Busy());
            released = true;
        });
        w->RunInBackground([&] {
            while (!released) std::this_thread::yield();
        });
        QVERIFY(released);
        QVERIFY(!w->Busy());
        bool caught = false;
        try {
            w->RunInBackground([] { throw qil::Exception("DIB Duplicate error !"); });
        } catch (const qil::Exception& e) {
            caught = std::string(e.what()) == "DIB Duplicate error !";
        }
        QVERIFY(caught);
        // A close request while busy is held back, and carried out when the command is done.
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        std::atomic<bool> closeAsked{false};
        QTimer::singleShot(5, [&] {
            w->close();
            closeAsked = true;
        });
        w->RunInBackground([&] {
            while (!closeAsked) std::this_thread::yield();
        });
        QVERIFY(w->isVisible());
        QVERIFY(w->Informations.isEmpty());
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        QVERIFY(!w->isVisible());
        QCOMPARE(w->Informations.size(), 2);  // the command's message, then the closing message
        QCOMPARE(w->Informations[1], ClosingMessage());
    }

    // In 1:1 the replaced image gets a display of its own size at once.
    void replaceResizesTheLeftDisplay() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        w->FitTo11->trigger();
        {
            TDialogAnswer answer;
            w->BlackBorderRemoval1->trigger();  // crops the letter's dark border
        }
        TMemoryImage& result = *w->ImmagineCopia->Image();
        QVERIFY(result.HorzSize() < 1240);
        w->ReplaceOriginalImage->trigger();
        QCOMPARE(w->ImmagineOriginale->Zoom(), 100.0);
        QCOMPARE(w->ImmagineOriginale->DisplayPanel()->width(), result.HorzSize());
        QCOMPARE(w->ImmagineOriginale->DisplayPanel()->height(), result.GetVertSizeCorrected());
    }

    // A result of the same size and zoom as the one it replaces is still painted.
    void handOverRepaintsTheRightPane() {
        auto w = NewWindow();
        QVERIFY(w->OpenFile(SamplePath("letter-bilevel.tif")));
        int paints = 0;
        w->ImmagineCopia->OnPaint = [&paints](QObject*) { ++paints; };
        {
            TDialogAnswer answer;
            w->Despeckle1->trigger();
        }
        QTRY_VERIFY(paints > 0);
        paints = 0;
        {
            TDialogAnswer answer;
            w->Repair1->trigger();
        }
        QTRY_VERIFY(paints > 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
