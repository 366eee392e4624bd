// qil-workbench: the Quorvane image workbench.
//
//   qil-workbench [FILE]
//
// Opens the main window maximised; FILE, when given, is opened in the left pane as the Open
// command does (page 0, fitted to the page).
#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "app/qt/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane Image Workbench"));
    QApplication::setOrganizationName(QStringLiteral("Quorvane Technologies SpA"));
    QApplication::setApplicationVersion(QString::fromLatin1(qil::app::kWorkbenchVersion));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/workbench.png")));

    qil::app::TFinestraPrincipale window;
    window.show();
    QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        QString file = args.at(1);
        // Once the window is laid out, so the page is fitted to the final pane size.
        QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
    }
    return app.exec();
}
