#include "Dialog.h"

#include <commctrl.h>

#include <vector>

namespace {

Application* g_application = nullptr;

// A dialog procedure returns the result of these messages itself; every other result
// goes through DWLP_MSGRESULT.
bool ReturnsOwnResult(UINT message) {
    return message == WM_INITDIALOG || message == WM_QUERYDRAGICON || message == WM_CHARTOITEM ||
           message == WM_VKEYTOITEM || message == WM_COMPAREITEM ||
           (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

bool IsRadioButton(HWND control) {
    wchar_t name[16] = {};
    ::GetClassNameW(control, name, 16);
    const LONG_PTR kind = ::GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    return ::lstrcmpiW(name, L"Button") == 0 &&
           (kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON);
}

// The button control makes a radio button a tab stop while it is checked. The template
// says which controls Tab visits: a radio button created without a tab stop keeps none.
LRESULT CALLBACK KeepOutOfTabOrder(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR) {
    if (message == WM_STYLECHANGING && static_cast<int>(wParam) == GWL_STYLE)
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew &= ~static_cast<DWORD>(WS_TABSTOP);
    else if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(control, KeepOutOfTabOrder, id);
    return ::DefSubclassProc(control, message, wParam, lParam);
}

} // namespace

HINSTANCE Instance() {
    static const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    return instance;
}

Application::Application() {
    g_application = this;
}

Application::~Application() {
    g_application = nullptr;
}

Application* TheApplication() {
    return g_application;
}

INT_PTR Dialog::DoModal() {
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(m_templateId), m_parent, Procedure,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Dialog*>(lParam)->m_hWnd = window;
        for (HWND control = ::GetWindow(window, GW_CHILD); control;
             control = ::GetWindow(control, GW_HWNDNEXT))
            if (IsRadioButton(control) && !(::GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP))
                ::SetWindowSubclass(control, KeepOutOfTabOrder, 0, 0);
    }
    auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    LRESULT result = 0;
    bool handled = self && self->OnMessage(message, wParam, lParam, result);
    if (!handled && message == WM_COMMAND && TheApplication())
        handled = TheApplication()->OnCommand(wParam, lParam);
    if (!handled)
        return FALSE;
    if (ReturnsOwnResult(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

bool Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_INITDIALOG) {
        result = OnInitDialog();
        return true;
    }
    // Accept and cancel come from a button, the Enter and Escape keys or the close box,
    // always as BN_CLICKED.
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return false;
    if (LOWORD(wParam) == IDOK)
        OnOK();
    else if (LOWORD(wParam) == IDCANCEL)
        OnCancel();
    else
        return false;
    return true;
}

void Dialog::DoDataExchange(Exchange) {}

BOOL Dialog::OnInitDialog() {
    DoDataExchange(Exchange::Push);
    return TRUE;
}

void Dialog::OnOK() {
    DoDataExchange(Exchange::Pull);
    ::EndDialog(m_hWnd, IDOK);
}

void Dialog::OnCancel() {
    ::EndDialog(m_hWnd, IDCANCEL);
}

void Dialog::ExchangeText(int id, std::wstring& value, Exchange direction) {
    const HWND control = ::GetDlgItem(m_hWnd, id);
    if (direction == Exchange::Push) {
        ::SetWindowTextW(control, value.c_str());
        return;
    }
    std::vector<wchar_t> text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1);
    ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    value = text.data();
}

void Dialog::ExchangeRadio(int firstId, int& value, Exchange direction) {
    int index = 0;
    if (direction == Exchange::Pull)
        value = -1;
    HWND control = ::GetDlgItem(m_hWnd, firstId);
    do {
        if (IsRadioButton(control)) {
            if (direction == Exchange::Pull) {
                if (value < 0 && ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED)
                    value = index;
            } else {
                ::SendMessageW(control, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED,
                               0);
            }
            ++index;
        }
        control = ::GetWindow(control, GW_HWNDNEXT);
    } while (control && !(::GetWindowLongPtrW(control, GWL_STYLE) & WS_GROUP));
}
