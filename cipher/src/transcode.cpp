#include "quorvex/transcode.h"

#include "quorvex/line_stream.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quorvex {

namespace {

std::string Describe(int error) {
    return std::generic_category().message(error);
}

// A descriptor of the run: closed on scope exit unless the caller lent it.
class RunFile {
public:
    RunFile() = default;
    RunFile(int fd, bool owned) : m_fd(fd), m_owned(owned) {}
    RunFile(RunFile&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_owned(other.m_owned) {}
    RunFile& operator=(RunFile&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        std::swap(m_owned, other.m_owned);
        return *this;
    }
    ~RunFile() { Close(); }

    int fd() const { return m_fd; }

    // 0, or the errno of a failed close.
    int Close() {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0 || !m_owned)
            return 0;
        return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int m_fd = -1;
    bool m_owned = false;
};

struct Opened {
    RunFile file;
    struct stat status {};
    std::string failure; // empty once the file is open

    bool Failed() const { return !failure.empty(); }
};

Opened OpenFailure(std::string reason) {
    Opened result;
    result.failure = std::move(reason);
    return result;
}

Opened OpenFailure(int error) {
    return OpenFailure(Describe(error));
}

Opened Adopt(const FileRef& ref, int flags, mode_t mode) {
    const bool owned = ref.descriptor < 0;
    const int fd = owned ? ::open(ref.name.c_str(), flags | O_CLOEXEC, mode) : ref.descriptor;
    if (fd < 0)
        return OpenFailure(errno);
    Opened result;
    result.file = RunFile(fd, owned);
    if (::fstat(fd, &result.status) != 0)
        return OpenFailure(errno);
    return result;
}

Opened OpenInput(const FileRef& ref) {
    Opened in = Adopt(ref, O_RDONLY, 0);
    if (!in.Failed() && S_ISDIR(in.status.st_mode))
        return OpenFailure(EISDIR);
    return in;
}

bool SameRegularFile(const struct stat& a, const struct stat& b) {
    return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Truncation waits until the output is known not to be the input, which is then
// left exactly as it was.
Opened OpenOutput(const FileRef& ref, const struct stat& input) {
    Opened out = Adopt(ref, O_WRONLY | O_CREAT, 0666);
    if (out.Failed())
        return out;
    if (SameRegularFile(out.status, input))
        return OpenFailure("input and output are the same file");
    // Truncating an empty file would change nothing, yet some file systems then write
    // it out at close as if it had replaced an old one.
    if (ref.descriptor < 0 && S_ISREG(out.status.st_mode) && out.status.st_size > 0 &&
        ::ftruncate(out.file.fd(), 0) != 0)
        return OpenFailure(errno);
    return out;
}

class FdSource : public ByteSource {
public:
    explicit FdSource(int fd) : m_fd(fd) {}
    ssize_t Read(char* buffer, std::size_t capacity) override {
        return ::read(m_fd, buffer, capacity);
    }

private:
    int m_fd;
};

class FdSink : public ByteSink {
public:
    explicit FdSink(int fd) : m_fd(fd) {}
    bool Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = ENOSPC;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int m_fd;
};

TranscodeResult Fail(MessageSink& sink, RunOutcome outcome, std::string_view message, FileRole role,
                     std::string reason) {
    sink.Show(message);
    return {outcome, role, std::move(reason)};
}

} // namespace

TranscodeResult RunTranscode(const FileRef& input, const FileRef& output, CipherMode mode,
                             CipherKey key, MessageSink& sink) {
    Opened in = OpenInput(input);
    sink.Show(messages::kInputOpening);
    if (in.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Input,
                    in.failure);

    Opened out = OpenOutput(output, in.status);
    sink.Show(messages::kOutputOpening);
    if (out.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Output,
                    out.failure);

    sink.Show(messages::kFilesOpen);
    if (mode != kEncrypt && mode != kDecrypt)
        return {};

    sink.Show(mode == kEncrypt ? messages::kStartEncrypt : messages::kStartDecrypt);
    FdSource source(in.file.fd());
    FdSink target(out.file.fd());
    const StreamResult stream = TranscodeStream(source, target, mode, key);
    if (stream.status == StreamStatus::ReadFailed)
        return Fail(sink, RunOutcome::ReadFailed, messages::kReadFailed, FileRole::Input,
                    Describe(stream.error));
    if (stream.status == StreamStatus::WriteFailed)
        return Fail(sink, RunOutcome::WriteFailed, messages::kWriteFailed, FileRole::Output,
                    Describe(stream.error));

    // Enciphering reports the files closed once they are; deciphering says so first and
    // closes afterwards. Either way the output is complete while the message shows.
    if (mode == kDecrypt)
        sink.Show(messages::kCloseFiles);
    in.file.Close();
    if (const int error = out.file.Close(); error != 0)
        return Fail(sink, RunOutcome::WriteFailed, messages::kWriteFailed, FileRole::Output,
                    Describe(error));
    if (mode == kEncrypt)
        sink.Show(messages::kCloseFiles);
    TranscodeResult done;
    done.lossyBytes = stream.lossyBytes;
    done.firstLossyLine = stream.firstLossyLine;
    return done;
}

void TranscodeFiles(const std::string& inputPath, const std::string& outputPath, CipherMode mode,
                    GameSelection game, MessageSink& sink) {
    if (RunTranscode(FileRef::Path(inputPath), FileRef::Path(outputPath), mode, game, sink)
            .Failed())
        std::exit(EXIT_FAILURE);
}

} // namespace quorvex
