// quorvex-cli edit: decipher into a private file, let the user's editor change it, and
// encipher it back in place, unless nothing changed or the user keeps it from being
// written. Once the editor has run, the edited text is never thrown away: whatever keeps
// it from being written back, it stays where it is and its path is named.

#include "platform.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace tool {

namespace {

// Tells whether what is written equals the rest of `file`, read alongside.
class SameAs : public quorvex::ByteSink {
public:
    explicit SameAs(quorvex::File& file) : m_file(file) {}

    bool Write(const char* data, std::size_t size, quorvex::SystemError& error) override {
        m_buffer.resize(size);
        std::size_t got = 0;
        for (std::ptrdiff_t n = 1; n > 0 && got < size; got += static_cast<std::size_t>(n))
            if ((n = m_file.Read(m_buffer.data() + got, size - got, error)) < 0)
                return m_same = false;
        return m_same = got == size && std::equal(data, data + size, m_buffer.data());
    }

    bool Same() {
        char more = 0;
        quorvex::SystemError error = 0;
        return m_same && m_file.Read(&more, 1, error) == 0;
    }

private:
    quorvex::File& m_file;
    std::string m_buffer;
    bool m_same = true;
};

// What a run enciphering the edited text would find: the lines, counted from 1, that hold
// bytes a round trip would not give back.
quorvex::StreamResult Lossy(const std::string& path, quorvex::CipherKey key) {
    class Nowhere : public quorvex::ByteSink {
        bool Write(const char*, std::size_t, quorvex::SystemError&) override { return true; }
    } nowhere;
    quorvex::SystemError error = 0;
    quorvex::File file = quorvex::File::OpenForReading(path, error);
    return file.IsOpen()
               ? quorvex::TranscodeOpened(file, {}, nowhere, quorvex::kEncrypt, key)
               : quorvex::StreamResult::Unfinished(quorvex::StreamStatus::ReadFailed, error);
}

std::string LossyLinesWarning(const quorvex::StreamResult& lossy) {
    std::string lines;
    for (const std::uint64_t line : lossy.lossyLineNumbers)
        lines += (lines.empty() ? "" : ", ") + std::to_string(line);
    const std::uint64_t more = lossy.lossyLines - lossy.lossyLineNumbers.size();
    return "warning: line" + std::string(lossy.lossyLines > 1 ? "s " : " ") + lines +
           (more > 0 ? " and " + std::to_string(more) + " more" : "") +
           (lossy.lossyLines > 1 ? " hold" : " holds") +
           " bytes that will not decipher back as they were (" +
           std::string(quorvex::messages::kWhatComesBack) + ")";
}

// The private folder and the deciphered text in it, gone however the command ends,
// unless kept.
class Scratch {
public:
    explicit Scratch(const std::string& name) : m_folder(platform::PrivateFolder(m_base, m_error)) {
        if (m_folder.empty())
            return;
        m_text = Utf8(PathOf(m_folder) / PathOf(name));
        platform::RemoveOnInterrupt(m_text, m_folder);
    }
    ~Scratch() {
        platform::ForgetInterrupt();
        std::error_code error;
        if (!m_kept && !m_folder.empty())
            fs::remove_all(PathOf(m_folder), error);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string Failure() const {
        return tool::Failure("cannot make a private folder in", Quoted(m_base),
                             quorvex::DescribeError(m_error));
    }
    bool Made() const { return !m_folder.empty(); }
    const std::string& Text() const { return m_text; }
    // Keeps the edited text, and says where it is.
    int Keep(const std::string& why) {
        m_kept = true;
        platform::ForgetInterrupt();
        Say(why + "; the edited text stays in " + Quoted(m_text));
        return kExitFailure;
    }

private:
    std::string m_base;
    int m_error = 0;
    std::string m_folder;
    std::string m_text; // what the editor changes
    bool m_kept = false;
};

} // namespace

int Edit(const Options& options) {
    const std::string& file = options.files.front();
    const std::string shown = Quoted(file);
    const auto failed = [&](std::string_view verb, quorvex::SystemError error) {
        Say(Failure(verb, shown, quorvex::DescribeError(error)));
        return kExitFailure;
    };
    // The file the name leads to is the one replaced, as -i does.
    if (platform::ThroughDescriptor(file))
        return failed("cannot edit", quorvex::kNotRegularFile);
    std::error_code found = file.empty()
                                ? std::make_error_code(std::errc::no_such_file_or_directory)
                                : std::error_code();
    const fs::path real = found ? fs::path() : fs::canonical(PathOf(file), found);
    if (found)
        return failed("cannot read", found.value());
    quorvex::SystemError error = 0;
    const quorvex::Folder folder = quorvex::Folder::Open(Utf8(real.parent_path()), false, error);
    const std::string name = Utf8(real.filename());
    quorvex::File input = folder.IsOpen() ? folder.OpenRegular(name, error) : quorvex::File();
    quorvex::FileIdentity before;
    std::string front;
    if (!input.IsOpen() || !input.Identify(before, error) ||
        (JudgesFront(options) && !ReadFront(input, front, error)))
        return failed("cannot read", error);
    const KeyChoice choice = ChooseKey(options, front, file);
    if (!SayChoice(choice))
        return kExitNoKey;
    // Its changes could be enciphered back under any game.
    if (options.AutoGame() && before.size == 0) {
        Say(shown + " is empty: --game auto cannot tell its game; name it with --game");
        return kExitNoKey;
    }

    Scratch scratch(name);
    if (!scratch.Made()) {
        Say(scratch.Failure());
        return kExitFailure;
    }
    {
        quorvex::File text = quorvex::File::OpenForWriting(scratch.Text(), 0600, error);
        const quorvex::StreamResult deciphered =
            text.IsOpen()
                ? quorvex::TranscodeOpened(input, front, text, quorvex::kDecrypt, *choice.key)
                : quorvex::StreamResult::Unfinished(quorvex::StreamStatus::WriteFailed, error);
        if (deciphered.status == quorvex::StreamStatus::ReadFailed)
            return failed("cannot read", deciphered.error);
        if (deciphered.status == quorvex::StreamStatus::WriteFailed ||
            (error = text.Close()) != 0) {
            Say(Failure("cannot write", Quoted(scratch.Text()),
                        quorvex::DescribeError(deciphered.error ? deciphered.error : error)));
            return kExitFailure;
        }
    }
    input.Close();

    // From now on, whatever ends the tool, the text the user may have changed stays.
    platform::SayOnInterrupt("stopped; the edited text stays in " + Quoted(scratch.Text()));
    const int status = platform::RunEditor(scratch.Text());

    // Written since it was deciphered, or gone: the other change is not overwritten.
    const auto changed = [&]() -> std::string {
        quorvex::FileIdentity now;
        quorvex::Folder::Kind kind = quorvex::Folder::Kind::Regular;
        if (!folder.Identify(name, now, kind, error))
            return shown + " was removed since it was deciphered";
        return now.UnchangedSince(before)
                   ? std::string()
                   : shown + " changed since it was deciphered, and is left as it is";
    };
    const std::string changedBy = changed();
    quorvex::File edited = quorvex::File::OpenForReading(scratch.Text(), error);
    quorvex::File again = changedBy.empty() ? folder.OpenRegular(name, error) : quorvex::File();
    SameAs same(edited);
    const bool unchanged =
        edited.IsOpen() && again.IsOpen() &&
        quorvex::TranscodeOpened(again, {}, same, quorvex::kDecrypt, *choice.key).status ==
            quorvex::StreamStatus::Completed &&
        same.Same();
    again.Close();
    if (status != 0) {
        const std::string why = "the editor " +
                                (status < 0 ? std::string("did not finish")
                                            : "failed with status " + std::to_string(status)) +
                                "; " + shown + " is unchanged";
        if (!unchanged)
            return scratch.Keep(why);
        Say(why);
        return kExitFailure;
    }
    if (!changedBy.empty())
        return scratch.Keep(changedBy);
    if (unchanged) {
        if (!options.quiet)
            Say("no changes; " + shown + " is left as it was");
        return 0;
    }

    if (const quorvex::StreamResult lossy = Lossy(scratch.Text(), *choice.key);
        lossy.lossyLines > 0) {
        Say(LossyLinesWarning(lossy));
        const platform::Answer answer = platform::Ask("Encipher it anyway? [y/N] ");
        if (answer == platform::Answer::NoTerminal)
            return scratch.Keep("nothing written: there is no terminal to ask on");
        if (answer == platform::Answer::No)
            return scratch.Keep("nothing written; " + shown + " is unchanged");
    }

    edited = quorvex::File::OpenForReading(scratch.Text(), error);
    InputFile source;
    source.file = &edited;
    source.shown = Quoted(scratch.Text());
    if (!edited.IsOpen() || !edited.Identify(source.identity, error))
        return scratch.Keep(Failure("cannot read", source.shown, quorvex::DescribeError(error)));
    if (const std::string why = changed(); !why.empty())
        return scratch.Keep(why);
    Destination to;
    to.folder = &folder;
    to.name = name;
    to.shown = shown;
    to.inPlace = to.durable = true;
    to.force = true; // lossy bytes were asked about already
    const FileRun run = WriteResult(source, to, quorvex::kEncrypt, *choice.key, nullptr, nullptr);
    if (run.outcome != Outcome::Done)
        return scratch.Keep(run.messages.front() + "; " + shown + " is unchanged");
    return 0;
}

} // namespace tool
