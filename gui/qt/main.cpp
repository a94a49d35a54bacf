#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The program's title (message boxes) and the name of its folder in the
    // user's configuration folder.
    QApplication::setApplicationName(QStringLiteral("Tervalo"));
    // Qt's own texts (OK, Cancel, Yes, No, the folder picker) in the user's
    // language, where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    tervalo::TForm1 form1;
    form1.show();
    return app.exec();
}
