#include "quorvex/file.h"

#include <acl/libacl.h>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quorvex {

namespace {

FileIdentity IdentityOf(const struct stat& status) {
    FileIdentity identity;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.regular = S_ISREG(status.st_mode);
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
    identity.permissions = status.st_mode & 07777;
    identity.group = static_cast<std::uint32_t>(status.st_gid);
    return identity;
}

Folder::Kind KindOf(mode_t mode) {
    return S_ISREG(mode)   ? Folder::Kind::Regular
           : S_ISDIR(mode) ? Folder::Kind::Folder
           : S_ISLNK(mode) ? Folder::Kind::Link
                           : Folder::Kind::Other;
}

bool FromErrno(SystemError& error) {
    error = errno;
    return false;
}

// The set-user-ID and set-group-ID bits are kept only with the owner and group they
// were given for, as cp does.
mode_t KeepOwner(int to, const struct stat& old) {
    struct stat mine {};
    if (::fstat(to, &mine) == 0 && mine.st_uid == old.st_uid && mine.st_gid == old.st_gid)
        return old.st_mode & 07777;
    if (::fchown(to, old.st_uid, old.st_gid) == 0)
        return old.st_mode & 07777;
    [[maybe_unused]] const int group = ::fchown(to, static_cast<uid_t>(-1), old.st_gid);
    return old.st_mode & 07777 & ~(S_ISUID | S_ISGID);
}

// The whole list, even one that says no more than the mode bits: it replaces any that the
// new file took from its folder's default.
bool KeepAccessList(int from, int to, SystemError& error) {
    const acl_t list = ::acl_get_fd(from);
    if (list == nullptr)
        return errno == ENOTSUP || FromErrno(error);
    const bool copied = ::acl_set_fd(to, list) == 0 || errno == ENOTSUP;
    if (!copied)
        error = errno;
    ::acl_free(list);
    return copied;
}

// The user's own extended attributes, where the file systems take them.
void KeepUserAttributes(int from, int to) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return;
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    for (std::size_t at = 0; got > 0 && at < static_cast<std::size_t>(got);) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        if (!name.starts_with("user."))
            continue;
        std::string value(static_cast<std::size_t>(
                              std::max<ssize_t>(::fgetxattr(from, name.c_str(), nullptr, 0), 0)),
                          '\0');
        const ssize_t length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
        if (length >= 0)
            ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(length), 0);
    }
}

// Renames `from` to `to` in one step only while `to` is free; where the file system cannot,
// a second name and the first one's removal do the same.
bool Claim(int dir, const std::string& from, const std::string& to) {
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(dir, from.c_str(), 0);
    return true;
}

std::string SelfLink(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

std::string SystemMessage(SystemError error) {
    return std::generic_category().message(error);
}

bool IsNoSuchFile(SystemError error) {
    return error == ENOENT;
}

bool IsFileExists(SystemError error) {
    return error == EEXIST;
}

bool IsOutOfHandles(SystemError error) {
    return error == EMFILE || error == ENFILE;
}

bool IdentifyPath(const std::string& path, FileIdentity& identity, SystemError& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return FromErrno(error);
    identity = IdentityOf(status);
    return true;
}

File File::OpenForReading(const std::string& path, SystemError& error) {
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY), true);
    if (!file.IsOpen()) {
        error = errno;
        return {};
    }
    struct stat status {};
    if (::fstat(file.m_handle, &status) != 0 || S_ISDIR(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? kIsFolder : errno;
        return {};
    }
    return file;
}

File File::OpenForWriting(const std::string& path, unsigned permissions, SystemError& error,
                          bool* created) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Made here, or there already: which, matters to what the new file may show.
        File made(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                         permissions & 0777),
                  true);
        if (made.IsOpen() || errno != EEXIST) {
            if (created)
                *created = made.IsOpen();
            if (!made.IsOpen())
                error = errno;
            return made;
        }
        File there(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY), true);
        if (there.IsOpen() || errno != ENOENT) {
            if (!there.IsOpen())
                error = errno;
            return there;
        }
    }
    error = ENOENT;
    return {};
}

bool File::WithholdFromOtherGroup(const FileIdentity& input, SystemError& error) {
    struct stat status {};
    if (::fstat(m_handle, &status) != 0)
        return FromErrno(error);
    if (status.st_gid == input.group || (status.st_mode & 070) == 0)
        return true;
    return ::fchmod(m_handle, status.st_mode & 07707) == 0 || FromErrno(error);
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
    if (::fstat(m_handle, &status) != 0)
        return FromErrno(error);
    identity = IdentityOf(status);
    identity.extendedAccess = identity.regular && ::acl_extended_fd(m_handle) == 1;
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
    return ::ftruncate(m_handle, 0) == 0 || FromErrno(error);
}

bool File::Sync(SystemError& error) {
    return ::fsync(m_handle) == 0 || FromErrno(error);
}

SystemError File::Close() {
    const Handle handle = std::exchange(m_handle, kNone);
    if (handle == kNone || !m_owned)
        return 0;
    // After EINTR the descriptor is gone all the same; retrying could close another's.
    return ::close(handle) == 0 || errno == EINTR ? 0 : errno;
}

Folder::Folder(Folder&& other) noexcept
    : m_path(std::move(other.m_path)), m_fd(std::exchange(other.m_fd, -1)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    std::swap(m_path, other.m_path);
    std::swap(m_fd, other.m_fd);
    return *this;
}

Folder::~Folder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Folder Folder::Open(const std::string& path, bool make, SystemError& error, unsigned permissions) {
    const std::string named = path.empty() ? "." : path;
    std::error_code made;
    if (make) {
        const std::filesystem::path above = std::filesystem::path(named).parent_path();
        if (!above.empty())
            std::filesystem::create_directories(above, made);
        if (::mkdir(named.c_str(), permissions & 07777) != 0 && errno != EEXIST && !made)
            made.assign(errno, std::generic_category());
    }
    Folder folder;
    folder.m_fd = ::open(named.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.m_fd < 0) {
        error = made ? made.value() : errno;
        return {};
    }
    folder.m_path = path;
    return folder;
}

Folder Folder::Child(const std::string& name, bool make, SystemError& error,
                     unsigned permissions) const {
    if (make && ::mkdirat(m_fd, name.c_str(), permissions & 07777) != 0 && errno != EEXIST) {
        error = errno;
        return {};
    }
    Folder child;
    child.m_fd = ::openat(m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child.m_fd < 0) {
        // A link to a folder is refused as "not a folder"; say what it is.
        const int failure = errno;
        struct stat status {};
        error = (failure == ENOTDIR || failure == ELOOP) &&
                        ::fstatat(m_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(status.st_mode)
                    ? kIsLink
                    : failure;
        return {};
    }
    child.m_path = m_path.empty() || m_path.ends_with('/') ? m_path + name : m_path + "/" + name;
    return child;
}

bool Folder::IsOpen() const {
    return m_fd >= 0;
}

bool Folder::List(std::vector<Entry>& entries, SystemError& error) const {
    // A descriptor of its own, so that the listing starts at the beginning.
    const int own = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const listing = own < 0 ? nullptr : ::fdopendir(own);
    if (listing == nullptr) {
        error = errno;
        if (own >= 0)
            ::close(own);
        return false;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, ::closedir);
    entries.clear();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr)
            return errno == 0 || FromErrno(error);
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        Kind kind = entry->d_type == DT_REG   ? Kind::Regular
                    : entry->d_type == DT_DIR ? Kind::Folder
                    : entry->d_type == DT_LNK ? Kind::Link
                                              : Kind::Other;
        struct stat status {};
        if (entry->d_type == DT_UNKNOWN &&
            ::fstatat(m_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
            kind = KindOf(status.st_mode);
        entries.push_back({name, kind});
    }
}

File Folder::OpenRegular(const std::string& name, SystemError& error) const {
    FileIdentity identity;
    Kind kind = Kind::Other;
    if (!Identify(name, identity, kind, error))
        return {};
    if (kind != Kind::Regular) {
        error = kind == Kind::Link ? kIsLink : kNotRegularFile;
        return {};
    }
    // Should it have been swapped meanwhile, a FIFO is still not waited on.
    File file(
        ::openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
        true);
    struct stat status {};
    if (!file.IsOpen() || ::fstat(file.m_handle, &status) != 0) {
        error = errno == ELOOP ? kIsLink : errno;
        return {};
    }
    if (!S_ISREG(status.st_mode)) {
        error = kNotRegularFile;
        return {};
    }
    ::fcntl(file.m_handle, F_SETFL, ::fcntl(file.m_handle, F_GETFL) & ~O_NONBLOCK);
    return file;
}

bool Folder::Identify(const std::string& name, FileIdentity& identity, Kind& kind,
                      SystemError& error) const {
    struct stat status {};
    if (::fstatat(m_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return FromErrno(error);
    identity = IdentityOf(status);
    kind = KindOf(status.st_mode);
    return true;
}

bool Folder::Identify(FileIdentity& identity, SystemError& error) const {
    struct stat status {};
    if (::fstat(m_fd, &status) != 0)
        return FromErrno(error);
    identity = IdentityOf(status);
    return true;
}

bool Folder::Writable(const std::string& name) const {
    return ::faccessat(m_fd, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

bool Folder::Sync(SystemError& error) const {
    return ::fsync(m_fd) == 0 || FromErrno(error);
}

PendingFile::PendingFile(const Folder& folder, const std::string& name, unsigned permissions,
                         SystemError& error)
    : m_folder(folder), m_name(name) {
    const mode_t mode = permissions & 0777;
#ifdef O_TMPFILE
    m_file = File(::openat(folder.m_fd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode), true);
    if (m_file.IsOpen())
        return;
#endif
    m_hidden = HiddenNameFor(name);
    m_file = File(::openat(folder.m_fd, m_hidden.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode),
                  true);
    if (!m_file.IsOpen()) {
        error = errno;
        m_hidden.clear();
    }
}

PendingFile::~PendingFile() {
    m_file.Close();
    if (!m_hidden.empty())
        ::unlinkat(m_folder.m_fd, m_hidden.c_str(), 0);
}

// Attributes come only from a regular file that was opened, never from what a name leads
// to at some other moment; a file the user may replace but not read keeps its mode and
// owner only.
bool PendingFile::KeepAttributesOf(const File* original, SystemError& error) {
    const int fd = m_file.m_handle;
    const int opened = original
                           ? -1
                           : ::openat(m_folder.m_fd, m_name.c_str(),
                                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int from = original ? original->m_handle : opened;
    struct stat old {};
    const bool known = from >= 0 ? ::fstat(from, &old) == 0
                                 : errno == EACCES && ::fstatat(m_folder.m_fd, m_name.c_str(), &old,
                                                                AT_SYMLINK_NOFOLLOW) == 0;
    bool kept = known && S_ISREG(old.st_mode);
    if (!known)
        error = errno == ELOOP ? kIsLink : errno;
    else if (!kept)
        error = S_ISLNK(old.st_mode) ? kIsLink : kNotRegularFile;
    kept = kept && (::fchmod(fd, KeepOwner(fd, old)) == 0 || FromErrno(error));
    if (kept && from >= 0) {
        kept = KeepAccessList(from, fd, error);
        KeepUserAttributes(from, fd);
    }
    if (opened >= 0)
        ::close(opened);
    return kept;
}

bool PendingFile::Publish(bool replace, const std::string& backup, SystemError& error) {
    const int dir = m_folder.m_fd;
    if (m_hidden.empty()) {
        // A file without a name takes a free final name directly.
        if (!replace && ::linkat(AT_FDCWD, SelfLink(m_file.m_handle).c_str(), dir, m_name.c_str(),
                                 AT_SYMLINK_FOLLOW) == 0) {
            if (const SystemError closed = m_file.Close(); closed != 0) {
                ::unlinkat(dir, m_name.c_str(), 0); // a name that was free before
                error = closed;
                return false;
            }
            return true;
        }
        if (!replace)
            return FromErrno(error);
        const std::string hidden = HiddenNameFor(m_name);
        if (::linkat(AT_FDCWD, SelfLink(m_file.m_handle).c_str(), dir, hidden.c_str(),
                     AT_SYMLINK_FOLLOW) != 0)
            return FromErrno(error);
        m_hidden = hidden;
    }
    if (const SystemError closed = m_file.Close(); closed != 0) {
        error = closed;
        return false;
    }
    struct stat old {};
    if (!backup.empty() && ::fstatat(dir, m_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        // The old file takes the backup's name in one step, in place of an older backup.
        const std::string kept = HiddenNameFor(backup);
        if (::linkat(dir, m_name.c_str(), dir, kept.c_str(), 0) != 0) {
            return FromErrno(error);
        } else if (::renameat(dir, kept.c_str(), dir, backup.c_str()) != 0) {
            error = errno;
            ::unlinkat(dir, kept.c_str(), 0);
            return false;
        }
        // Where the backup was the same file already, the rename changed nothing.
        ::unlinkat(dir, kept.c_str(), 0);
    }
    if (replace ? ::renameat(dir, m_hidden.c_str(), dir, m_name.c_str()) != 0
                : !Claim(dir, m_hidden, m_name))
        return FromErrno(error);
    m_hidden.clear();
    return true;
}

} // namespace quorvex
