#pragma once

// What the tool needs of the system beyond the engine's files.

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

// A new folder only this user can read, for text that must not lie around; empty on
// failure.
std::string PrivateFolder();

// Removes these files and then the folder if the process is interrupted or ended by a
// signal, until Forget is called.
void RemoveOnInterrupt(const std::vector<std::string>& files, const std::string& folder);
void ForgetInterrupt();

// Opens `path` in the user's editor and waits; the editor's exit status, or -1 when it
// could not be started or was killed.
int RunEditor(const std::string& path);

enum class Answer { Yes, No, NoTerminal };
// Asks on the terminal, even when standard input and output are redirected.
Answer Ask(const std::string& question);

} // namespace platform
