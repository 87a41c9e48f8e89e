#pragma once

// Everything the engine asks of the operating system, one implementation per platform.
// Paths are UTF-8 on every platform; the error codes are the system's own (errno, or
// GetLastError on Windows) and DescribeError says them in the system's words.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace quorvex {

using SystemError = int;

std::string DescribeError(SystemError error);

// Which file a handle reaches, for telling whether two names are the same file.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool regular = false; // a plain file on a disk, not a pipe, terminal or device
    std::uint64_t size = 0;

    bool SameFileAs(const FileIdentity& other) const {
        return regular && other.regular && volume == other.volume && index == other.index;
    }
};

class File {
public:
    File() = default;
    File(File&& other) noexcept
        : m_handle(std::exchange(other.m_handle, kNone)), m_owned(other.m_owned) {}
    File& operator=(File&& other) noexcept {
        std::swap(m_handle, other.m_handle);
        std::swap(m_owned, other.m_owned);
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { Close(); }

    // An existing file, for reading. A folder fails.
    static File OpenForReading(const std::string& path, SystemError& error);
    // For writing: created if missing, never truncated here.
    static File OpenForWriting(const std::string& path, SystemError& error);
    // A new file that nobody else can have opened; fails if the name exists. Without
    // permission bits it gets those of any new file.
    static File CreateNew(const std::string& path, std::optional<unsigned> permissions,
                          SystemError& error);
    // A file in `folder` that has no name at all until LinkTo gives it one, where the
    // system and the file system allow that; else nothing is opened.
    static File CreateUnnamed(const std::string& folder, std::optional<unsigned> permissions,
                              SystemError& error);
    // The process's standard input or output, lent: never closed by this object.
    static File StandardInput();
    static File StandardOutput();

    bool IsOpen() const;
    bool Identify(FileIdentity& identity, SystemError& error) const;
    // Bytes read, 0 at the end, -1 on an error. Interrupted calls are retried.
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error);
    // All of `size`, or false.
    bool Write(const char* data, std::size_t size, SystemError& error);
    bool Truncate(SystemError& error);
    // Forces the contents to the disk.
    bool Sync(SystemError& error);
    // Gives a file made by CreateUnnamed the name `path`, which must not exist.
    bool LinkTo(const std::string& path, SystemError& error);
    // 0, or the error of a failed close. A lent handle is only let go.
    SystemError Close();

private:
#ifdef _WIN32
    using Handle = void*;
    static inline const Handle kNone = reinterpret_cast<Handle>(-1); // INVALID_HANDLE_VALUE
#else
    using Handle = int;
    static constexpr Handle kNone = -1;
#endif
    File(Handle handle, bool owned) : m_handle(handle), m_owned(owned) {}

    Handle m_handle = kNone;
    bool m_owned = false;
};

// A file that takes its name only once it is complete. Until Publish it has no name
// (where the system allows) or a hidden one beside the final name,
// ".NAME.XXXXXXXXXXXXXXXX.quorvex-part", which only a killed run leaves behind.
// Unless published, it is gone with the object.
class PendingFile {
public:
    static constexpr const char* kSuffix = ".quorvex-part";

    PendingFile(const std::string& target, std::optional<unsigned> permissions, SystemError& error);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool IsOpen() const { return m_file.IsOpen(); }
    File& Contents() { return m_file; }
    // Closes the file and gives it its final name in one step, in place of any file of
    // that name.
    bool Publish(SystemError& error);

private:
    std::string m_target;
    std::string m_hidden; // empty while the file has no name
    File m_file;
};

// What in-place and batch runs need beside the files themselves.
namespace files {
// The permission bits of a file (0644 where the system has none), or false.
bool Permissions(const std::string& path, unsigned& permissions, SystemError& error);
// Moves `from` over `to` in one step: `to` is either the old file or the new one.
bool Replace(const std::string& from, const std::string& to, SystemError& error);
// Gives the file `from` the further name `to`, in place of any file of that name.
bool Link(const std::string& from, const std::string& to, SystemError& error);
// Makes a rename in `folder` survive a crash.
bool SyncFolder(const std::string& folder, SystemError& error);
bool Remove(const std::string& path);
} // namespace files

} // namespace quorvex
