#include "platform.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// What the signal handler removes: fixed storage, since it may not allocate.
struct Doomed {
    std::array<std::array<char, 4096>, 3> files{};
    std::array<char, 4096> folder{};
};
Doomed g_doomed;
volatile std::sig_atomic_t g_armed = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void Copy(std::array<char, 4096>& to, const std::string& from) {
    const std::size_t n = std::min(from.size(), to.size() - 1);
    std::memcpy(to.data(), from.data(), n);
    to[n] = '\0';
}

extern "C" void RemoveAndDie(int signal) {
    if (g_armed) {
        for (const auto& file : g_doomed.files)
            if (file[0])
                ::unlink(file.data());
        if (g_doomed.folder[0])
            ::rmdir(g_doomed.folder.data());
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    for (std::string rest = path ? path : ""; !rest.empty();) {
        const std::size_t colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

std::string EditorCommand() {
    for (const char* variable : {"VISUAL", "EDITOR"})
        if (const char* value = std::getenv(variable); value && *value)
            return value;
    return OnPath("editor") ? "editor" : "vi";
}

} // namespace

const char* const kEditorVariables = "$VISUAL or $EDITOR";

// A terminal takes bytes as they come, in the user's own locale.
Console::Console() = default;
Console::~Console() = default;

std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

bool ErrorsGoToTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvex-XXXXXX";
    return ::mkdtemp(folder.data()) ? folder : std::string();
}

void RemoveOnInterrupt(const std::vector<std::string>& files, const std::string& folder) {
    g_armed = 0;
    g_doomed = {};
    for (std::size_t i = 0; i < files.size() && i < g_doomed.files.size(); ++i)
        Copy(g_doomed.files[i], files[i]);
    Copy(g_doomed.folder, folder);
    g_armed = 1;
    for (int signal : kSignals)
        std::signal(signal, RemoveAndDie);
}

void ForgetInterrupt() {
    g_armed = 0;
    for (int signal : kSignals)
        std::signal(signal, SIG_DFL);
}

// As system() does: the editor gets the terminal's interrupts, the waiting tool not.
int RunEditor(const std::string& path) {
    const std::string command = EditorCommand() + " \"$1\"";
    struct sigaction ignore {
    }, oldInt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &oldInt);
    ::sigaction(SIGQUIT, &ignore, &oldQuit);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGQUIT, SIG_DFL);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), "sh", path.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGQUIT, &oldQuit, nullptr);
    if (child < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

Answer Ask(const std::string& question) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return Answer::NoTerminal;
    [[maybe_unused]] const auto wrote = ::write(tty, question.data(), question.size());
    char reply[64] = {};
    const ssize_t n = ::read(tty, reply, sizeof reply - 1);
    ::close(tty);
    return n > 0 && (reply[0] == 'y' || reply[0] == 'Y') ? Answer::Yes : Answer::No;
}

} // namespace platform
