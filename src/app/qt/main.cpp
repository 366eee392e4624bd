// qil-workbench: the Quorvane image workbench.
//
//   qil-workbench [FILE]
//
// Opens the main window maximised; FILE, when given, is opened in the left pane as the Open
// command does (page 0, fitted to the page). --help and --version print and exit without
// opening a window.
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/qt/main_window.h"
#include "platform/temp_files.h"

namespace {

// The application's global error handler: an exception that leaves an event handler is shown
// in the error box instead of ending the program.
class TWorkbenchApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ShowError(QString::fromStdString(e.what()));
        } catch (...) {
            ShowError(QStringLiteral("Unknown error"));
        }
        return false;
    }
    qil::app::TFinestraPrincipale* Window = nullptr;

private:
    void ShowError(const QString& text) {
        if (Window)
            Window->ShowError(text);
        else
            std::fprintf(stderr, "qil-workbench: %s\n", text.toLocal8Bit().constData());
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "usage: qil-workbench [FILE]\n"
                "Opens the workbench window; FILE (TIFF, BMP, JPEG or PNG) is shown in the left pane.\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qil-workbench %s\n", qil::app::kWorkbenchVersion);
            return 0;
        }
    }
    // A save interrupted by Ctrl-C or a logout leaves no temporary file beside its target.
    qil::RemoveTemporaryFilesOnSignals();
    TWorkbenchApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane Image Workbench"));
    QApplication::setOrganizationName(QStringLiteral("Quorvane Technologies SpA"));
    QApplication::setApplicationVersion(QString::fromLatin1(qil::app::kWorkbenchVersion));

    qil::app::TFinestraPrincipale window;
    app.Window = &window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        QString file = args.at(1);
        // Once the window is laid out, so that the page is fitted to the final pane size.
        QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
    }
    int status = app.exec();
    app.Window = nullptr;  // the window goes before the application
    return status;
}
