#include "Quorvex.h"

#include <QApplication>

int main(int, char** argv) {
    // The open-file dialog is the desktop's own, through its portal, on GNOME and KDE
    // alike; without a portal Qt falls back to the desktop's theme, then to its own. A
    // theme the user chose stays theirs.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME"))
        qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    // The program takes no options, and Qt's own (-reverse, -qwindowtitle, ...) would
    // change it: Qt sees the program's name alone. QT_QPA_PLATFORM still picks a platform.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvex.Quorvex"));
    QuorvexApp theApp;
    theApp.InitInstance();
    return 0;
}
