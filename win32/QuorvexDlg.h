#pragma once

#include "Dialog.h"
#include "quorvex/cipher.h"

#include <string>

// The program's one working window: two paths, a direction and a game, and the commands
// that run a file through the cipher.
class QuorvexDlg : public Dialog {
public:
    explicit QuorvexDlg(HWND parent = nullptr);

    // Dialog data: what a run takes, as of the last exchange.
    quorvex::GameSelection m_nGame;
    quorvex::CipherMode m_nMode;
    std::wstring m_strInput;
    std::wstring m_strOutput;
    HICON m_hIcon;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void DoDataExchange(Exchange direction) override;
    BOOL OnInitDialog() override;

private:
    static const MessageEntry<QuorvexDlg> kMessageMap[];

    // Each returns whether it handled the message; the rest goes to the system.
    bool OnSysCommand(UINT id, LPARAM parameter);
    bool OnPaint();
    HICON OnQueryDragIcon();
    void OnDropFiles(HDROP drop);
    void OnExecute();
    void OnExit();
    void OnGetInput();
    void OnInfoAbout();
    void OnInfoOperation();
};

// Its command table is empty: OK, Enter, Escape and the close box are the base's.
class AboutDlg : public Dialog {
public:
    explicit AboutDlg(HWND owner);
};

// The dialog's message box: the program file's name as caption, no icon, one OK button.
void ShowDialogMessage(HWND owner, const std::wstring& text);
