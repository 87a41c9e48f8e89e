#include "quorvex/file.h"
#include "quorvex/utf16.h"

#include <windows.h>

#include <string>
#include <utility>

namespace quorvex {

namespace {

// ERROR_DIRECTORY_NOT_SUPPORTED, which the mingw-w64 headers lack.
constexpr DWORD kFolderError = 336;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile count in DWORDs; stay well below.
constexpr std::size_t kMaxTransfer = 1u << 30;

SystemError LastError() {
    return static_cast<SystemError>(::GetLastError());
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string DescribeError(SystemError error) {
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
        return error == static_cast<SystemError>(kFolderError) ? "Is a folder"
                                                               : "error " + std::to_string(error);
    return message;
}

File File::OpenForReading(const std::string& path, SystemError& error) {
    const std::wstring wide = WidePath(path);
    File file(::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
              true);
    if (!file.IsOpen())
        error = IsFolder(wide) ? kFolderError : LastError();
    return file;
}

File File::OpenForWriting(const std::string& path, SystemError& error) {
    const std::wstring wide = WidePath(path);
    File file(::CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr),
              true);
    if (!file.IsOpen())
        error = IsFolder(wide) ? kFolderError : LastError();
    return file;
}

// Hidden while it is being written; Replace shows it again as it takes the final name.
File File::CreateNew(const std::string& path, std::optional<unsigned>, SystemError& error) {
    File file(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_HIDDEN, nullptr),
              true);
    if (!file.IsOpen())
        error = LastError();
    return file;
}

// Windows names every file it creates: pending files take a hidden name instead.
File File::CreateUnnamed(const std::string&, std::optional<unsigned>, SystemError& error) {
    error = ERROR_NOT_SUPPORTED;
    return {};
}

bool File::LinkTo(const std::string&, SystemError& error) {
    error = ERROR_NOT_SUPPORTED;
    return false;
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
    if (!::GetFileInformationByHandle(m_handle, &info))
        return true;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.regular = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
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

namespace files {

bool Permissions(const std::string& path, unsigned& permissions, SystemError& error) {
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = LastError();
        return false;
    }
    permissions = attributes & FILE_ATTRIBUTE_READONLY ? 0444 : 0666;
    return true;
}

bool Replace(const std::string& from, const std::string& to, SystemError& error) {
    const std::wstring source = WidePath(from);
    if (::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL) &&
        ::MoveFileExW(source.c_str(), WidePath(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = LastError();
    return false;
}

bool Link(const std::string& from, const std::string& to, SystemError& error) {
    const std::wstring name = WidePath(to);
    ::DeleteFileW(name.c_str());
    if (::CreateHardLinkW(name.c_str(), WidePath(from).c_str(), nullptr))
        return true;
    error = LastError();
    return false;
}

// MoveFileExW with MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk.
bool SyncFolder(const std::string&, SystemError&) {
    return true;
}

bool Remove(const std::string& path) {
    return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

} // namespace files

} // namespace quorvex
