#pragma once

// The little a dialog window needs of an application framework: a modal run from a
// template, a command table per window that hands every message it does not list to
// its base, a data exchange that runs in either direction, and an application object
// whose own table takes the commands no window handles.

#include <windows.h>

#include <string>

// The process's one module handle, for loading resources.
HINSTANCE Instance();

// A command table entry: a message, and for WM_COMMAND the command's id and what raises
// it, with its handler. The handler returns whether it handled the message, and sets
// the message's result.
template <typename T> struct MessageEntry {
    UINT message;
    UINT id;
    UINT code; // a control's notification code (BN_CLICKED, ...), or kMenuCommand
    bool (*handle)(T& target, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

// A menu item or its accelerator: no control sends it.
inline constexpr UINT kMenuCommand = 0xFFFFFFFF;
inline constexpr UINT kAnyId = 0xFFFFFFFF;

// Whether `entry` lists this message. A command must come from the right source too, so
// that a notification a control sends with the same id (BN_SETFOCUS of a button with
// BS_NOTIFY, EN_CHANGE of an edit box) never runs a command.
template <typename T>
bool Lists(const MessageEntry<T>& entry, UINT message, WPARAM wParam, LPARAM lParam) {
    if (entry.message != message)
        return false;
    if (message != WM_COMMAND)
        return true;
    if (entry.id != LOWORD(wParam))
        return false;
    if (entry.code == kMenuCommand)
        return lParam == 0 && HIWORD(wParam) <= 1; // 0: a menu item, 1: an accelerator
    return lParam != 0 && HIWORD(wParam) == entry.code;
}

template <typename T, std::size_t N>
bool Dispatch(T& target, const MessageEntry<T> (&table)[N], UINT message, WPARAM wParam,
              LPARAM lParam, LRESULT& result) {
    for (const MessageEntry<T>& entry : table)
        if (Lists(entry, message, wParam, lParam) && entry.handle(target, wParam, lParam, result))
            return true;
    return false;
}

// Adapts a member function that always handles its command to a table entry.
template <typename T, void (T::*F)()> bool Command(T& target, WPARAM, LPARAM, LRESULT& result) {
    (target.*F)();
    result = 0;
    return true;
}

// The application object: there is one per process, and commands that no window handles
// go to its table.
class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The application's command table, after the windows'; false when it lists nothing.
    virtual bool OnCommand(WPARAM wParam, LPARAM lParam) = 0;
};

// The process's application object, or none.
Application* TheApplication();

class Dialog {
public:
    enum class Exchange { Pull, Push }; // controls to data, data to controls

    Dialog(int templateId, HWND parent = nullptr) : m_templateId(templateId), m_parent(parent) {}
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Shows the window until it is ended; the result it was ended with.
    INT_PTR DoModal();
    HWND Handle() const { return m_hWnd; }

protected:
    // The window's command table, then Dialog's own handling.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual void DoDataExchange(Exchange direction);
    virtual BOOL OnInitDialog();
    // The accept command: pull, then end with IDOK. Cancel ends with IDCANCEL.
    void OnOK();
    void OnCancel();

    void ExchangeText(int id, std::wstring& value, Exchange direction);
    // The radio group that starts at `firstId`, through the controls that follow up to
    // the next group: the index of the checked button, or -1 when none is.
    void ExchangeRadio(int firstId, int& value, Exchange direction);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int m_templateId;
    HWND m_parent;
};
