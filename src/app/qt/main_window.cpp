#include "app/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <qdrawutil.h>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <exception>
#include <memory>
#include <thread>

#include "annotations/qt/annotations_editor.h"
#include "app/qt/dialogs.h"
#include "platform/exceptions.h"

// The window's resources (the icon) live in this static library; they are registered before
// the first window is built. Q_INIT_RESOURCE may not stand inside a namespace.
static void InitWorkbenchResources() { Q_INIT_RESOURCE(workbench); }

namespace qil::app {

const char* const kMainWindowCaption = "Quorvane Technologies SpA - Image Processing Demo";
const char* const kStatusHint =
    "Open an image using \"File\" menu and use \"Process\" commands to see results...";
const char* const kOpenDialogTitle = "Open File";
const char* const kOpenDialogFilter =
    "Graphics files|*.tif;*.bmp;*.jpg|Bitmap Images|*.bmp|Tiff Images|*.tif|JPEG Images|*.jpg"
    "|PNG Images|*.png|All files|*";
const char* const kMakerWebAddress = "https://www.quorvane.example";
const char* const kMakerEMailAddress = "feedback@quorvane.example";
#ifdef QIL_VERSION_TEXT
const char* const kWorkbenchVersion = QIL_VERSION_TEXT;
#else
const char* const kWorkbenchVersion = "0.1.0";
#endif

namespace {

// Line feed then carriage return: the line separator of the window's messages.
const QString kLine = QStringLiteral("\n\r");

// Shows the busy cursor for its lifetime.
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Sets a flag for its lifetime.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

// Shows a parameter dialog modally with the command's presets; on OK copies its values into
// Params and the decimal separator its text fields were written with into Separator.
template <class Dialog, class Params>
bool AskParams(QWidget* parent, const QLocale& locale, Params& params, char& separator) {
    Dialog dialog(parent, locale);
    dialog.Preset();
    if (dialog.exec() != QDialog::Accepted) return false;
    params = dialog.Params();
    separator = dialog.DecimalSeparator();
    return true;
}

QString PaneStatus(const char* name, TZoomImage* pane) {
    QString text = QString::fromLatin1(name) + QStringLiteral(": ");
    TMemoryImage& image = *pane->Image();
    if (!image.IsValid()) return text + QStringLiteral("empty");
    text += QString::number(image.HorzSize()) + QStringLiteral(" \u00D7 ") + QString::number(image.VertSize());
    text += QStringLiteral(", ") + QString::number(image.Depth()) +
            (image.Depth() == 1 ? QStringLiteral(" bit") : QStringLiteral(" bits"));
    if (image.HorzResolution() == image.VertResolution())
        text += QStringLiteral(", ") + QString::number(image.HorzResolution()) + QStringLiteral(" dpi");
    else
        text += QStringLiteral(", ") + QString::number(image.HorzResolution()) + QStringLiteral(" \u00D7 ") +
                QString::number(image.VertResolution()) + QStringLiteral(" dpi");
    text += QStringLiteral(", ") + QString::number(pane->Zoom(), 'f', 1) + QStringLiteral(" %");
    return text;
}

// A splitter whose handle is drawn as a raised (beveled) bar.
class TBeveledHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        qDrawShadePanel(&painter, rect(), palette(), false, 1, &palette().brush(QPalette::Button));
    }
};

class TBeveledSplitter : public QSplitter {
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle* createHandle() override { return new TBeveledHandle(orientation(), this); }
};

std::string LocalPath(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

}  // namespace

QString ClosingMessage() {
    return QStringLiteral("Thanks for evaluating Quorvane Technologies SpA products !") + kLine + kLine +
           QStringLiteral("Please send an e-mail with your comments at ") + QString::fromLatin1(kMakerEMailAddress) +
           kLine + kLine + QStringLiteral("WE NEED YOUR FEEDBACK !");
}

QString AboutMessage() {
    return QStringLiteral("Quorvane Image Processing Demo") + kLine + QStringLiteral("Version ") +
           QString::fromLatin1(kWorkbenchVersion) + kLine + kLine + QStringLiteral("Quorvane Technologies SpA") + kLine +
           QStringLiteral("Via dei Tessitori 14, 20121 Milano, Italy") + kLine + QString::fromLatin1(kMakerWebAddress) +
           kLine + QString::fromLatin1(kMakerEMailAddress);
}

QString QtFileFilter(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return entries.join(QStringLiteral(";;"));
}

std::vector<TCompressionChoice> CompressionChoices(int32_t depth) {
    std::vector<TCompressionChoice> choices;
    switch (depth) {
        case 1:
            choices = {{tcGroup4, "CCITT Group 4"}, {tcGroup3, "CCITT Group 3"}, {tcGroup3TwoD, "CCITT Group 3 (2-D)"},
                       {tcPackBits, "PackBits"},    {tcLzw, "LZW"},             {tcDeflate, "Deflate"},
                       {tcNone, "None"}};
            break;
        case 4:
            choices = {{tcPackBits, "PackBits"}, {tcLzw, "LZW"}, {tcDeflate, "Deflate"}, {tcNone, "None"}};
            break;
        default:
            choices = {{tcJpeg, "JPEG"}, {tcLzw, "LZW"}, {tcDeflate, "Deflate"}, {tcPackBits, "PackBits"}, {tcNone, "None"}};
            break;
    }
    return choices;
}

TFinestraPrincipale::TFinestraPrincipale(QWidget* parent) : QMainWindow(parent) {
    InitWorkbenchResources();
    setObjectName(QStringLiteral("FinestraPrincipale"));
    setWindowTitle(QString::fromLatin1(kMainWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/app/workbench.png")));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setAcceptDrops(true);

    CreateMenus();

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(29);
    ToolBar1->setMovable(false);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    CreatePanes();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(false);
    StatusHint = new QLabel(QString::fromLatin1(kStatusHint), StatusBar1);
    StatusHint->setObjectName(QStringLiteral("StatusHint"));
    StatusHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // never widens the window
    StatusBar1->addWidget(StatusHint, 1);
    StatusOriginale = new QLabel(StatusBar1);
    StatusOriginale->setObjectName(QStringLiteral("StatusOriginale"));
    StatusBar1->addPermanentWidget(StatusOriginale);
    StatusProcessata = new QLabel(StatusBar1);
    StatusProcessata->setObjectName(QStringLiteral("StatusProcessata"));
    StatusBar1->addPermanentWidget(StatusProcessata);
    setStatusBar(StatusBar1);

    setGeometry(192, 171, 696, 480);
    setWindowState(Qt::WindowMaximized);
    ApplyCommandState();
    UpdateStatus();
}

TFinestraPrincipale::~TFinestraPrincipale() = default;

void TFinestraPrincipale::CreateMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QMenu* menu, const char* name, const char* caption, void (TFinestraPrincipale::*handler)()) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    auto separator = [](QMenu* menu, const char* name) {
        QAction* action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    Open1 = item(File1, "Open1", "&Open...", &TFinestraPrincipale::Open1Click);
    Open1->setShortcut(QKeySequence::Open);
    N1 = separator(File1, "N1");
    Exit1 = item(File1, "Exit1", "&Exit", &TFinestraPrincipale::Exit1Click);
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    separator(File1, "N4");
    SaveProcessedImageAs1 =
        item(File1, "SaveProcessedImageAs1", "&Save Processed Image As...", &TFinestraPrincipale::SaveProcessedImageAs1Click);
    SaveProcessedImageAs1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));

    View1 = MainMenu1->addMenu(QStringLiteral("&View"));
    View1->setObjectName(QStringLiteral("View1"));
    FitToWidth1 = item(View1, "FitToWidth1", "Fit To &Width", &TFinestraPrincipale::FitToWidth1Click);
    FitToPage1 = item(View1, "FitToPage1", "Fit To &Page", &TFinestraPrincipale::FitToPage1Click);
    FitTo11 = item(View1, "FitTo11", "&No scale (1:1)", &TFinestraPrincipale::FitTo11Click);
    for (QAction* a : {FitToWidth1, FitToPage1, FitTo11}) a->setCheckable(true);
    separator(View1, "N5");
    ShowAnnotations1 = item(View1, "ShowAnnotations1", "Show &Annotations", &TFinestraPrincipale::ShowAnnotations1Click);
    ShowAnnotations1->setCheckable(true);

    MenuProcess = MainMenu1->addMenu(QStringLiteral("&Process"));
    MenuProcess->setObjectName(QStringLiteral("MenuProcess"));
    Deskew1 = item(MenuProcess, "Deskew1", "&Deskew...", &TFinestraPrincipale::Deskew1Click);
    Despeckle1 = item(MenuProcess, "Despeckle1", "Despec&kle...", &TFinestraPrincipale::Despeckle1Click);
    Repair1 = item(MenuProcess, "Repair1", "Repair...", &TFinestraPrincipale::Repair1Click);
    LineRemoval1 = item(MenuProcess, "LineRemoval1", "&Line Removal...", &TFinestraPrincipale::LineRemoval1Click);
    Thresholding1 = item(MenuProcess, "Thresholding1", "&Thresholding...", &TFinestraPrincipale::Thresholding1Click);
    BlackBorderRemoval1 = item(MenuProcess, "BlackBorderRemoval1", "Black Border Removal...",
                               &TFinestraPrincipale::BlackBorderRemoval1Click);
    RemoveDither1 =
        item(MenuProcess, "RemoveDither1", "Remove Dither (Alfa Version)", &TFinestraPrincipale::RemoveDither1Click);
    DropColoredInk1 = item(MenuProcess, "DropColoredInk1", "Drop Colored Ink", &TFinestraPrincipale::DropColoredInk1Click);
    FindImageAndText1 =
        item(MenuProcess, "FindImageAndText1", "Find Images And Text", &TFinestraPrincipale::FindImageAndText1Click);
    N2 = separator(MenuProcess, "N2");
    ReplaceOriginalImage = item(MenuProcess, "ReplaceOriginalImage", "&Replace Original Image",
                                &TFinestraPrincipale::ReplaceOriginalImageClick);

    N3 = MainMenu1->addMenu(QStringLiteral("?"));
    N3->setObjectName(QStringLiteral("N3"));
    About1 = item(N3, "About1", "About...", &TFinestraPrincipale::About1Click);
}

void TFinestraPrincipale::CreatePanes() {
    Splitter = new TBeveledSplitter(Qt::Horizontal, this);
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setHandleWidth(5);
    Splitter->setChildrenCollapsible(false);
    Splitter->setOpaqueResize(true);

    auto pane = [this](const char* panelName, const char* viewerName, TZoomImage*& viewer) {
        auto* panel = new QFrame(Splitter);
        panel->setObjectName(QString::fromLatin1(panelName));
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(0, 0, 0, 0);
        viewer = new TZoomImage(panel);
        viewer->setObjectName(QString::fromLatin1(viewerName));
        viewer->Centered = true;
        viewer->SetAntialiasingThreshold(50);
        viewer->SetAntialiasing(aaScaleToGray);
        viewer->SetZoom(100);
        viewer->SetZoomMode(zmCustom);
        viewer->viewport()->installEventFilter(this);
        viewer->installEventFilter(this);
        layout->addWidget(viewer);
        Splitter->addWidget(panel);
        return panel;
    };
    PanelOriginale = pane("PanelOriginale", "ImmagineOriginale", ImmagineOriginale);
    PanelProcessata = pane("PanelProcessata", "ImmagineCopia", ImmagineCopia);
    Splitter->setSizes({337, 696 - 5 - 337});  // until the window is shown
    Splitter->setStretchFactor(0, 0);
    Splitter->setStretchFactor(1, 1);
    Splitter->handle(1)->setCursor(Qt::SplitHCursor);
    Splitter->installEventFilter(this);
    setCentralWidget(Splitter);

    auto onScale = [this](QObject*) { UpdateStatus(); };
    ImmagineOriginale->OnScale = onScale;
    ImmagineCopia->OnScale = onScale;
}

// ---- Layout ----

void TFinestraPrincipale::FormShow() {
    int clientWidth = Splitter->width();
    int left = (clientWidth - Splitter->handleWidth()) / 2;
    int right = clientWidth - Splitter->handleWidth() - left;
    if (left < 0 || right < 0) return;
    Splitter->setSizes({left, right});
}

void TFinestraPrincipale::FormResize() { FormShow(); }

bool TFinestraPrincipale::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Splitter) {
        if (event->type() == QEvent::Show) FormShow();
        if (event->type() == QEvent::Resize) FormResize();
        return false;
    }
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if ((wheel->modifiers() & Qt::ControlModifier) && wheel->angleDelta().y() != 0) {
            if (!FBusy) ZoomBoth(wheel->angleDelta().y() > 0 ? 1.25 : 0.8);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFinestraPrincipale::ZoomBoth(double factor) {
    for (TZoomImage* pane : {ImmagineOriginale, ImmagineCopia}) {
        double zoom = pane->Zoom() * factor;
        pane->SetZoomMode(zmCustom);
        pane->SetZoom(zoom);
    }
    CheckViewItem(nullptr);
    UpdateStatus();
}

// ---- Messages ----

void TFinestraPrincipale::ShowInformation(const QString& text) {
    QString shown = text;
    shown.replace(kLine, QStringLiteral("\n"));
    QMessageBox::information(this, QStringLiteral("Information"), shown, QMessageBox::Ok);
}

void TFinestraPrincipale::ShowError(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox::critical(this, QStringLiteral("Error"), shown, QMessageBox::Ok);
}

bool TFinestraPrincipale::AskConfirmation(const QString& text) {
    return QMessageBox::question(this, QStringLiteral("Confirm"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString TFinestraPrincipale::AskOpenFileName() {
    QFileDialog dialog(this, QString::fromLatin1(kOpenDialogTitle));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList filters = QtFileFilter(QString::fromLatin1(kOpenDialogFilter)).split(QStringLiteral(";;"));
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString TFinestraPrincipale::AskSaveFileName(int32_t depth, TTiffCompression& compression, int32_t& jpegQuality) {
    static const QString tiff = QStringLiteral("TIFF Images (*.tif *.tiff)");
    static const QString bmp = QStringLiteral("Bitmap Images (*.bmp)");
    static const QString jpeg = QStringLiteral("JPEG Images (*.jpg *.jpeg)");
    static const QString png = QStringLiteral("PNG Images (*.png)");
    QFileDialog dialog(this, QStringLiteral("Save Processed Image As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);  // the window asks itself
    dialog.setNameFilters({tiff, bmp, jpeg, png});
    dialog.setDefaultSuffix(QStringLiteral("tif"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        if (f == tiff) dialog.setDefaultSuffix(QStringLiteral("tif"));
        if (f == bmp) dialog.setDefaultSuffix(QStringLiteral("bmp"));
        if (f == jpeg) dialog.setDefaultSuffix(QStringLiteral("jpg"));
        if (f == png) dialog.setDefaultSuffix(QStringLiteral("png"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    QString fileName = dialog.selectedFiles().first();
    if (!AskSaveOptions(fileName, depth, compression, jpegQuality)) return {};
    return fileName;
}

bool TFinestraPrincipale::AskSaveOptions(const QString& fileName, int32_t depth, TTiffCompression& compression,
                                         int32_t& jpegQuality) {
    QString suffix = QFileInfo(fileName).suffix().toLower();
    bool isTiff = suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
    bool isJpeg = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
    if (!isTiff && !isJpeg) return true;
    QDialog options(this);
    options.setObjectName(QStringLiteral("SaveOptions"));
    options.setWindowTitle(isTiff ? QStringLiteral("TIFF Options") : QStringLiteral("JPEG Options"));
    auto* form = new QFormLayout(&options);
    auto* combo = new QComboBox(&options);
    combo->setObjectName(QStringLiteral("ComboBoxCompression"));
    auto* quality = new QSpinBox(&options);
    quality->setObjectName(QStringLiteral("SpinEditQuality"));
    std::vector<TCompressionChoice> choices = CompressionChoices(depth);
    if (isTiff) {
        for (const TCompressionChoice& c : choices) combo->addItem(QString::fromLatin1(c.Caption));
        form->addRow(QStringLiteral("Compression"), combo);
        quality->hide();
    } else {
        quality->setRange(1, 100);
        quality->setValue(jpegQuality);
        form->addRow(QStringLiteral("Quality"), quality);
        combo->hide();
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &options);
    connect(buttons, &QDialogButtonBox::accepted, &options, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &options, &QDialog::reject);
    form->addRow(buttons);
    if (options.exec() != QDialog::Accepted) return false;
    if (isTiff)
        compression = choices[static_cast<size_t>(std::max(0, combo->currentIndex()))].Compression;
    else
        jpegQuality = quality->value();
    return true;
}

// ---- Window events ----

void TFinestraPrincipale::closeEvent(QCloseEvent* event) {
    if (FBusy) {  // a command is running; the window closes once it is done
        FCloseWhenIdle = true;
        event->ignore();
        return;
    }
    if (!FClosing) {
        FClosing = true;
        FormClose();
    }
    event->accept();
}

void TFinestraPrincipale::FormClose() { ShowInformation(ClosingMessage()); }

void TFinestraPrincipale::dragEnterEvent(QDragEnterEvent* event) {
    if (!FBusy && event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    }
}

void TFinestraPrincipale::dropEvent(QDropEvent* event) {
    if (FBusy) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            // Open after the drop has finished, so the drag source is not kept waiting.
            QString file = url.toLocalFile();
            QMetaObject::invokeMethod(this, [this, file] { OpenFile(file); }, Qt::QueuedConnection);
            return;
        }
}

// ---- File ----

void TFinestraPrincipale::Open1Click() {
    QString fileName = AskOpenFileName();
    if (fileName.isEmpty()) return;
    OpenFile(fileName);
}

bool TFinestraPrincipale::OpenFile(const QString& fileName) {
    if (FBusy) return false;
    try {
        try {
            TBusyCursor busy;
            ImmagineOriginale->LoadFromFile(LocalPath(fileName), zmFitToPage, 0);
        } catch (...) {
            // The left pane is now empty: show it so, and keep its commands disabled.
            ImmagineOriginale->SetImageHandle(0);
            ClearAnnotations();
            ApplyCommandState();
            UpdateStatus();
            throw;
        }
        ImmagineOriginale->SetZoomMode(zmFitToPage);
        ImmagineCopia->SetImageHandle(0);
        ImmagineCopia->SetZoomMode(zmFitToPage);
        CheckViewItem(FitToPage1);
        if (ShowAnnotations1->isChecked()) SetAnnotationsShown(true);
        ApplyCommandState();
        UpdateStatus();
        return true;
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
    return false;
}

void TFinestraPrincipale::Exit1Click() { close(); }

void TFinestraPrincipale::SaveProcessedImageAs1Click() {
    if (FBusy || !ImmagineCopia->Image()->IsValid()) return;
    TTiffCompression compression = tcAuto;
    int32_t quality = 80;
    QString fileName = AskSaveFileName(ImmagineCopia->Image()->Depth(), compression, quality);
    if (fileName.isEmpty()) return;
    QFileInfo target(fileName);
    if (target.exists()) {
        QString original = QString::fromStdString(ImmagineOriginale->Image()->FileName());
        bool isOriginal = !original.isEmpty() && QFileInfo(original).exists() &&
                          QFileInfo(original).canonicalFilePath() == target.canonicalFilePath();
        QString question =
            isOriginal ? QStringLiteral("%1 is the original image shown on the left.\nReplace it with the processed image?")
                       : QStringLiteral("%1 already exists.\nReplace it?");
        if (!AskConfirmation(question.arg(target.fileName()))) return;
    }
    try {
        SaveProcessedImage(fileName, compression, quality);
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
    CloseIfRequested();
}

void TFinestraPrincipale::SaveProcessedImage(const QString& fileName, TTiffCompression compression,
                                             int32_t jpegQuality) {
    if (!ImmagineCopia->Image()->IsValid()) throw Exception("There is no processed image to save");
    QString suffix = QFileInfo(fileName).suffix().toLower();
    std::string path = LocalPath(fileName);
    std::unique_ptr<TDIB> copy(ImmagineCopia->Image()->DIB().Duplicate());
    std::function<void()> write;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) {
        write = [&] { copy->SaveToTiffFile(path, false, compression, 16); };
    } else if (suffix == QLatin1String("bmp")) {
        write = [&] { copy->SaveToBitmapFile(path); };
    } else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        write = [&] {
            if (copy->BitCount() < 8) copy->ConvertToFormat(fmt8Bit);  // JPEG holds 8 or 24 bits
            copy->SaveToJpegFile(path, false, static_cast<uint8_t>(jpegQuality));
        };
    } else if (suffix == QLatin1String("png")) {
        write = [&] { copy->SaveToPngFile(path); };
    } else {
        std::string message = "Unknown image file type \"";
        message += suffix.toStdString();
        message += "\": use .tif, .bmp, .jpg or .png";
        throw Exception(message);
    }
    TBusyCursor busy;
    RunInBackground(write);
}

// ---- View ----

void TFinestraPrincipale::CheckViewItem(QAction* item) {
    for (QAction* a : {FitToWidth1, FitToPage1, FitTo11}) a->setChecked(a == item);
}

void TFinestraPrincipale::SetBothZoomModes(TZoomMode mode) {
    ImmagineOriginale->SetZoomMode(mode);
    ImmagineCopia->SetZoomMode(mode);
}

void TFinestraPrincipale::FitToWidth1Click() {
    SetBothZoomModes(zmFitToWidth);
    CheckViewItem(FitToWidth1);
    UpdateStatus();
}

void TFinestraPrincipale::FitToPage1Click() {
    SetBothZoomModes(zmFitToPage);
    CheckViewItem(FitToPage1);
    UpdateStatus();
}

void TFinestraPrincipale::FitTo11Click() {
    for (TZoomImage* pane : {ImmagineOriginale, ImmagineCopia}) {
        pane->SetZoomMode(zmCustom);
        pane->SetZoom(100);
    }
    CheckViewItem(FitTo11);
    UpdateStatus();
}

void TFinestraPrincipale::ShowAnnotations1Click() { SetAnnotationsShown(ShowAnnotations1->isChecked()); }

void TFinestraPrincipale::SetAnnotationsShown(bool shown) {
    if (TAnnotationsEditor* editor = ImmagineOriginale->AnnotationsEditor()) editor->SetVisible(shown);
}

void TFinestraPrincipale::ClearAnnotations() {
    if (TAnnotationsEditor* editor = ImmagineOriginale->AnnotationsEditor()) editor->Clear();
}

bool TFinestraPrincipale::AnnotationsShown() const {
    TAnnotationsEditor* editor = ImmagineOriginale->AnnotationsEditor();
    return editor && editor->Visible();
}

// ---- Process ----

void TFinestraPrincipale::RunInBackground(const std::function<void()>& work) {
    TFlagGuard busy(FBusy);
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

void TFinestraPrincipale::RunProcess(const std::function<TCommandResult(TDIB& original)>& command,
                                     bool messageBeforeHandOver) {
    if (FBusy || !ImmagineOriginale->Image()->IsValid()) return;
    try {
        TCommandResult result;
        {
            TBusyCursor busy;
            // The worker gets its own copy of the original, so the left pane may paint meanwhile.
            std::unique_ptr<TDIB> original(ImmagineOriginale->Image()->DIB().Duplicate());
            RunInBackground([&] { result = command(*original); });
        }
        QString message = QString::fromStdString(result.Message);
        if (messageBeforeHandOver) {
            ShowInformation(message);
            HandOver(result);
        } else {
            HandOver(result);
            ShowInformation(message);
        }
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
    CloseIfRequested();
}

void TFinestraPrincipale::CloseIfRequested() {
    if (!FCloseWhenIdle) return;
    FCloseWhenIdle = false;
    close();
}

void TFinestraPrincipale::HandOver(TCommandResult& result) {
    if (result.Block == 0) return;  // nothing to show (estimate only)
    ImmagineCopia->SetImageHandle(result.ReleaseBlock());
    ImmagineCopia->SetZoomMode(ImmagineOriginale->ZoomMode());
    ImmagineCopia->RefreshDisplay(true);  // also when size and zoom stay the same
    UpdateStatus();
}

void TFinestraPrincipale::Deskew1Click() {
    TDeskewParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoDeskew>(this, FLocale, p, separator)) return;
    RunProcess([p, separator](TDIB& original) { return CommandDeskew(original, p, separator); });
}

void TFinestraPrincipale::Despeckle1Click() {
    TDespeckleParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoDespeckle>(this, FLocale, p, separator)) return;
    RunProcess([p](TDIB& original) { return CommandDespeckle(original, p); });
}

void TFinestraPrincipale::Repair1Click() {
    TRepairParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoRepair>(this, FLocale, p, separator)) return;
    RunProcess([p](TDIB& original) { return CommandRepair(original, p); });
}

void TFinestraPrincipale::LineRemoval1Click() {
    TLinesRemovalParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoLinesRemoval>(this, FLocale, p, separator)) return;
    RunProcess([p, separator](TDIB& original) { return CommandLineRemoval(original, p, separator); });
}

void TFinestraPrincipale::Thresholding1Click() {
    TThresholdParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoThreshold>(this, FLocale, p, separator)) return;
    RunProcess([p](TDIB& original) { return CommandThresholding(original, p); });
}

void TFinestraPrincipale::BlackBorderRemoval1Click() {
    TBlackBorderParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoBlackBorderRemoval>(this, FLocale, p, separator)) return;
    RunProcess([p, separator](TDIB& original) { return CommandBlackBorderRemoval(original, p, separator); });
}

void TFinestraPrincipale::RemoveDither1Click() {
    RunProcess([](TDIB& original) { return CommandRemoveDither(original); });
}

void TFinestraPrincipale::DropColoredInk1Click() {
    TDropInkParams p;
    char separator = '.';
    if (!AskParams<qt::TDialogoDropInk>(this, FLocale, p, separator)) return;
    RunProcess([p](TDIB& original) { return CommandDropColoredInk(original, p); });
}

void TFinestraPrincipale::FindImageAndText1Click() {
    RunProcess([](TDIB& original) { return CommandFindImagesAndText(original); }, true);
}

void TFinestraPrincipale::ReplaceOriginalImageClick() {
    if (FBusy || !ImmagineCopia->Image()->IsValid()) return;
    try {
        std::unique_ptr<TDIB> copy(ImmagineCopia->Image()->DIB().Duplicate());
        copy->OwnsHandle = false;
        HGLOBAL block = copy->GetHandle();
        copy.reset();
        // The left pane adopts the block and lays its display out for the new image at once:
        // in a fit mode the zoom is fitted to the new image, otherwise the zoom stays.
        ImmagineOriginale->SetImageHandle(block);
        ClearAnnotations();  // the marks belong to the page the image replaced
        if (ImmagineOriginale->ZoomMode() != zmCustom) ImmagineOriginale->SetZoomMode(ImmagineOriginale->ZoomMode());
        ImmagineOriginale->RefreshDisplay(true);
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
    ApplyCommandState();
    UpdateStatus();
}

void TFinestraPrincipale::ApplyCommandState() {
    TMemoryImage& image = *ImmagineOriginale->Image();
    bool valid = image.IsValid();
    int32_t depth = image.Depth();
    const std::pair<QAction*, TCommand> items[] = {
        {Deskew1, TCommand::Deskew},
        {Despeckle1, TCommand::Despeckle},
        {Repair1, TCommand::Repair},
        {LineRemoval1, TCommand::LineRemoval},
        {Thresholding1, TCommand::Thresholding},
        {BlackBorderRemoval1, TCommand::BlackBorderRemoval},
        {RemoveDither1, TCommand::RemoveDither},
        {DropColoredInk1, TCommand::DropColoredInk},
        {FindImageAndText1, TCommand::FindImageAndText},
    };
    for (const auto& [action, command] : items) action->setEnabled(valid && CommandEnabled(command, depth));
    SaveProcessedImageAs1->setEnabled(ImmagineCopia->Image()->IsValid());
}

void TFinestraPrincipale::About1Click() { ShowInformation(AboutMessage()); }

void TFinestraPrincipale::UpdateStatus() {
    if (!StatusOriginale || !StatusProcessata) return;
    StatusOriginale->setText(PaneStatus("Original", ImmagineOriginale));
    StatusProcessata->setText(PaneStatus("Processed", ImmagineCopia));
    SaveProcessedImageAs1->setEnabled(ImmagineCopia->Image()->IsValid());
}

}  // namespace qil::app
