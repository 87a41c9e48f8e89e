#include "Quorvex.h"

#include "QuorvexDlg.h"

bool QuorvexApp::InitInstance() {
    QuorvexDlg dlg;
    dlg.exec();
    return false;
}
