// TFinestraPrincipale: the workbench's main window.
//
// A menu bar, an empty tool bar, two viewers side by side (ImmagineOriginale, the opened
// image; ImmagineCopia, the result of the last command) separated by a splitter, and a status
// bar. Each Process command shows its parameter dialog, runs the command function of
// app/commands.h on a copy of the left pane's image and hands the result to the right pane.
//
// Notes
//  - Every message and error box, the file dialogs and the confirmation questions go through
//    the virtual Ask* / Show* functions, so a test can answer them without a modal loop.
//  - A command function runs on a worker thread while the window waits in a local event loop
//    that excludes user input: the window keeps painting, but takes no clicks or keys until
//    the command is done (the busy cursor shows meanwhile). The worker gets a copy of the left
//    image made beforehand, so the image the left pane paints is never touched by two threads.
//  - The command-state rule enables a Process item only while the left pane holds an image
//    whose depth the command accepts.
#pragma once

#include <QLocale>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <string>

#include "app/commands.h"
#include "dib/image_file.h"
#include "viewer/qt/zoom_image.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class QFrame;

namespace qil::app {

// The window-level texts. Lines are separated by a line feed followed by a carriage return.
extern const char* const kMainWindowCaption;
extern const char* const kStatusHint;
extern const char* const kOpenDialogTitle;
extern const char* const kOpenDialogFilter;  // the file-open filter, description|patterns pairs
extern const char* const kMakerWebAddress;
extern const char* const kMakerEMailAddress;
extern const char* const kWorkbenchVersion;
QString ClosingMessage();
QString AboutMessage();

// The Qt form of a description|patterns filter ("Bitmap Images (*.bmp)" entries joined by ";;").
QString QtFileFilter(const QString& filter);

// The TIFF compressions that suit an image of the given depth, with their captions.
struct TCompressionChoice {
    TTiffCompression Compression;
    const char* Caption;
};
std::vector<TCompressionChoice> CompressionChoices(int32_t depth);

class TFinestraPrincipale : public QMainWindow {
    Q_OBJECT

public:
    explicit TFinestraPrincipale(QWidget* parent = nullptr);
    ~TFinestraPrincipale() override;

    // ---- Controls (the names are also their object names) ----
    QMenuBar* MainMenu1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QFrame* PanelOriginale = nullptr;
    TZoomImage* ImmagineOriginale = nullptr;
    QSplitter* Splitter = nullptr;
    QFrame* PanelProcessata = nullptr;
    TZoomImage* ImmagineCopia = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    // ---- Menus and items ----
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* SaveProcessedImageAs1 = nullptr;
    QMenu* View1 = nullptr;
    QAction* FitToWidth1 = nullptr;
    QAction* FitToPage1 = nullptr;
    QAction* FitTo11 = nullptr;
    QAction* ShowAnnotations1 = nullptr;
    QMenu* MenuProcess = nullptr;
    QAction* Deskew1 = nullptr;
    QAction* Despeckle1 = nullptr;
    QAction* Repair1 = nullptr;
    QAction* LineRemoval1 = nullptr;
    QAction* Thresholding1 = nullptr;
    QAction* BlackBorderRemoval1 = nullptr;
    QAction* RemoveDither1 = nullptr;
    QAction* DropColoredInk1 = nullptr;
    QAction* FindImageAndText1 = nullptr;
    QAction* N2 = nullptr;
    QAction* ReplaceOriginalImage = nullptr;
    QMenu* N3 = nullptr;
    QAction* About1 = nullptr;

    // The status bar's panes: the hint, then the size, depth, resolution and zoom of each pane.
    QLabel* StatusHint = nullptr;
    QLabel* StatusOriginale = nullptr;
    QLabel* StatusProcessata = nullptr;

    // ---- Menu handlers ----
    void Open1Click();
    void Exit1Click();
    void FitToWidth1Click();
    void FitToPage1Click();
    void FitTo11Click();
    void Deskew1Click();
    void Despeckle1Click();
    void Repair1Click();
    void LineRemoval1Click();
    void Thresholding1Click();
    void BlackBorderRemoval1Click();
    void RemoveDither1Click();
    void DropColoredInk1Click();
    void FindImageAndText1Click();
    void ReplaceOriginalImageClick();
    void About1Click();
    void SaveProcessedImageAs1Click();
    void ShowAnnotations1Click();

    // Loads page 0 of a file into the left pane, as Open does after its dialog (also used for
    // a file named on the command line and for a dropped file). False when the load failed
    // (the error box has been shown).
    bool OpenFile(const QString& fileName);
    // Writes the right pane's image; the format follows the extension (.tif/.tiff, .bmp,
    // .jpg/.jpeg, .png). Refuses an empty pane and an unknown extension with an exception.
    void SaveProcessedImage(const QString& fileName, TTiffCompression compression, int32_t jpegQuality);

    // The command-state rule, by the left pane's image.
    void ApplyCommandState();
    // Equal panes: PanelOriginale width := (client width - splitter width) div 2.
    void FormShow();
    void FormResize();
    // The window is closing: shows the closing message (closeEvent runs it once).
    void FormClose();

    // Whether the left pane's annotation marks are shown (View > Show Annotations).
    bool AnnotationsShown() const;

    // Whether a command is running (its worker thread busy).
    bool Busy() const { return FBusy; }
    // Runs Work on a worker thread while the window waits in a local event loop that excludes
    // user input (it keeps painting); rethrows Work's exception here. A close request that
    // comes meanwhile is carried out when the command that ran Work has finished.
    void RunInBackground(const std::function<void()>& work);

    // ---- What the window asks and tells; tests override these ----
    virtual void ShowInformation(const QString& text);
    virtual void ShowError(const QString& text);
    virtual bool AskConfirmation(const QString& text);
    virtual QString AskOpenFileName();
    // The file name to save to, its TIFF compression and JPEG quality; empty when cancelled.
    virtual QString AskSaveFileName(int32_t depth, TTiffCompression& compression, int32_t& jpegQuality);
    // The options of the file type FileName names: the TIFF compression among those that suit
    // Depth, or the JPEG quality, in a small modal dialog. False when cancelled; true at once
    // for the other types.
    bool AskSaveOptions(const QString& fileName, int32_t depth, TTiffCompression& compression, int32_t& jpegQuality);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenus();
    void CreatePanes();
    void CheckViewItem(QAction* item);
    void SetBothZoomModes(TZoomMode mode);
    // The common frame of a processing command, after its dialog: copies the left image, runs
    // Command on the worker thread with the busy cursor, then hands the result over and shows
    // its message (the message first when MessageBeforeHandOver). Every exception ends in the
    // error box with the right pane unchanged.
    void RunProcess(const std::function<TCommandResult(TDIB& original)>& command, bool messageBeforeHandOver = false);
    void HandOver(TCommandResult& result);
    // Carries out a close request that came while a command was running.
    void CloseIfRequested();
    void UpdateStatus();
    void SetAnnotationsShown(bool shown);
    // Removes the left pane's marks (after its page was replaced or failed to load).
    void ClearAnnotations();
    void ZoomBoth(double factor);

    QLocale FLocale;
    bool FBusy = false;
    bool FClosing = false;
    bool FCloseWhenIdle = false;
};

}  // namespace qil::app
