#pragma once

// Everything the engine and the tool ask of the operating system, one implementation per
// platform. Paths are UTF-8 on every platform; the error codes are the system's own
// (errno, or GetLastError on Windows) and DescribeError says them in the system's words.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvex {

using SystemError = int;

// Our own errors, beside the system's: a name that is a FIFO, device or socket where a
// regular file is wanted, or a folder; a symbolic link (on Windows, a reparse point) where
// none may be followed; a run stopped on request; a folder that is no longer the one a
// walk found there.
inline constexpr SystemError kNotRegularFile = -2;
inline constexpr SystemError kIsLink = -3;
inline constexpr SystemError kInterrupted = -4;
inline constexpr SystemError kIsFolder = -5;
inline constexpr SystemError kReplaced = -6;

std::string DescribeError(SystemError error);
// Whether `error` says that there is no file of that name, or that one is there already.
bool IsNoSuchFile(SystemError error);
bool IsFileExists(SystemError error);
bool IsOutOfHandles(SystemError error);

// Which file a handle or name reaches, and what a replacement keeps of it.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool regular = false; // a plain file on a disk, not a pipe, terminal, device or folder
    std::uint64_t size = 0;
    std::int64_t modified = 0;   // in the system's own units: only ever compared
    unsigned permissions = 0;    // POSIX mode bits 07777; on Windows 0444 when read-only
    std::uint32_t group = 0;     // POSIX group
    bool extendedAccess = false; // an access list says more than the mode bits

    bool SameFileAs(const FileIdentity& other) const {
        return regular && other.regular && volume == other.volume && index == other.index;
    }
    // The same file, neither written nor replaced since `earlier` was taken of it.
    bool UnchangedSince(const FileIdentity& earlier) const {
        return SameFileAs(earlier) && size == earlier.size && modified == earlier.modified;
    }
};

// What `path` reaches, links followed; the system's "no such file" when nothing is there.
bool IdentifyPath(const std::string& path, FileIdentity& identity, SystemError& error);

// The permissions of a new file made from `input`: its owner may read and write it, and no
// one else may who may not do so with the input. Where an access list decides who may read
// the input, the mode bits cannot say it: the owner alone may.
inline unsigned NewFilePermissions(const FileIdentity& input) {
    if (!input.regular)
        return 0666;
    return input.extendedAccess ? 0600 : 0600 | (input.permissions & 0066);
}

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

    // An existing file, for reading, as a user names it: a link is followed. A folder
    // fails.
    static File OpenForReading(const std::string& path, SystemError& error);
    // For writing: created if missing, with `permissions` less the umask (`created` says
    // so), and never truncated here.
    static File OpenForWriting(const std::string& path, unsigned permissions, SystemError& error,
                               bool* created = nullptr);
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
    // For a file just made from `input`: its group may read it only if it is the input's
    // group too, which the folder may not have given it.
    bool WithholdFromOtherGroup(const FileIdentity& input, SystemError& error);
    // Forces the contents to the disk.
    bool Sync(SystemError& error);
    // 0, or the error of a failed close. A lent handle is only let go.
    SystemError Close();

private:
    friend class Folder;
    friend class PendingFile;
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

// A folder held open while what lies in it is listed, opened and replaced by name. A name
// given to it is one part, without a separator, and a symbolic link (on Windows, any
// reparse point) in its place is never followed: nothing done through a Folder reaches
// outside it, even if the tree is changed meanwhile.
class Folder {
public:
    enum class Kind { Regular, Folder, Link, Other };
    struct Entry {
        std::string name;
        Kind kind;
    };

    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // The folder as the user named it: links on the way are followed. With `make`, any
    // missing folders above it are made first, and then it, with `permissions` less the
    // umask.
    static Folder Open(const std::string& path, bool make, SystemError& error,
                       unsigned permissions = 0777);
    // The folder `name` in this one, made first (with `permissions`, less the umask) when
    // `make` and missing.
    Folder Child(const std::string& name, bool make, SystemError& error,
                 unsigned permissions = 0777) const;

    bool IsOpen() const;
    // The path it was reached by, for messages.
    const std::string& Path() const { return m_path; }
    // Every entry but "." and "..", in no particular order.
    bool List(std::vector<Entry>& entries, SystemError& error) const;
    // The regular file `name`, for reading. Anything else fails (kIsLink, kNotRegularFile)
    // without being opened, so that no FIFO or device is waited on or set off.
    File OpenRegular(const std::string& name, SystemError& error) const;
    // What `name` is, a link taken as itself; the system's "no such file" when nothing is.
    bool Identify(const std::string& name, FileIdentity& identity, Kind& kind,
                  SystemError& error) const;
    // The folder itself.
    bool Identify(FileIdentity& identity, SystemError& error) const;
    // Whether this user may write to the file `name` itself, as cp would.
    bool Writable(const std::string& name) const;
    // Makes the names given in this folder survive a crash.
    bool Sync(SystemError& error) const;

private:
    friend class PendingFile;
    std::string m_path;
#ifdef _WIN32
    std::wstring Inside(const std::string& name) const;

    void* m_handle = reinterpret_cast<void*>(-1);
#else
    int m_fd = -1;
#endif
};

// A file that takes its name in a folder only once it is complete. Until Publish it has
// no name (where the system allows) or a hidden one beside the final name,
// ".NAME.XXXXXXXXXXXXXXXX.quorvex-part" (NAME cut short to keep within the system's
// limit), which only a killed run leaves behind. Unless published, it is gone with the
// object.
class PendingFile {
public:
    static constexpr const char* kSuffix = ".quorvex-part";

    // A new file for `name` in `folder`, created with `permissions` less the umask.
    PendingFile(const Folder& folder, const std::string& name, unsigned permissions,
                SystemError& error);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool IsOpen() const { return m_file.IsOpen(); }
    File& Contents() { return m_file; }
    // Gives the file what `original` has beside its contents, or with none, the regular
    // file now called `name` (a link there is refused): owner and group where the system
    // allows (else no set-user-ID or set-group-ID bit), permissions, access control list
    // and the user's extended attributes. On Windows Publish does this as it replaces
    // the file.
    bool KeepAttributesOf(const File* original, SystemError& error);
    // Closes the file and gives it its name in one step: in place of any file of that
    // name when `replace`, else only while the name is free (the system's "file exists"
    // otherwise). With a `backup` name, the file it replaces keeps that name first.
    bool Publish(bool replace, const std::string& backup, SystemError& error);

private:
    const Folder& m_folder;
    std::string m_name;
    std::string m_hidden; // empty while the file has no name
    File m_file;
};

// A hidden name beside `name`, unique to this call, that fits in a folder entry.
std::string HiddenNameFor(const std::string& name);

} // namespace quorvex
