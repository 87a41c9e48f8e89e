// The reader fed through short reads of random sizes gives what one large read gives,
// wherever a CR LF pair or a 511-byte segment boundary falls.

#include "quorvex/line_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quorvex;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

class ShortReads : public ByteSource {
public:
    ShortReads(std::string_view text, std::string_view sizes) : m_text(text), m_sizes(sizes) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError&) override {
        std::size_t n = 1;
        if (!m_sizes.empty()) {
            n = 1 + static_cast<std::uint8_t>(m_sizes[m_next++ % m_sizes.size()]) * 4;
        }
        n = std::min({n, capacity, m_text.size()});
        std::copy_n(m_text.data(), n, buffer);
        m_text.remove_prefix(n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string_view m_text;
    std::string_view m_sizes;
    std::size_t m_next = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first byte says how many of the following bytes give the read sizes.
    const std::size_t sizesLength = std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string_view sizes(reinterpret_cast<const char*>(data + 1), sizesLength);
    const std::string_view text(reinterpret_cast<const char*>(data + 1 + sizesLength),
                                size - 1 - sizesLength);
    ShortReads source(text, sizes);
    StringSink sink;
    Require(TranscodeStream(source, sink, kEncrypt, 1).status == StreamStatus::Completed);
    Require(sink.text == TranscodeText(text, kEncrypt, 1));
    return 0;
}
