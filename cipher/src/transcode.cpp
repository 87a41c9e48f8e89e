#include "quorvex/transcode.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quorvex {

namespace {

// A file of the run: opened by it, or lent by the caller.
struct RunFile {
    RunFile() = default;
    RunFile(const RunFile&) = delete;
    RunFile& operator=(const RunFile&) = delete;

    File owned;
    File* file = &owned;
    FileIdentity identity;
    std::string failure; // empty once the file is open

    bool Failed() const { return !failure.empty(); }
    bool Identify() {
        SystemError error = 0;
        if (!file->Identify(identity, error))
            failure = DescribeError(error);
        return !Failed();
    }
};

void OpenInput(const FileRef& ref, RunFile& in) {
    SystemError error = 0;
    if (ref.opened)
        in.file = ref.opened;
    else
        in.owned = ref.standard ? File::StandardInput() : File::OpenForReading(ref.name, error);
    if (in.file->IsOpen())
        in.Identify();
    else
        in.failure = DescribeError(error);
}

// Truncation waits until the output is known not to be the input, which is then
// left exactly as it was. A new output is no more open than its input.
void OpenOutput(const FileRef& ref, const FileIdentity& input, RunFile& out) {
    SystemError error = 0;
    bool created = false;
    out.owned = ref.standard
                    ? File::StandardOutput()
                    : File::OpenForWriting(ref.name, NewFilePermissions(input), error, &created);
    if (!out.file->IsOpen() || (created && !out.file->WithholdFromOtherGroup(input, error)))
        out.failure = DescribeError(error);
    else if (!out.Identify())
        return;
    else if (out.identity.SameFileAs(input))
        out.failure = "input and output are the same file";
    // Truncating an empty file would change nothing, yet some file systems then write
    // it out at close as if it had replaced an old one.
    else if (!ref.standard && out.identity.regular && out.identity.size > 0 &&
             !out.file->Truncate(error))
        out.failure = DescribeError(error);
}

// What the caller read already, then the rest of the file.
class FileSource : public ByteSource {
public:
    FileSource(File& file, std::string_view front, const std::atomic<bool>* stop)
        : m_file(file), m_front(front), m_stop(stop) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error) override {
        if (m_stop && *m_stop) {
            error = kInterrupted;
            return -1;
        }
        if (m_front.empty())
            return m_file.Read(buffer, capacity, error);
        const std::size_t n = std::min(capacity, m_front.size());
        std::copy_n(m_front.data(), n, buffer);
        m_front.remove_prefix(n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    File& m_file;
    std::string_view m_front;
    const std::atomic<bool>* m_stop;
};

class FileSink : public ByteSink {
public:
    explicit FileSink(File& file) : m_file(file) {}
    bool Write(const char* data, std::size_t size, SystemError& error) override {
        return m_file.Write(data, size, error);
    }

private:
    File& m_file;
};

TranscodeResult Fail(MessageSink& sink, RunOutcome outcome, std::string_view message, FileRole role,
                     std::string reason) {
    sink.Show(message);
    return {outcome, role, std::move(reason)};
}

} // namespace

StreamResult TranscodeOpened(File& input, std::string_view front, File& output, CipherMode mode,
                             CipherKey key, const StreamOptions& options,
                             const std::atomic<bool>* stop) {
    FileSink target(output);
    return TranscodeOpened(input, front, target, mode, key, options, stop);
}

StreamResult TranscodeOpened(File& input, std::string_view front, ByteSink& output, CipherMode mode,
                             CipherKey key, const StreamOptions& options,
                             const std::atomic<bool>* stop) {
    FileSource source(input, front, stop);
    return TranscodeStream(source, output, mode, key, options);
}

TranscodeResult RunTranscode(const FileRef& input, const FileRef& output, CipherMode mode,
                             CipherKey key, MessageSink& sink, const StreamOptions& options) {
    RunFile in;
    OpenInput(input, in);
    sink.Show(messages::kInputOpening);
    if (in.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Input,
                    in.failure);

    RunFile out;
    OpenOutput(output, in.identity, out);
    sink.Show(messages::kOutputOpening);
    if (out.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Output,
                    out.failure);

    sink.Show(messages::kFilesOpen);
    if (mode != kEncrypt && mode != kDecrypt)
        return {};

    sink.Show(mode == kEncrypt ? messages::kStartEncrypt : messages::kStartDecrypt);
    const StreamResult stream =
        TranscodeOpened(*in.file, input.front, *out.file, mode, key, options);
    if (stream.status == StreamStatus::ReadFailed)
        return Fail(sink, RunOutcome::ReadFailed, messages::kReadFailed, FileRole::Input,
                    DescribeError(stream.error));
    if (stream.status == StreamStatus::WriteFailed)
        return Fail(sink, RunOutcome::WriteFailed, messages::kWriteFailed, FileRole::Output,
                    DescribeError(stream.error));

    // Enciphering reports the files closed once they are; deciphering says so first and
    // closes afterwards. Either way the output is complete while the message shows.
    if (mode == kDecrypt)
        sink.Show(messages::kCloseFiles);
    in.file->Close();
    if (const SystemError error = out.file->Close(); error != 0)
        return Fail(sink, RunOutcome::WriteFailed, messages::kWriteFailed, FileRole::Output,
                    DescribeError(error));
    if (mode == kEncrypt)
        sink.Show(messages::kCloseFiles);
    TranscodeResult done;
    done.lossyBytes = stream.lossyBytes;
    done.firstLossyLine = stream.firstLossyLine;
    return done;
}

std::string LossyBytesMessage(std::uint64_t count, std::uint64_t firstLine, std::string_view file,
                              std::string_view back) {
    return std::to_string(count) + (count == 1 ? " byte of " : " bytes of ") + std::string(file) +
           " will not " + std::string(back) + " as they were, the first on line " +
           std::to_string(firstLine) + " (" + std::string(messages::kWhatComesBack) + ")";
}

void TranscodeFiles(const std::string& inputPath, const std::string& outputPath, CipherMode mode,
                    GameSelection game, MessageSink& sink) {
    const TranscodeResult result = RunTranscode(FileRef::Path(inputPath), FileRef::Path(outputPath),
                                                mode, CipherKey::ForGame(game), sink);
    if (result.Failed())
        std::exit(EXIT_FAILURE);
    if (mode == kEncrypt && result.lossyBytes > 0)
        sink.Show(
            LossyBytesMessage(result.lossyBytes, result.firstLossyLine, "'" + inputPath + "'"));
}

} // namespace quorvex
