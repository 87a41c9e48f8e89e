#include "support.h"

#include <fstream>
#include <random>

#ifdef _WIN32
#include <cstdlib>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

ScratchFolder::ScratchFolder() {
    std::random_device random;
    m_path = fs::temp_directory_path() / ("quorvex-test-" + std::to_string(random()));
    fs::create_directories(m_path);
}

ScratchFolder::~ScratchFolder() {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(m_path, error))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(m_path, error);
}

#ifdef _WIN32

// Through cmd, which takes the whole line in quotes; no argument of the tests holds a
// quote, a percent sign or a trailing backslash.
Ran RunProgram(const fs::path& program, const std::vector<std::string>& arguments,
               const fs::path& folder, const fs::path& input,
               const std::vector<std::pair<std::string, std::string>>& env) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    const auto quoted = [](const fs::path& path) { return L"\"" + path.wstring() + L"\""; };
    std::wstring command = L"\"cd /d " + quoted(folder) + L" && " + quoted(program);
    for (const std::string& argument : arguments)
        command += L" " + quoted(U8(argument));
    command += L" <" + (input.empty() ? L"NUL" : quoted(input)) + L" >" + quoted(out) + L" 2>" +
               quoted(err) + L"\"";
    for (const auto& [name, value] : env)
        ::SetEnvironmentVariableW(fs::path(name).c_str(),
                                  value.empty() ? nullptr : fs::path(value).c_str());
    const int status = ::_wsystem(command.c_str());
    for (const auto& variable : env)
        ::SetEnvironmentVariableW(fs::path(variable.first).c_str(), nullptr);
    Ran ran{status, ReadFile(out), ReadFile(err)};
    fs::remove(out);
    fs::remove(err);
    return ran;
}

#else

Ran RunProgram(const fs::path& program, const std::vector<std::string>& arguments,
               const fs::path& folder, const fs::path& input,
               const std::vector<std::pair<std::string, std::string>>& env) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid(); // no terminal to ask on, as in CI
        const auto redirect = [](const fs::path& path, int flags, int to) {
            const int fd = ::open(path.c_str(), flags, 0644);
            if (fd < 0 || ::dup2(fd, to) < 0)
                ::_exit(126);
            ::close(fd);
        };
        redirect(input.empty() ? fs::path("/dev/null") : input, O_RDONLY, STDIN_FILENO);
        redirect(out, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
        redirect(err, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        for (const auto& [name, value] : env)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (::chdir(folder.c_str()) == 0)
            ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    Ran ran{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
    fs::remove(out);
    fs::remove(err);
    return ran;
}

#endif
