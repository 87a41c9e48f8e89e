#include "QuorvexDlg.h"

#include "resource.h"

#include "quorvex/transcode.h"
#include "quorvex/utf16.h"

#include <commdlg.h>

#include <vector>

namespace {

// The application's title: the program file's name without its extension.
std::wstring Title() {
    std::vector<wchar_t> path(32768);
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring name(path.data(), length);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    return name.substr(0, name.rfind(L'.'));
}

// The run's message channel; between two messages the run works and the wait cursor shows.
class RunMessages : public quorvex::MessageSink {
public:
    explicit RunMessages(HWND owner)
        : m_owner(owner), m_arrow(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~RunMessages() override { ::SetCursor(m_arrow); }
    RunMessages(const RunMessages&) = delete;
    RunMessages& operator=(const RunMessages&) = delete;

    void Show(std::string_view text) override {
        ::SetCursor(m_arrow);
        ShowDialogMessage(m_owner, quorvex::ToUtf16(text));
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    }

private:
    HWND m_owner;
    HCURSOR m_arrow;
};

} // namespace

void ShowDialogMessage(HWND owner, const std::wstring& text) {
    ::MessageBoxW(owner, text.c_str(), Title().c_str(), MB_OK);
}

const Dialog::Entry<QuorvexDlg> QuorvexDlg::kMessageMap[] = {
    {WM_SYSCOMMAND, kAnyId,
     [](QuorvexDlg& dlg, WPARAM id, LPARAM parameter, INT_PTR& result) {
         bool handled = false;
         dlg.OnSysCommand(static_cast<UINT>(id), parameter, handled);
         result = handled;
         return handled;
     }},
    {WM_PAINT, kAnyId,
     [](QuorvexDlg& dlg, WPARAM, LPARAM, INT_PTR& result) {
         bool handled = false;
         dlg.OnPaint(handled);
         result = handled;
         return handled;
     }},
    {WM_QUERYDRAGICON, kAnyId,
     [](QuorvexDlg& dlg, WPARAM, LPARAM, INT_PTR& result) {
         result = reinterpret_cast<INT_PTR>(dlg.OnQueryDragIcon());
         return true;
     }},
    {WM_COMMAND, IDC_EXECUTE, Command<QuorvexDlg, &QuorvexDlg::OnExecute>},
    {WM_COMMAND, IDC_EXIT, Command<QuorvexDlg, &QuorvexDlg::OnExit>},
    {WM_COMMAND, IDC_GET_INPUT, Command<QuorvexDlg, &QuorvexDlg::OnGetInput>},
    {WM_COMMAND, ID_INFO_ABOUT, Command<QuorvexDlg, &QuorvexDlg::OnInfoAbout>},
    {WM_COMMAND, ID_INFO_EXIT, Command<QuorvexDlg, &QuorvexDlg::OnExit>},
    {WM_COMMAND, ID_INFO_OPERATION, Command<QuorvexDlg, &QuorvexDlg::OnInfoOperation>},
};

QuorvexDlg::QuorvexDlg(HWND parent)
    : Dialog(IDD_QUORVEX_DIALOG, parent), m_nGame(-1), m_nMode(-1),
      m_hIcon(::LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

bool QuorvexDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    return Dispatch(kMessageMap, message, wParam, lParam, result);
}

void QuorvexDlg::DoDataExchange(Exchange direction) {
    Dialog::DoDataExchange(direction);
    ExchangeRadio(IDC_GAME1, m_nGame, direction);
    ExchangeRadio(IDC_ENCRYPT, m_nMode, direction);
    ExchangeText(IDC_INPUT_FILE, m_strInput, direction);
    ExchangeText(IDC_OUTPUT_FILE, m_strOutput, direction);
}

BOOL QuorvexDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    if (const HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[256] = {};
        if (::LoadStringW(Instance(), IDS_ABOUTBOX, about, 256) > 0) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_nMode = 0;
    m_nGame = 0;
    DoDataExchange(Exchange::Push);
    return TRUE;
}

void QuorvexDlg::OnSysCommand(UINT id, LPARAM, bool& handled) {
    handled = (id & 0xFFF0) == IDM_ABOUTBOX;
    if (handled)
        OnInfoAbout();
}

// Minimised, the window shows the icon in the middle of its client area.
void QuorvexDlg::OnPaint(bool& handled) {
    handled = ::IsIconic(m_hWnd);
    if (!handled)
        return;
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = ::GetSystemMetrics(SM_CXICON);
    const int cy = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - cx + 1) / 2;
    const int y = (client.bottom - client.top - cy + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

HICON QuorvexDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void QuorvexDlg::OnExecute() {
    DoDataExchange(Exchange::Pull);
    RunMessages messages(m_hWnd);
    quorvex::TranscodeFiles(quorvex::ToUtf8(m_strInput), quorvex::ToUtf8(m_strOutput), m_nMode,
                            m_nGame, messages);
}

void QuorvexDlg::OnExit() {
    OnOK();
}

// Only the input box changes: what the other controls show is pulled first, so picking
// a file never puts back the output, mode or game of an earlier run.
void QuorvexDlg::OnGetInput() {
    std::vector<wchar_t> path(32768);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!::GetOpenFileNameW(&dialog))
        return;
    DoDataExchange(Exchange::Pull);
    m_strInput = path.data();
    DoDataExchange(Exchange::Push);
}

void QuorvexDlg::OnInfoAbout() {
    AboutDlg about(m_hWnd);
    about.DoModal();
}

void QuorvexDlg::OnInfoOperation() {
    ShowDialogMessage(m_hWnd, quorvex::ToUtf16(quorvex::messages::kOperation));
}

AboutDlg::AboutDlg(HWND owner) : Dialog(IDD_ABOUTBOX, owner) {}
