#include "QuorvexApp.h"

#include "QuorvexDlg.h"

#include <windows.h>

#include <commctrl.h>

bool QuorvexApp::InitInstance() {
    // The controls' own look: the system's current one, with common controls 6.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    QuorvexDlg dlg;
    dlg.DoModal();
    return false;
}

namespace {
QuorvexApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    theApp.InitInstance();
    return 0;
}
