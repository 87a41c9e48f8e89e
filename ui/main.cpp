#include "Quorvex.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
    QuorvexApp theApp;
    theApp.InitInstance();
    return 0;
}
