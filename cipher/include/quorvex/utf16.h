#pragma once

// Windows speaks UTF-16; the engine keeps every path and text in UTF-8 and converts at
// the edge.

#ifdef _WIN32

#include <string>
#include <string_view>

namespace quorvex {

std::wstring ToUtf16(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

} // namespace quorvex

#endif
