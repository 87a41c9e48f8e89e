// What Windows reads from both programs' files, long paths, and the console quorvex-cli
// leaves behind (a console needs an X display under Wine).
#include "quorvex/utf16.h"
#include "support.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

// The manifest as the loader reads it and the common controls it brings, the version
// block and the icon; and the editor the tool's help names.
TEST(WindowsPrograms, ManifestVersionBlockAndIcon) {
    for (const fs::path program : {QUORVEX_DIALOG, QUORVEX_CLI}) {
        SCOPED_TRACE(program.string());
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = program.c_str();
        request.lpResourceName = MAKEINTRESOURCEW(1);
        const HANDLE context = ::CreateActCtxW(&request);
        ASSERT_NE(context, INVALID_HANDLE_VALUE);
        std::wstring settings;
        for (const wchar_t* name :
             {L"2005 dpiAware", L"2016 dpiAwareness", L"2017 gdiScaling", L"2016 longPathAware"}) {
            const std::wstring space =
                L"http://schemas.microsoft.com/SMI/" + std::wstring(name, 4) + L"/WindowsSettings";
            wchar_t value[64] = L"none";
            ::QueryActCtxSettingsW(0, context, space.c_str(), name + 5, value, 64, nullptr);
            settings.append(name + 5).append(L"=").append(value).append(L" ");
        }
        EXPECT_EQ(settings, L"dpiAware=false dpiAwareness=unaware gdiScaling=true "
                            L"longPathAware=true ");
        // Windows 10 and 11 alone, wherever this Windows puts the identifier in the entry.
        const GUID windows10{
            0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}};
        char os[512] = {};
        ::QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, os, 512,
                       nullptr);
        EXPECT_EQ(os[0], 1);
        EXPECT_LT(std::string_view(os, 512).find({reinterpret_cast<const char*>(&windows10), 16}),
                  64u);
        ULONG_PTR cookie = 0;
        ::ActivateActCtx(context, &cookie);
        wchar_t controls[MAX_PATH] = {};
        ::GetModuleFileNameW(::LoadLibraryW(L"comctl32.dll"), controls, MAX_PATH);
        ::DeactivateActCtx(0, cookie);
        EXPECT_NE(
            std::wstring_view(::CharLowerW(controls)).find(L"common-controls_6595b64144ccf1df_6."),
            std::wstring_view::npos);

        std::vector<char> block(::GetFileVersionInfoSizeW(program.c_str(), nullptr));
        VS_FIXEDFILEINFO* fixed = nullptr;
        wchar_t* product = nullptr;
        UINT size = 0;
        ASSERT_TRUE(
            ::GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(block.size()),
                                  block.data()) &&
            ::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) &&
            ::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&product), &size));
        std::string version = std::to_string(fixed->dwFileVersionMS >> 16);
        for (const DWORD part : {fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                                 fixed->dwFileVersionLS & 0xFFFF})
            version.append(".").append(std::to_string(part));
        EXPECT_EQ(version + " " + quorvex::ToUtf8(product), QUORVEX_VERSION " Quorvex Application");
        EXPECT_EQ(::ExtractIconExW(program.c_str(), -1, nullptr, nullptr, 0), 1u);
    }
    ScratchFolder scratch;
    const std::string help = RunProgram(QUORVEX_CLI, {"edit", "--help"}, scratch.Path()).out;
    EXPECT_NE(help.find("in %VISUAL% or %EDITOR% (else Notepad)"), std::string::npos) << help;
}

// A path whose full form is long takes the \\?\ form, tidied as the system would.
TEST(WindowsPrograms, LongPaths) {
    const std::string n(120, 'n');
    const std::wstring w(120, L'n');
    EXPECT_EQ(quorvex::WidePath("C:\\short/a.txt"), L"C:\\short/a.txt");
    EXPECT_EQ(quorvex::WidePath("C:/" + n + "/./" + n + "/x/../" + n),
              L"\\\\?\\C:\\" + w + L"\\" + w + L"\\" + w);
    EXPECT_EQ(quorvex::WidePath("\\\\host\\share\\" + n + "\\" + n),
              L"\\\\?\\UNC\\host\\share\\" + w + L"\\" + w);
}

BOOL WINAPI KeepRunning(DWORD) {
    return TRUE;
}

// UTF-8 while the tool runs; the console's own code page again once it ends by itself, or
// by Ctrl+C (the one console event Wine sends) while it waits on a pipe.
TEST(WindowsPrograms, ConsoleCodePageComesBack) {
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole() && ::SetConsoleOutputCP(850)) << "no console: no display?";
    ScratchFolder scratch;
    EXPECT_EQ(RunProgram(QUORVEX_CLI, {"--version"}, scratch.Path()).status, 0);
    EXPECT_EQ(::GetConsoleOutputCP(), 850u);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    HANDLE write = nullptr;
    ASSERT_TRUE(::CreatePipe(&startup.hStdInput, &write, &inherit, 0));
    std::wstring command = L"\"" + fs::path(QUORVEX_CLI).wstring() + L"\" decrypt -g 0 - -";
    PROCESS_INFORMATION tool{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &tool));
    for (int wait = 0; wait < 200 && ::GetConsoleOutputCP() != CP_UTF8; ++wait)
        ::Sleep(50);
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    ::SetConsoleCtrlHandler(KeepRunning, TRUE);
    ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    EXPECT_EQ(::WaitForSingleObject(tool.hProcess, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(::GetConsoleOutputCP(), 850u);
    ::TerminateProcess(tool.hProcess, 1);
}

} // namespace
