#pragma once

// Windows speaks UTF-16; the engine keeps every path and text in UTF-8 and converts at
// the edge.

#ifdef _WIN32

#include <string>
#include <string_view>

namespace quorvex {

std::wstring ToUtf16(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

// A UTF-8 path as the wide system calls take it. When the path's full form is too long
// for the old limit of 260 characters, that full form with the prefix \\?\ in front (a
// share's with \\?\UNC), which every Windows takes whatever its long-path setting; any
// other path only converted.
std::wstring WidePath(std::string_view utf8);

} // namespace quorvex

#endif
