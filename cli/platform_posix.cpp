#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the signal handlers reach: set before they are armed, only read by them.
std::string g_doomedFile;
std::string g_doomedFolder;
std::string g_farewell;
std::atomic<bool> g_armed{false};
std::atomic<bool>* g_stop = nullptr;
volatile std::sig_atomic_t g_signal = 0;

void OnSignal(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

extern "C" void EndCleanly(int signal) {
    if (g_armed) {
        if (!g_doomedFile.empty())
            ::unlink(g_doomedFile.c_str());
        if (!g_doomedFolder.empty())
            ::rmdir(g_doomedFolder.c_str());
        [[maybe_unused]] const auto said =
            ::write(STDERR_FILENO, g_farewell.data(), g_farewell.size());
    }
    OnSignal(signal, SIG_DFL);
    ::raise(signal);
}

extern "C" void Stop(int signal) {
    g_signal = signal;
    if (g_stop)
        *g_stop = true;
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
// A standard stream the tool was started without is opened on /dev/null, the wrong way
// round, so that its first use fails as it should, instead of a file opened later taking
// its number and being written as standard output.
Console::Console() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
}
Console::~Console() = default;

std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

bool ThroughDescriptor(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path at = fs::absolute(path, error).lexically_normal();
    for (int links = 0; links < 40 && !error; ++links) {
        const std::string name = at.string();
        if (name.starts_with("/proc/") || name.starts_with("/dev/fd/") || name == "/dev/stdin" ||
            name == "/dev/stdout" || name == "/dev/stderr")
            return true;
        if (!fs::is_symlink(fs::symlink_status(at, error)))
            return false;
        at = (at.parent_path() / fs::read_symlink(at, error)).lexically_normal();
    }
    return false;
}

bool ErrorsGoToTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::size_t OpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? 1 << 16 : static_cast<std::size_t>(limit.rlim_cur);
}

std::string PrivateFolder(std::string& base, int& error) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
    std::string folder = base + "/quorvex-XXXXXX";
    if (::mkdtemp(folder.data()))
        return folder;
    error = errno;
    return {};
}

// A signal ignored when the tool started (as nohup and shells do for background jobs)
// stays ignored.
Interruption::Interruption(std::atomic<bool>& stop) {
    g_signal = 0;
    g_stop = &stop;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            OnSignal(signal, Stop);
    }
}

Interruption::~Interruption() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == Stop)
            OnSignal(signal, SIG_DFL);
    }
    g_stop = nullptr;
}

int Interruption::ExitStatus() const {
    return 128 + (g_signal ? g_signal : SIGINT);
}

void RemoveOnInterrupt(const std::string& file, const std::string& folder) {
    g_armed = false;
    g_doomedFile = file;
    g_doomedFolder = folder;
    g_farewell.clear();
    g_armed = true;
    for (int signal : kEndingSignals)
        OnSignal(signal, EndCleanly);
}

void SayOnInterrupt(const std::string& message) {
    g_armed = false;
    g_doomedFile.clear();
    g_doomedFolder.clear();
    g_farewell = "quorvex-cli: " + message + "\n";
    g_armed = true;
    for (int signal : kEndingSignals)
        OnSignal(signal, EndCleanly);
}

void ForgetInterrupt() {
    g_armed = false;
    for (int signal : kEndingSignals)
        OnSignal(signal, SIG_DFL);
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
        OnSignal(SIGINT, SIG_DFL);
        OnSignal(SIGQUIT, SIG_DFL);
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
