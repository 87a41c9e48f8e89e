#include "QuorvexDlg.h"

#include "resource.h"

#include "quorvex/transcode.h"
#include "quorvex/utf16.h"

#include <commdlg.h>
#include <shellapi.h>

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

// A button's command comes as BN_CLICKED from its control, a menu's from no control.
const MessageEntry<QuorvexDlg> QuorvexDlg::kMessageMap[] = {
    {WM_SYSCOMMAND, kAnyId, 0,
     [](QuorvexDlg& dlg, WPARAM id, LPARAM parameter, LRESULT&) {
         return dlg.OnSysCommand(static_cast<UINT>(id), parameter);
     }},
    {WM_PAINT, kAnyId, 0, [](QuorvexDlg& dlg, WPARAM, LPARAM, LRESULT&) { return dlg.OnPaint(); }},
    {WM_QUERYDRAGICON, kAnyId, 0,
     [](QuorvexDlg& dlg, WPARAM, LPARAM, LRESULT& result) {
         result = reinterpret_cast<LRESULT>(dlg.OnQueryDragIcon());
         return true;
     }},
    {WM_DROPFILES, kAnyId, 0,
     [](QuorvexDlg& dlg, WPARAM drop, LPARAM, LRESULT& result) {
         dlg.OnDropFiles(reinterpret_cast<HDROP>(drop));
         result = 0;
         return true;
     }},
    {WM_COMMAND, IDC_EXECUTE, BN_CLICKED, Command<QuorvexDlg, &QuorvexDlg::OnExecute>},
    {WM_COMMAND, IDC_EXIT, BN_CLICKED, Command<QuorvexDlg, &QuorvexDlg::OnExit>},
    {WM_COMMAND, IDC_GET_INPUT, BN_CLICKED, Command<QuorvexDlg, &QuorvexDlg::OnGetInput>},
    {WM_COMMAND, ID_INFO_ABOUT, kMenuCommand, Command<QuorvexDlg, &QuorvexDlg::OnInfoAbout>},
    {WM_COMMAND, ID_INFO_EXIT, kMenuCommand, Command<QuorvexDlg, &QuorvexDlg::OnExit>},
    {WM_COMMAND, ID_INFO_OPERATION, kMenuCommand,
     Command<QuorvexDlg, &QuorvexDlg::OnInfoOperation>},
};

QuorvexDlg::QuorvexDlg(HWND parent)
    : Dialog(IDD_QUORVEX_DIALOG, parent), m_nGame(-1), m_nMode(-1),
      m_hIcon(::LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

bool QuorvexDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return Dispatch(*this, kMessageMap, message, wParam, lParam, result) ||
           Dialog::OnMessage(message, wParam, lParam, result);
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
    m_nMode = quorvex::kEncrypt;
    m_nGame = 0;
    DoDataExchange(Exchange::Push);
    ::DragAcceptFiles(m_hWnd, TRUE);
    return TRUE;
}

bool QuorvexDlg::OnSysCommand(UINT id, LPARAM) {
    if ((id & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    OnInfoAbout();
    return true;
}

// Minimised, the window shows the icon in the middle of its client area.
bool QuorvexDlg::OnPaint() {
    if (!::IsIconic(m_hWnd))
        return false;
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
    return true;
}

HICON QuorvexDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// The first file dropped anywhere on the dialog names the input, as if typed: only the
// box changes, not the dialog data. A folder names nothing.
void QuorvexDlg::OnDropFiles(HDROP drop) {
    std::vector<wchar_t> path(::DragQueryFileW(drop, 0, nullptr, 0) + 1);
    const bool named = ::DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())) > 0;
    ::DragFinish(drop);
    const DWORD attributes =
        named ? ::GetFileAttributesW(quorvex::WidePath(quorvex::ToUtf8(path.data())).c_str())
              : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        ::SetDlgItemTextW(m_hWnd, IDC_INPUT_FILE, path.data());
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
