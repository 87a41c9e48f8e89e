#pragma once

// What the tests share: whole files as byte strings, a folder of their own, and the real
// tool run as a user would run it.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

// A path from UTF-8, whatever the system's own encoding.
inline fs::path U8(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

// A new folder, removed with all it holds when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& Path() const { return m_path; }
    fs::path operator/(const fs::path& name) const { return m_path / name; }

private:
    fs::path m_path;
};

struct Ran {
    int status = -1; // the exit status, or -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

// Runs `program` in `folder`, standard input from `input` (none when empty), with the
// environment variables `env` added (or removed, when given empty).
Ran RunProgram(const fs::path& program, const std::vector<std::string>& arguments,
               const fs::path& folder, const fs::path& input = {},
               const std::vector<std::pair<std::string, std::string>>& env = {});
