#include "quorvex/file.h"
#include "quorvex/utf16.h"

#include <windows.h>

#include <string>
#include <utility>

namespace quorvex {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile count in DWORDs; stay well below.
constexpr std::size_t kMaxTransfer = 1u << 30;

SystemError LastError() {
    return static_cast<SystemError>(::GetLastError());
}

const HANDLE kNoHandle = INVALID_HANDLE_VALUE;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.regular =
        !(info.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified =
        static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    identity.permissions = info.dwFileAttributes & FILE_ATTRIBUTE_READONLY ? 0444 : 0666;
    return identity;
}

Folder::Kind KindOf(DWORD attributes) {
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? Folder::Kind::Link
           : attributes & FILE_ATTRIBUTE_DIRECTORY   ? Folder::Kind::Folder
           : attributes & FILE_ATTRIBUTE_DEVICE      ? Folder::Kind::Other
                                                     : Folder::Kind::Regular;
}

SystemError KindError(Folder::Kind kind) {
    return kind == Folder::Kind::Link ? kIsLink : kNotRegularFile;
}

// What a file or folder is, read through a handle opened for no more than that.
bool InformationAt(const std::wstring& path, DWORD flags, BY_HANDLE_FILE_INFORMATION& info,
                   SystemError& error) {
    const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    const bool known =
        handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info);
    error = known ? 0 : LastError();
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return known;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string SystemMessage(SystemError error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? ToUtf8(std::wstring(text, length)) : std::string();
    ::LocalFree(text);
    // The system's sentences end in a full stop and a line end; the tool adds its own.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty())
        return "error " + std::to_string(error);
    return message;
}

bool IsNoSuchFile(SystemError error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsFileExists(SystemError error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

bool IsOutOfHandles(SystemError error) {
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES;
}

bool IdentifyPath(const std::string& path, FileIdentity& identity, SystemError& error) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!InformationAt(WidePath(path), 0, info, error))
        return false;
    identity = IdentityOf(info);
    return true;
}

File File::OpenForReading(const std::string& path, SystemError& error) {
    const std::wstring wide = WidePath(path);
    File file(::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
              true);
    if (!file.IsOpen())
        error = IsFolder(wide) ? kIsFolder : LastError();
    return file;
}

File File::OpenForWriting(const std::string& path, unsigned, SystemError& error, bool* created) {
    const std::wstring wide = WidePath(path);
    File file(::CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr),
              true);
    if (created)
        *created = file.IsOpen() && ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (!file.IsOpen())
        error = IsFolder(wide) ? kIsFolder : LastError();
    return file;
}

// A new file takes its security from its folder.
bool File::WithholdFromOtherGroup(const FileIdentity&, SystemError&) {
    return true;
}

File File::StandardInput() {
    return {::GetStdHandle(STD_INPUT_HANDLE), false};
}

File File::StandardOutput() {
    return {::GetStdHandle(STD_OUTPUT_HANDLE), false};
}

bool File::IsOpen() const {
    return m_handle != kNone && m_handle != nullptr;
}

bool File::Identify(FileIdentity& identity, SystemError&) const {
    identity = {};
    if (::GetFileType(m_handle) != FILE_TYPE_DISK)
        return true; // a pipe or a console: never the same file as another
    BY_HANDLE_FILE_INFORMATION info{};
    // Wine cannot tell this of a standard handle redirected from a file: it is then
    // taken for a stream, which nothing else can be the same file as.
    if (::GetFileInformationByHandle(m_handle, &info))
        identity = IdentityOf(info);
    return true;
}

std::ptrdiff_t File::Read(char* buffer, std::size_t capacity, SystemError& error) {
    DWORD got = 0;
    if (::ReadFile(m_handle, buffer,
                   static_cast<DWORD>(capacity < kMaxTransfer ? capacity : kMaxTransfer), &got,
                   nullptr))
        return static_cast<std::ptrdiff_t>(got);
    const DWORD failure = ::GetLastError();
    // The writing end of a pipe has closed: that is its end of file.
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF)
        return 0;
    error = static_cast<SystemError>(failure);
    return -1;
}

bool File::Write(const char* data, std::size_t size, SystemError& error) {
    while (size > 0) {
        DWORD wrote = 0;
        if (!::WriteFile(m_handle, data,
                         static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer), &wrote,
                         nullptr)) {
            error = LastError();
            return false;
        }
        if (wrote == 0) {
            error = ERROR_DISK_FULL;
            return false;
        }
        data += wrote;
        size -= wrote;
    }
    return true;
}

bool File::Truncate(SystemError& error) {
    LARGE_INTEGER start{};
    if (::SetFilePointerEx(m_handle, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_handle))
        return true;
    error = LastError();
    return false;
}

bool File::Sync(SystemError& error) {
    if (::FlushFileBuffers(m_handle))
        return true;
    error = LastError();
    return false;
}

SystemError File::Close() {
    const Handle handle = std::exchange(m_handle, kNone);
    if (handle == kNone || handle == nullptr || !m_owned)
        return 0;
    return ::CloseHandle(handle) ? 0 : LastError();
}

Folder::Folder(Folder&& other) noexcept
    : m_path(std::move(other.m_path)), m_handle(std::exchange(other.m_handle, kNoHandle)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    std::swap(m_path, other.m_path);
    std::swap(m_handle, other.m_handle);
    return *this;
}

Folder::~Folder() {
    if (m_handle != kNoHandle)
        ::CloseHandle(m_handle);
}

// Held without FILE_SHARE_DELETE: while the handle is open, nobody can rename the folder
// or put anything else in its place.
Folder Folder::Open(const std::string& path, bool make, SystemError& error, unsigned) {
    const std::string named = path.empty() ? "." : path;
    // Each folder on the way is made if missing; the open below tells what failed.
    for (std::size_t at = 0; make && at != std::string::npos;) {
        at = named.find_first_of("/\\", at + 1);
        ::CreateDirectoryW(WidePath(named.substr(0, at)).c_str(), nullptr);
    }
    Folder folder;
    folder.m_handle = ::CreateFileW(WidePath(named).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (folder.m_handle == kNoHandle || !::GetFileInformationByHandle(folder.m_handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = folder.m_handle == kNoHandle ? LastError() : ERROR_DIRECTORY;
        return {};
    }
    folder.m_path = path;
    return folder;
}

// A folder takes its security from the one it is made in.
Folder Folder::Child(const std::string& name, bool make, SystemError& error, unsigned) const {
    const std::wstring wide = Inside(name);
    if (make && !::CreateDirectoryW(wide.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = LastError();
        return {};
    }
    Folder child;
    child.m_handle = ::CreateFileW(
        wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (child.m_handle == kNoHandle || !::GetFileInformationByHandle(child.m_handle, &info)) {
        error = LastError();
        return {};
    }
    const DWORD attributes = info.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? kIsLink : ERROR_DIRECTORY;
        return {};
    }
    child.m_path = m_path.empty() || m_path.ends_with('\\') || m_path.ends_with('/')
                       ? m_path + name
                       : m_path + "\\" + name;
    return child;
}

bool Folder::IsOpen() const {
    return m_handle != kNoHandle;
}

bool Folder::List(std::vector<Entry>& entries, SystemError& error) const {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(Inside("*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        error = LastError();
        return false;
    }
    entries.clear();
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({ToUtf8(name), KindOf(found.dwFileAttributes)});
    } while (::FindNextFileW(search, &found));
    const DWORD ended = ::GetLastError();
    ::FindClose(search);
    if (ended == ERROR_NO_MORE_FILES)
        return true;
    error = static_cast<SystemError>(ended);
    return false;
}

File Folder::OpenRegular(const std::string& name, SystemError& error) const {
    File file(::CreateFileW(Inside(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
              true);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.IsOpen()) {
        const DWORD attributes = ::GetFileAttributesW(Inside(name).c_str());
        error = attributes != INVALID_FILE_ATTRIBUTES ? KindError(KindOf(attributes)) : LastError();
        return {};
    }
    if (!::GetFileInformationByHandle(file.m_handle, &info) ||
        ::GetFileType(file.m_handle) != FILE_TYPE_DISK ||
        KindOf(info.dwFileAttributes) != Kind::Regular) {
        error = KindError(KindOf(info.dwFileAttributes));
        return {};
    }
    return file;
}

bool Folder::Identify(const std::string& name, FileIdentity& identity, Kind& kind,
                      SystemError& error) const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!InformationAt(Inside(name), FILE_FLAG_OPEN_REPARSE_POINT, info, error))
        return false;
    identity = IdentityOf(info);
    kind = KindOf(info.dwFileAttributes);
    return true;
}

bool Folder::Identify(FileIdentity& identity, SystemError& error) const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(m_handle, &info)) {
        error = LastError();
        return false;
    }
    identity = IdentityOf(info);
    return true;
}

bool Folder::Writable(const std::string& name) const {
    const DWORD attributes = ::GetFileAttributesW(Inside(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

// MoveFileExW and ReplaceFileW with write-through return only once the rename is on the disk.
bool Folder::Sync(SystemError&) const {
    return true;
}

std::wstring Folder::Inside(const std::string& name) const {
    const std::string folder = m_path.empty() ? "." : m_path;
    return WidePath(folder.ends_with('\\') || folder.ends_with('/') ? folder + name
                                                                    : folder + "\\" + name);
}

// Hidden while it is being written; it shows again as it takes the final name.
PendingFile::PendingFile(const Folder& folder, const std::string& name, unsigned,
                         SystemError& error)
    : m_folder(folder), m_name(name), m_hidden(HiddenNameFor(name)) {
    m_file = File(::CreateFileW(folder.Inside(m_hidden).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr),
                  true);
    if (!m_file.IsOpen()) {
        error = LastError();
        m_hidden.clear();
    }
}

PendingFile::~PendingFile() {
    m_file.Close();
    if (!m_hidden.empty())
        ::DeleteFileW(m_folder.Inside(m_hidden).c_str());
}

bool PendingFile::KeepAttributesOf(const File*, SystemError&) {
    return true;
}

// ReplaceFileW keeps the old file's security and attributes on the new one; a read-only
// file is made writable for the moment of the replacement, and read-only again after.
// The old file always goes to a backup name first, so that no failure halfway leaves it
// without a name.
bool PendingFile::Publish(bool replace, const std::string& backup, SystemError& error) {
    if (const SystemError closed = m_file.Close(); closed != 0) {
        error = closed;
        return false;
    }
    const std::wstring hidden = m_folder.Inside(m_hidden);
    const std::wstring target = m_folder.Inside(m_name);
    const DWORD old = ::GetFileAttributesW(target.c_str());
    if (!replace || old == INVALID_FILE_ATTRIBUTES) {
        if (!::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL) ||
            !::MoveFileExW(hidden.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            error = LastError();
            return false;
        }
        m_hidden.clear();
        return true;
    }
    const std::wstring kept = m_folder.Inside(HiddenNameFor(backup.empty() ? m_name : backup));
    const bool readOnly = old & FILE_ATTRIBUTE_READONLY;
    const bool replaced =
        (!readOnly || ::SetFileAttributesW(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY)) &&
        ::ReplaceFileW(target.c_str(), hidden.c_str(), kept.c_str(),
                       REPLACEFILE_WRITE_THROUGH | REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr);
    const DWORD why = ::GetLastError();
    if (!replaced) {
        // Moved to the backup name but not replaced: the old file takes its name back.
        if (why == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
            ::MoveFileExW(kept.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        if (readOnly)
            ::SetFileAttributesW(target.c_str(), old);
        error = static_cast<SystemError>(why);
        return false;
    }
    m_hidden.clear();
    if (readOnly)
        ::SetFileAttributesW(target.c_str(), old);
    if (backup.empty()) {
        ::SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(kept.c_str());
    } else if (!::MoveFileExW(kept.c_str(), m_folder.Inside(backup).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastError();
        return false;
    }
    return true;
}

} // namespace quorvex
