#include <QApplication>

#include "facetta_app.h"
#include "ui_language.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmark"));
    QApplication::setApplicationName(QStringLiteral("Facetta"));
    QApplication::setDesktopFileName(QStringLiteral("facetta"));
    InstallSystemUiLanguage();

    CFacettaApp theApp;
    if (!theApp.InitInstance(QApplication::arguments().mid(1))) return 1;
    return QApplication::exec();
}
