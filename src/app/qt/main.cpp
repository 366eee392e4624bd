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

#include "app/qt/main_window.h"

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane Image Workbench"));
    QApplication::setOrganizationName(QStringLiteral("Quorvane Technologies SpA"));
    QApplication::setApplicationVersion(QString::fromLatin1(qil::app::kWorkbenchVersion));

    qil::app::TFinestraPrincipale window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        QString file = args.at(1);
        // Once the window is laid out, so that the page is fitted to the final pane size.
        QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
    }
    return app.exec();
}
