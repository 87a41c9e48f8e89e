// The whole run on arbitrary bytes against the format stated in a few lines: lines
// end at LF, one CR before it belongs to the line end, a last line without LF still
// counts, lines are cut into 511-byte segments, and every LF written is CR LF. The
// read and write blocks are made small, so that lines, CR LF pairs and segments fall
// across their edges, and both vector paths run.

#include "quorvex/line_stream.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvex;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string line(text.substr(0, lf));
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    }
    return lines;
}

std::string Model(const std::vector<std::string>& lines, CipherMode mode, GameSelection game) {
    std::string out;
    for (const std::string& line : lines) {
        for (std::size_t at = 0; at < line.size(); at += kMaxSegmentLength)
            for (char c :
                 TransformLine(std::string_view(line).substr(at, kMaxSegmentLength), mode, game))
                out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        out += "\r\n";
    }
    return out;
}

std::string Joined(const std::vector<std::string>& lines, std::string_view end) {
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append(end);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const CipherMode mode = data[0] & 1;
    const GameSelection game = (data[0] >> 1) % 4;
    StreamOptions small;
    small.inputBlock = 512 + data[1] * 13u;
    small.outputBlock = 1 + data[2] * 11u;
    small.vectors = data[0] & 0x80 ? VectorPath::Baseline : VectorPath::Best;
    const std::string_view input(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::vector<std::string> lines = Lines(input);

    const std::string output = TranscodeText(input, mode, game);
    Require(output == Model(lines, mode, game));
    Require(TranscodeText(input, mode, game, small) == output);

    // Where no line ends in CR, LF and CR LF line ends are the same file.
    bool crAtEnd = false;
    for (const std::string& line : lines)
        crAtEnd = crAtEnd || (!line.empty() && line.back() == '\r');
    if (!crAtEnd)
        Require(TranscodeText(Joined(lines, "\n"), mode, game) ==
                TranscodeText(Joined(lines, "\r\n"), mode, game));
    return 0;
}
