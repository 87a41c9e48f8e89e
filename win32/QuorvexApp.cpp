#include "QuorvexApp.h"

#include "QuorvexDlg.h"
#include "resource.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

const MessageEntry<QuorvexApp> QuorvexApp::kMessageMap[] = {
    {WM_COMMAND, ID_HELP, kMenuCommand, Command<QuorvexApp, &QuorvexApp::OnHelp>},
};

bool QuorvexApp::InitInstance() {
    // The controls' own look: common controls 6, which the manifest asks for, draw them
    // in the system's current visual style.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    QuorvexDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

bool QuorvexApp::OnCommand(WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    return Dispatch(*this, kMessageMap, WM_COMMAND, wParam, lParam, result);
}

// The help file is the program's name with ".chm", beside it. None ships, so the command
// finds nothing to show and does nothing.
void QuorvexApp::OnHelp() {
    std::vector<wchar_t> module(32768);
    std::wstring help(module.data(), ::GetModuleFileNameW(nullptr, module.data(),
                                                          static_cast<DWORD>(module.size())));
    help = help.substr(0, help.rfind(L'.')) + L".chm";
    const DWORD attributes = ::GetFileAttributesW(help.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    ::ShellExecuteW(m_pMainWnd ? m_pMainWnd->Handle() : nullptr, L"open", help.c_str(), nullptr,
                    nullptr, SW_SHOWNORMAL);
}

namespace {
QuorvexApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    theApp.InitInstance();
    return 0;
}
