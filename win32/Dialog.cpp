#include "Dialog.h"

#include <vector>

HINSTANCE Instance() {
    static const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    return instance;
}

INT_PTR Dialog::DoModal() {
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(m_templateId), m_parent, Procedure,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Dialog*>(lParam)->m_hWnd = window;
    }
    auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    INT_PTR result = FALSE;
    if (!self || !self->OnMessage(message, wParam, lParam, result))
        return FALSE;
    // Every message a table here handles (WM_QUERYDRAGICON among them) has its result
    // returned by the dialog procedure itself; none needs DWLP_MSGRESULT.
    return result;
}

bool Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    if (message == WM_INITDIALOG) {
        result = OnInitDialog();
        return true;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        OnOK();
        return true;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
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
        const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
        const LONG_PTR kind = style & BS_TYPEMASK;
        wchar_t name[16] = {};
        ::GetClassNameW(control, name, 16);
        if (::lstrcmpiW(name, L"Button") == 0 &&
            (kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON)) {
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
