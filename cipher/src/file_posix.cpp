#include "quorvex/file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quorvex {

std::string DescribeError(SystemError error) {
    return std::generic_category().message(error);
}

File File::OpenForReading(const std::string& path, SystemError& error) {
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC), true);
    if (!file.IsOpen()) {
        error = errno;
        return {};
    }
    struct stat status {};
    if (::fstat(file.m_handle, &status) != 0 || S_ISDIR(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        return {};
    }
    return file;
}

File File::OpenForWriting(const std::string& path, SystemError& error) {
    File file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666), true);
    if (!file.IsOpen())
        error = errno;
    return file;
}

File File::CreateNew(const std::string& path, std::optional<unsigned> permissions,
                     SystemError& error) {
    File file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions ? 0600 : 0666),
        true);
    // The mode given to open passes through the umask; a copy must keep the original's.
    if (!file.IsOpen() || (permissions && ::fchmod(file.m_handle, *permissions & 07777) != 0)) {
        error = errno;
        if (file.IsOpen())
            ::unlink(path.c_str());
        return {};
    }
    return file;
}

File File::CreateUnnamed(const std::string& folder, std::optional<unsigned> permissions,
                         SystemError& error) {
#ifdef O_TMPFILE
    File file(::open(folder.empty() ? "." : folder.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC,
                     permissions ? 0600 : 0666),
              true);
    if (file.IsOpen() && (!permissions || ::fchmod(file.m_handle, *permissions & 07777) == 0))
        return file;
    error = errno;
#else
    (void)folder;
    (void)permissions;
    error = ENOTSUP;
#endif
    return {};
}

bool File::LinkTo(const std::string& path, SystemError& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_handle);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    error = errno;
    return false;
}

File File::StandardInput() {
    return {STDIN_FILENO, false};
}

File File::StandardOutput() {
    return {STDOUT_FILENO, false};
}

bool File::IsOpen() const {
    return m_handle != kNone;
}

bool File::Identify(FileIdentity& identity, SystemError& error) const {
    struct stat status {};
    if (::fstat(m_handle, &status) != 0) {
        error = errno;
        return false;
    }
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.regular = S_ISREG(status.st_mode);
    identity.size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

std::ptrdiff_t File::Read(char* buffer, std::size_t capacity, SystemError& error) {
    for (;;) {
        const ssize_t n = ::read(m_handle, buffer, capacity);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

bool File::Write(const char* data, std::size_t size, SystemError& error) {
    while (size > 0) {
        const ssize_t n = ::write(m_handle, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n == 0 ? ENOSPC : errno;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool File::Truncate(SystemError& error) {
    if (::ftruncate(m_handle, 0) == 0)
        return true;
    error = errno;
    return false;
}

bool File::Sync(SystemError& error) {
    if (::fsync(m_handle) == 0)
        return true;
    error = errno;
    return false;
}

SystemError File::Close() {
    const Handle handle = std::exchange(m_handle, kNone);
    if (handle == kNone || !m_owned)
        return 0;
    // After EINTR the descriptor is gone all the same; retrying could close another's.
    return ::close(handle) == 0 || errno == EINTR ? 0 : errno;
}

namespace files {

bool Permissions(const std::string& path, unsigned& permissions, SystemError& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = errno;
        return false;
    }
    permissions = status.st_mode & 07777;
    return true;
}

bool Replace(const std::string& from, const std::string& to, SystemError& error) {
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = errno;
    return false;
}

bool Link(const std::string& from, const std::string& to, SystemError& error) {
    ::unlink(to.c_str());
    if (::link(from.c_str(), to.c_str()) == 0)
        return true;
    error = errno;
    return false;
}

bool SyncFolder(const std::string& folder, SystemError& error) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced)
        error = errno;
    ::close(fd);
    return synced;
}

bool Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

} // namespace files

} // namespace quorvex
