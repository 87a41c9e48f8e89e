#pragma once

// What the tool needs of the system beyond the engine's files.

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// The tool's streams for as long as it runs. On Windows every byte goes out as written
// (no text mode), and the console shows UTF-8 until the object goes, or the process is
// ended from the console (Ctrl+C, Ctrl+Break, closing the window), when it gets back the
// code page it had. Elsewhere nothing needs doing.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
};

// The command line as UTF-8, whatever the system's code page.
std::vector<std::string> Arguments(int argc, char** argv);

// How the help names the user's editor.
extern const char* const kEditorVariables;

bool ErrorsGoToTerminal();

// Whether `path` reaches a file only through a descriptor of this process (/dev/stdin,
// /dev/fd/N, /proc/self/fd/N): a stream, never a file to replace.
bool ThroughDescriptor(const std::string& path);

// How many files the process may have open at once, raised first as far as the system
// lets a user raise it.
std::size_t OpenFileLimit();

// A new folder under the user's temporary folder that only this user can read, for text
// that must not lie around; empty on failure, with `base` naming where it was to be made.
std::string PrivateFolder(std::string& base, int& error);

// While it exists, an interrupt, termination or hang-up (SIGINT, SIGTERM, SIGHUP; Ctrl+C,
// Ctrl+Break on Windows) no longer ends the process but sets `stop`, for the work to wind
// down.
class Interruption {
public:
    explicit Interruption(std::atomic<bool>& stop);
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;
    // 128 and the signal's number, as a shell reports a process it ended.
    int ExitStatus() const;
};

// Until Forget is called, a signal that ends the process removes `file` and then
// `folder` first.
void RemoveOnInterrupt(const std::string& file, const std::string& folder);
// Until Forget is called, a signal that ends the process first says `message` on stderr.
void SayOnInterrupt(const std::string& message);
void ForgetInterrupt();

// Opens `path` in the user's editor and waits; the editor's exit status, or -1 when it
// could not be started or was killed.
int RunEditor(const std::string& path);

enum class Answer { Yes, No, NoTerminal };
// Asks on the terminal, even when standard input and output are redirected.
Answer Ask(const std::string& question);

} // namespace platform
