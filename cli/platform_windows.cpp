#include "platform.h"

#include "quorvex/utf16.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <mutex>

namespace platform {

namespace {

// The console's output code page before the tool changed it; 0 without a console.
std::atomic<UINT> g_codePage{0};

void RestoreCodePage() {
    if (const UINT codePage = g_codePage.exchange(0))
        ::SetConsoleOutputCP(codePage);
}

BOOL WINAPI RestoreAndEnd(DWORD) {
    RestoreCodePage();
    return FALSE; // and let the process end as it would have
}

std::mutex g_lock;
std::wstring g_file;
std::wstring g_folder;
std::string g_farewell;
std::atomic<bool>* g_stop = nullptr;
std::atomic<DWORD> g_event{CTRL_C_EVENT};

BOOL WINAPI EndCleanly(DWORD) {
    std::lock_guard lock(g_lock);
    if (!g_file.empty())
        ::DeleteFileW(g_file.c_str());
    if (!g_folder.empty())
        ::RemoveDirectoryW(g_folder.c_str());
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), g_farewell.data(),
                static_cast<DWORD>(g_farewell.size()), &written, nullptr);
    return FALSE; // and let the process end as it would have
}

BOOL WINAPI Stop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_event = event;
    if (g_stop)
        *g_stop = true;
    return TRUE;
}

std::wstring EditorCommand() {
    for (const wchar_t* variable : {L"VISUAL", L"EDITOR"})
        if (const wchar_t* value = _wgetenv(variable); value && *value)
            return value;
    return L"notepad";
}

} // namespace

const char* const kEditorVariables = "%VISUAL% or %EDITOR% (else Notepad)";

// Messages name files in UTF-8; the console shows them as such.
Console::Console() {
    for (int fd : {0, 1, 2})
        _setmode(fd, _O_BINARY);
    const UINT codePage = ::GetConsoleOutputCP();
    if (codePage == 0 || codePage == CP_UTF8)
        return;
    g_codePage = codePage;
    ::SetConsoleCtrlHandler(RestoreAndEnd, TRUE);
    ::SetConsoleOutputCP(CP_UTF8);
}

// What is still buffered goes out in UTF-8 first.
Console::~Console() {
    std::cout.flush();
    std::fflush(nullptr);
    RestoreCodePage();
    ::SetConsoleCtrlHandler(RestoreAndEnd, FALSE);
}

std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(quorvex::ToUtf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

// Windows names no open descriptor by a path.
bool ThroughDescriptor(const std::string&) {
    return false;
}

bool ErrorsGoToTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// Windows sets no such limit that a batch could reach.
std::size_t OpenFileLimit() {
    return 1 << 16;
}

std::string PrivateFolder(std::string& named, int& error) {
    wchar_t base[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH + 1, base)) {
        error = static_cast<int>(::GetLastError());
        return {};
    }
    named = quorvex::ToUtf8(base);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring folder = std::wstring(base) + L"quorvex-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(attempt);
        // The user's own temporary folder: its access list admits only the user.
        if (::CreateDirectoryW(folder.c_str(), nullptr))
            return quorvex::ToUtf8(folder);
        error = static_cast<int>(::GetLastError());
        if (error != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

Interruption::Interruption(std::atomic<bool>& stop) {
    g_stop = &stop;
    ::SetConsoleCtrlHandler(Stop, TRUE);
}

Interruption::~Interruption() {
    ::SetConsoleCtrlHandler(Stop, FALSE);
    g_stop = nullptr;
}

// As a POSIX shell reports SIGINT and SIGTERM.
int Interruption::ExitStatus() const {
    return g_event == CTRL_C_EVENT ? 130 : 143;
}

void RemoveOnInterrupt(const std::string& file, const std::string& folder) {
    {
        std::lock_guard lock(g_lock);
        g_file = quorvex::ToUtf16(file);
        g_folder = quorvex::ToUtf16(folder);
        g_farewell.clear();
    }
    ::SetConsoleCtrlHandler(EndCleanly, TRUE);
}

void SayOnInterrupt(const std::string& message) {
    {
        std::lock_guard lock(g_lock);
        g_file.clear();
        g_folder.clear();
        g_farewell = "quorvex-cli: " + message + "\n";
    }
    ::SetConsoleCtrlHandler(EndCleanly, TRUE);
}

void ForgetInterrupt() {
    ::SetConsoleCtrlHandler(EndCleanly, FALSE);
    std::lock_guard lock(g_lock);
    g_file.clear();
    g_folder.clear();
    g_farewell.clear();
}

int RunEditor(const std::string& path) {
    std::wstring command = EditorCommand() + L" \"" + quorvex::ToUtf16(path) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return -1;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

Answer Ask(const std::string& question) {
    const HANDLE in = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    Answer answer = Answer::NoTerminal;
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE) {
        const std::wstring prompt = quorvex::ToUtf16(question);
        DWORD count = 0;
        ::WriteConsoleW(out, prompt.data(), static_cast<DWORD>(prompt.size()), &count, nullptr);
        wchar_t reply[64] = {};
        answer = ::ReadConsoleW(in, reply, 63, &count, nullptr) && count > 0 &&
                         (reply[0] == L'y' || reply[0] == L'Y')
                     ? Answer::Yes
                     : Answer::No;
    }
    if (in != INVALID_HANDLE_VALUE)
        ::CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    return answer;
}

} // namespace platform
