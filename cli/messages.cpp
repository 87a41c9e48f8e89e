// How the tool speaks: one line per message on stderr, each file named so that the name
// reads back exactly and nothing in it reaches the terminal raw.

#include "quorvex/transcode.h"
#include "tool.h"

#include <cstdio>
#include <iostream>

namespace tool {

namespace {

// The length of the UTF-8 character at the front of `text` that a terminal shows as
// itself, or 0 for a control character, C1 control or byte that is not UTF-8.
std::size_t PrintableCharacter(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length)
        return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0xA0, 0x800, 0x10000}; // C1 controls and overlong forms
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= least[length] && code <= 0x10FFFF && !surrogate ? length : 0;
}

std::string Escaped(unsigned char c) {
    const char* named = "\a\b\t\n\v\f\r";
    const char* letters = "abtnvfr";
    for (int i = 0; named[i]; ++i)
        if (c == static_cast<unsigned char>(named[i]))
            return std::string("\\") + letters[i];
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%03o", c);
    return octal;
}

bool Plain(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("._-+,/:@%=^").find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

void Say(const std::string& message) {
    std::cerr << kProgram << ": " << message << '\n';
}

std::string Quoted(std::string_view name) {
    std::string quoted = "'";
    bool open = true; // inside '...', else inside $'...'
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = PrintableCharacter(name.substr(i));
        if (length > 0 && open) {
            quoted += name[i] == '\'' ? "'\\''" : std::string(name.substr(i, length));
            i += std::max<std::size_t>(length, 1);
            continue;
        }
        if (length > 0) {
            quoted += "''";
            open = true;
            continue;
        }
        if (open)
            quoted += "'$'";
        open = false;
        quoted += Escaped(static_cast<unsigned char>(name[i++]));
    }
    return quoted + "'";
}

std::string Listed(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const std::size_t length =
            c < 0x80 ? (Plain(c) ? 1 : 0) : PrintableCharacter(name.substr(i));
        if (length == 0)
            return Quoted(name);
        i += length;
    }
    return name.empty() ? Quoted(name) : std::string(name);
}

std::string Failure(std::string_view verb, std::string_view shown, std::string_view reason) {
    std::string message(verb);
    message.append(" ").append(shown).append(": ").append(reason);
    return message;
}

std::string LossyWarning(std::uint64_t bytes, std::uint64_t firstLine, std::string_view shown,
                         quorvex::CipherMode mode) {
    return "warning: " + quorvex::LossyBytesMessage(bytes, firstLine, shown,
                                                    mode == quorvex::kEncrypt ? "decipher back"
                                                                              : "encipher back");
}

} // namespace tool
