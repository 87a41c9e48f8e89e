#pragma once

// One run: open the input and output files, transcode every line, and report each
// stage to the user through a message sink.

#include "quorvex/cipher.h"
#include "quorvex/file.h"
#include "quorvex/line_stream.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quorvex {

namespace messages {
inline constexpr std::string_view kInputOpening = "Input File is Opening.";
inline constexpr std::string_view kOutputOpening = "Output File is Opening.";
inline constexpr std::string_view kFilesOpen = "Files are Open.";
inline constexpr std::string_view kStartEncrypt = "Start Encrypt.";
inline constexpr std::string_view kStartDecrypt = "Start Decrypt.";
inline constexpr std::string_view kCloseFiles = "Close Files.";
inline constexpr std::string_view kOpenFailed = "File could not be opened.";
inline constexpr std::string_view kReadFailed = "File could not be read.";
inline constexpr std::string_view kWriteFailed = "File could not be written.";
inline constexpr std::string_view kWhatComesBack =
    "only printable ASCII, tab and the Latin-1 letters ä ö ü á ó í come back";
// The dialog's menu entry "&Operation".
inline constexpr std::string_view kOperation =
    "Enter Input & Output files. Select Encrypt/Decrypt/game and press Execute";
} // namespace messages

// Tells that `count` bytes of `file` (as it is to be shown) will not come back from a
// round trip, the first of them on line `firstLine`: they will not `back` as they were.
std::string LossyBytesMessage(std::uint64_t count, std::uint64_t firstLine, std::string_view file,
                              std::string_view back = "decipher back");

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows one text and returns once the user has acknowledged it.
    virtual void Show(std::string_view text) = 0;
};

// A file of a run: a path the run opens, the process's standard input or output, which
// the run neither truncates nor closes, or an input the caller opened and began to read
// (to judge it), whose `front` the run takes before it reads on.
struct FileRef {
    std::string name;
    bool standard = false;
    File* opened = nullptr;
    std::string_view front;

    static FileRef Path(std::string path) { return {std::move(path), false, nullptr, {}}; }
    static FileRef Standard(std::string name) { return {std::move(name), true, nullptr, {}}; }
    static FileRef Opened(std::string name, File& file, std::string_view front) {
        return {std::move(name), false, &file, front};
    }
};

enum class RunOutcome { Completed, OpenFailed, ReadFailed, WriteFailed };
enum class FileRole { Input, Output };

struct TranscodeResult {
    RunOutcome outcome = RunOutcome::Completed;
    FileRole role = FileRole::Input; // which file failed
    std::string reason;              // why, in the system's words
    // Of a completed run: bytes a round trip would not give back, and the first line
    // (from 1) holding one.
    std::uint64_t lossyBytes = 0;
    std::uint64_t firstLossyLine = 0;

    bool Failed() const { return outcome != RunOutcome::Completed; }
};

// Performs one run and reports how it ended; never ends the process.
TranscodeResult RunTranscode(const FileRef& input, const FileRef& output, CipherMode mode,
                             CipherKey key, MessageSink& sink, const StreamOptions& options = {});

// One open file into another, from where each stands, `front` first as if read from
// `input`; neither is closed. Once `stop` is set, the next read fails as interrupted.
StreamResult TranscodeOpened(File& input, std::string_view front, File& output, CipherMode mode,
                             CipherKey key, const StreamOptions& options = {},
                             const std::atomic<bool>* stop = nullptr);
StreamResult TranscodeOpened(File& input, std::string_view front, ByteSink& output, CipherMode mode,
                             CipherKey key, const StreamOptions& options = {},
                             const std::atomic<bool>* stop = nullptr);

// The dialog's run: a failure, once its message is acknowledged, ends the process with
// exit status 1. An encrypt run that met bytes which will not come back says so after
// its last message.
void TranscodeFiles(const std::string& inputPath, const std::string& outputPath, CipherMode mode,
                    GameSelection game, MessageSink& sink);

} // namespace quorvex
