#pragma once

// The little a dialog window needs of an application framework: a modal run from a
// template, a command table per window that hands every message it does not list to
// its base, and a data exchange that runs in either direction.

#include <windows.h>

#include <string>

// The process's one module handle, for loading resources.
HINSTANCE Instance();

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
    // A command table entry: a message, and for WM_COMMAND its id, with its handler.
    // The handler returns whether it handled the message and sets the result.
    template <typename T> struct Entry {
        UINT message;
        UINT id;
        bool (*handle)(T& window, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    };
    static constexpr UINT kAnyId = 0xFFFFFFFF;

    // Looks the message up in `table`, or passes it to Dialog's own handling.
    template <typename T, std::size_t N>
    bool Dispatch(const Entry<T> (&table)[N], UINT message, WPARAM wParam, LPARAM lParam,
                  INT_PTR& result) {
        for (const Entry<T>& entry : table)
            if (entry.message == message && (message != WM_COMMAND || entry.id == LOWORD(wParam)) &&
                entry.handle(static_cast<T&>(*this), wParam, lParam, result))
                return true;
        return Dialog::OnMessage(message, wParam, lParam, result);
    }

    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
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

// Adapts a member function to a command table entry.
template <typename T, void (T::*F)()> bool Command(T& window, WPARAM, LPARAM, INT_PTR& result) {
    (window.*F)();
    result = TRUE;
    return true;
}
