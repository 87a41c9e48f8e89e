#include "support.h"

#include <fstream>
#include <random>

#ifdef _WIN32
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

namespace {

// One argument as CommandLineToArgvW reads it back; no argument of the tests holds a
// quote or ends in a backslash.
std::wstring Quote(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

HANDLE Inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

Ran RunProgram(const fs::path& program, const std::vector<std::string>& arguments,
               const fs::path& folder, const fs::path& input,
               const std::vector<std::pair<std::string, std::string>>& env) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    std::wstring command = Quote(program.wstring());
    for (const std::string& argument : arguments)
        command += L" " + Quote(U8(argument).wstring());
    for (const auto& [name, value] : env)
        ::SetEnvironmentVariableW(fs::path(name).c_str(), fs::path(value).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.empty() ? nullptr : Inheritable(input, false);
    startup.hStdOutput = Inheritable(out, true);
    startup.hStdError = Inheritable(err, true);
    PROCESS_INFORMATION process{};
    Ran ran;
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         folder.c_str(), &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 0;
        ::GetExitCodeProcess(process.hProcess, &status);
        ran.status = static_cast<int>(status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle && handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    for (const auto& variable : env)
        ::SetEnvironmentVariableW(fs::path(variable.first).c_str(), nullptr);
    ran.out = ReadFile(out);
    ran.err = ReadFile(err);
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
            ::setenv(name.c_str(), value.c_str(), 1);
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
