#include "quorvex/transcode.h"

#include <cstdlib>
#include <utility>

namespace quorvex {

namespace {

struct Opened {
    File file;
    FileIdentity identity;
    std::string failure; // empty once the file is open

    bool Failed() const { return !failure.empty(); }
};

Opened OpenFailure(std::string reason) {
    Opened result;
    result.failure = std::move(reason);
    return result;
}

Opened Identified(File file) {
    Opened result;
    SystemError error = 0;
    if (!file.Identify(result.identity, error))
        return OpenFailure(DescribeError(error));
    result.file = std::move(file);
    return result;
}

Opened OpenInput(const FileRef& ref) {
    if (ref.standard)
        return Identified(File::StandardInput());
    SystemError error = 0;
    File file = File::OpenForReading(ref.name, error);
    return file.IsOpen() ? Identified(std::move(file)) : OpenFailure(DescribeError(error));
}

// Truncation waits until the output is known not to be the input, which is then
// left exactly as it was.
Opened OpenOutput(const FileRef& ref, const FileIdentity& input) {
    SystemError error = 0;
    File file = ref.standard ? File::StandardOutput() : File::OpenForWriting(ref.name, error);
    if (!file.IsOpen())
        return OpenFailure(DescribeError(error));
    Opened out = Identified(std::move(file));
    if (out.Failed())
        return out;
    if (out.identity.SameFileAs(input))
        return OpenFailure("input and output are the same file");
    // Truncating an empty file would change nothing, yet some file systems then write
    // it out at close as if it had replaced an old one.
    if (!ref.standard && out.identity.regular && out.identity.size > 0 && !out.file.Truncate(error))
        return OpenFailure(DescribeError(error));
    return out;
}

class FileSource : public ByteSource {
public:
    explicit FileSource(File& file) : m_file(file) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error) override {
        return m_file.Read(buffer, capacity, error);
    }

private:
    File& m_file;
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

StreamResult TranscodeFile(File& input, File& output, CipherMode mode, CipherKey key,
                           const StreamOptions& options) {
    FileSource source(input);
    FileSink target(output);
    return TranscodeStream(source, target, mode, key, options);
}

TranscodeResult RunTranscode(const FileRef& input, const FileRef& output, CipherMode mode,
                             CipherKey key, MessageSink& sink, const StreamOptions& options) {
    Opened in = OpenInput(input);
    sink.Show(messages::kInputOpening);
    if (in.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Input,
                    in.failure);

    Opened out = OpenOutput(output, in.identity);
    sink.Show(messages::kOutputOpening);
    if (out.Failed())
        return Fail(sink, RunOutcome::OpenFailed, messages::kOpenFailed, FileRole::Output,
                    out.failure);

    sink.Show(messages::kFilesOpen);
    if (mode != kEncrypt && mode != kDecrypt)
        return {};

    sink.Show(mode == kEncrypt ? messages::kStartEncrypt : messages::kStartDecrypt);
    const StreamResult stream = TranscodeFile(in.file, out.file, mode, key, options);
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
    in.file.Close();
    if (const SystemError error = out.file.Close(); error != 0)
        return Fail(sink, RunOutcome::WriteFailed, messages::kWriteFailed, FileRole::Output,
                    DescribeError(error));
    if (mode == kEncrypt)
        sink.Show(messages::kCloseFiles);
    TranscodeResult done;
    done.lossyBytes = stream.lossyBytes;
    done.firstLossyLine = stream.firstLossyLine;
    return done;
}

std::string LossyBytesMessage(std::uint64_t count, std::uint64_t firstLine, std::string_view file) {
    return std::to_string(count) + (count == 1 ? " byte of " : " bytes of ") + std::string(file) +
           " will not decipher back as they were, the first on line " + std::to_string(firstLine) +
           " (" + std::string(messages::kWhatComesBack) + ")";
}

void TranscodeFiles(const std::string& inputPath, const std::string& outputPath, CipherMode mode,
                    GameSelection game, MessageSink& sink) {
    const TranscodeResult result =
        RunTranscode(FileRef::Path(inputPath), FileRef::Path(outputPath), mode, game, sink);
    if (result.Failed())
        std::exit(EXIT_FAILURE);
    if (mode == kEncrypt && result.lossyBytes > 0)
        sink.Show(
            LossyBytesMessage(result.lossyBytes, result.firstLossyLine, "'" + inputPath + "'"));
}

} // namespace quorvex
