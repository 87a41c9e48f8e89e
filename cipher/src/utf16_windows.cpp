#include "quorvex/utf16.h"

#include <windows.h>

namespace quorvex {

std::wstring ToUtf16(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(
        static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(),
                          static_cast<int>(wide.size()));
    return wide;
}

std::string ToUtf8(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    std::string narrow(static_cast<std::size_t>(::WideCharToMultiByte(
                           CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr)),
                       '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

std::wstring WidePath(std::string_view utf8) {
    // Folders take 12 characters less than files: room for a name in the 8.3 form.
    constexpr std::size_t kLongPath = MAX_PATH - 12;
    std::wstring path = ToUtf16(utf8);
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\"))
        return path; // already in the system's own form
    std::wstring full(path.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (size == 0)
            return path;
        if (size < full.size()) {
            full.resize(size);
            break;
        }
        full.resize(size);
    }
    if (full.size() < kLongPath || full.starts_with(L"\\\\.\\"))
        return path;
    // The prefix turns off the system's own tidying of the path, which the full form has had.
    return full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

} // namespace quorvex
