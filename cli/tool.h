#pragma once

// The parts of quorvex-cli: what the user asked for, how a key is chosen for a file, and
// the runs over many files, in place and through an editor.

#include "quorvex/cipher.h"
#include "quorvex/detect.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tool {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoKey = 3;
inline constexpr const char* kProgram = "quorvex-cli";

struct Options {
    quorvex::CipherMode mode = quorvex::kEncrypt;
    std::string game; // a name, a number, or "auto"
    std::optional<int> offset;
    bool verbose = false;
    bool quiet = false;
    bool noClobber = false;
    bool recursive = false;
    bool inPlace = false;
    std::optional<std::string> backup; // the suffix of the kept original
    std::string outputFolder;
    unsigned jobs = 0; // 0: one per core
    bool anyOffset = false;
    std::vector<std::string> files;

    bool AutoGame() const { return game == "auto"; }
    bool ManyFiles() const { return inPlace || !outputFolder.empty(); }
};

// Paths are UTF-8 strings in the engine, whatever the system's own encoding.
inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Prints "quorvex-cli: <message>" on stderr.
void Say(const std::string& message);
// A path as messages show it.
std::string Quoted(const std::string& path);

std::optional<quorvex::GameSelection> ParseGame(std::string_view text);
std::string GameChoices();

// The front of a file that detection judges; `failure` says why it could not be read.
struct Sample {
    std::string text;
    std::string failure;
    const char* verb = "cannot read";
};
Sample ReadSample(const std::string& path, bool standardInput = false);

// The ranking and verdict as `detect` prints them.
std::string Report(const quorvex::Detection& detection, const std::string& file, bool anyOffset);

// The key a file is to be run with: the one named, or the game detection is sure of.
// `refusal` tells, when there is no key, why; `warning`, when the named game looks wrong
// for a file to be deciphered.
struct KeyChoice {
    std::optional<quorvex::CipherKey> key;
    std::string refusal;
    bool readFailed = false;
    std::string warning;
};
KeyChoice ChooseKey(const Options& options, const std::string& path, bool standardInput = false);

// Many files: into a folder, or in place. The exit status.
int RunMany(const Options& options);

// What one file's run into a hidden file beside `target`, renamed over it at the end,
// came to. `permissionsFrom` names the file whose permission bits the result takes.
struct Replacement {
    std::string failure; // the whole message, or empty
    std::uint64_t bytes = 0;
    std::uint64_t lossyBytes = 0;
    std::uint64_t firstLossyLine = 0;
};
struct ReplaceRequest {
    std::string source;
    std::string target;
    quorvex::CipherMode mode = quorvex::kEncrypt;
    quorvex::CipherKey key = 0;
    bool durable = false; // flushed to the disk before and after the rename
    bool keepTargetPermissions = false;
    bool noClobber = false;
    std::optional<std::string> backup;
};
Replacement ReplaceFile(const ReplaceRequest& request, std::atomic<std::uint64_t>* progress);

std::string LossyWarning(std::uint64_t bytes, std::uint64_t firstLine, const std::string& file);

int Edit(const Options& options);

} // namespace tool
