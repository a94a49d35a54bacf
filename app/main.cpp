#include <QApplication>

#include "main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The program's title (message boxes) and the name of its folder in the
    // user's configuration folder.
    QApplication::setApplicationName(QStringLiteral("Tervalo"));
    tervalo::TForm1 form1;
    form1.show();
    return app.exec();
}
