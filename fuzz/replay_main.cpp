// Runs a fuzz target over its saved inputs and over inputs generated from a fixed seed,
// so that its property is a regression test that needs no fuzzing toolchain.
// Usage: fuzz_NAME CORPUS_FOLDER [GENERATED_INPUTS]

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Replay(const std::string& bytes) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Text-like bytes: printable, with line ends from every few bytes to none at all, and with
// CRs, tabs and bytes of every value from none (in half the inputs) to a few in a hundred.
// Line ends are bare LFs, CR LF pairs, either at random, or pairs with a bare LF now and
// then, so that whole runs of lines end alike and then one does not.
std::string Generated(std::mt19937& random) {
    const std::size_t size = random() % 8192;
    const unsigned lineEnds = random() % 150; // per thousand bytes
    const unsigned others = random() % 2 ? 0 : random() % 20;
    const unsigned pairs = std::array{0u, 1000u, 500u, 990u}[random() % 4];
    std::string bytes;
    while (bytes.size() < size) {
        const unsigned pick = random() % 1000;
        if (pick < lineEnds && random() % 1000 < pairs)
            bytes += '\r';
        bytes += static_cast<char>(pick < lineEnds                ? '\n'
                                   : pick < lineEnds + others     ? '\r'
                                   : pick < lineEnds + 2 * others ? '\t'
                                   : pick < lineEnds + 3 * others ? random() % 256
                                                                  : ' ' + random() % 95);
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    if (argc > 1) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
            std::ifstream in(entry.path(), std::ios::binary);
            Replay({std::istreambuf_iterator<char>(in), {}});
            ++replayed;
        }
    }
    std::mt19937 random(1);
    for (int i = argc > 2 ? std::atoi(argv[2]) : 0; i > 0; --i, ++replayed)
        Replay(Generated(random));
    std::printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
