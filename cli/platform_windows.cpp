#include "platform.h"

#include "quorvex/utf16.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

std::vector<std::string> Arguments(int, char**) {
    // Messages name files in UTF-8; the console shows them as such.
    ::SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(quorvex::ToUtf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

} // namespace platform
