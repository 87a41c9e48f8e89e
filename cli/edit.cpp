// quorvex-cli edit: decipher into a private file, let the user's editor change it, and
// encipher it back in place, unless nothing changed or the user keeps it from being
// written.

#include "platform.h"
#include "quorvex/file.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tool {

namespace {

bool SameContents(const std::string& a, const std::string& b) {
    std::ifstream first(PathOf(a), std::ios::binary), second(PathOf(b), std::ios::binary);
    return first && second &&
           std::equal(std::istreambuf_iterator<char>(first), {},
                      std::istreambuf_iterator<char>(second), {});
}

// The lines, counted from 1, holding bytes that a round trip would not give back.
std::vector<std::uint64_t> LossyLines(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    std::vector<std::uint64_t> lines;
    std::string line;
    for (std::uint64_t number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (quorvex::CountLossyBytes(line) > 0)
            lines.push_back(number);
    }
    return lines;
}

// The private folder and what lies in it, gone however the command ends, unless kept.
class Scratch {
public:
    explicit Scratch(const std::string& name)
        : m_folder(platform::PrivateFolder()),
          m_text(m_folder.empty() ? "" : Utf8(PathOf(m_folder) / PathOf(name))),
          m_before(m_folder.empty() ? "" : Utf8(PathOf(m_folder) / ".as-deciphered")) {
        if (!m_folder.empty())
            platform::RemoveOnInterrupt({m_text, m_before}, m_folder);
    }
    ~Scratch() {
        platform::ForgetInterrupt();
        std::error_code error;
        fs::remove(PathOf(m_before), error);
        if (!m_kept) {
            fs::remove(PathOf(m_text), error);
            fs::remove(PathOf(m_folder), error);
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    bool Made() const { return !m_folder.empty(); }
    const std::string& Text() const { return m_text; }
    const std::string& Before() const { return m_before; }
    void Keep() { m_kept = true; }

private:
    std::string m_folder;
    std::string m_text;   // what the editor changes
    std::string m_before; // as deciphered, to tell whether it did
    bool m_kept = false;
};

class Quiet : public quorvex::MessageSink {
public:
    void Show(std::string_view) override {}
};

} // namespace

int Edit(const Options& options) {
    const std::string& file = options.files.front();
    const KeyChoice choice = ChooseKey(options, file);
    if (!choice.warning.empty())
        Say("warning: " + choice.warning);
    if (!choice.key) {
        Say(choice.refusal);
        return choice.readFailed ? kExitFailure : kExitNoKey;
    }
    const std::string target = Utf8(fs::weakly_canonical(PathOf(file)));
    Scratch scratch(Utf8(PathOf(file).filename()));
    if (!scratch.Made()) {
        Say("cannot make a private folder for the deciphered text");
        return kExitFailure;
    }

    Quiet quiet;
    const quorvex::TranscodeResult deciphered = quorvex::RunTranscode(
        quorvex::FileRef::Path(target), quorvex::FileRef::Path(scratch.Before()), quorvex::kDecrypt,
        *choice.key, quiet);
    if (deciphered.Failed()) {
        const bool input = deciphered.role == quorvex::FileRole::Input;
        Say(std::string(input ? "cannot read " : "cannot write ") +
            Quoted(input ? file : scratch.Before()) + ": " + deciphered.reason);
        return kExitFailure;
    }
    std::error_code error;
    if (!fs::copy_file(PathOf(scratch.Before()), PathOf(scratch.Text()), error)) {
        Say("cannot write " + Quoted(scratch.Text()) + ": " + error.message());
        return kExitFailure;
    }

    if (const int status = platform::RunEditor(scratch.Text()); status != 0) {
        Say("the editor " +
            (status < 0 ? std::string("did not finish")
                        : "failed with status " + std::to_string(status)) +
            "; " + Quoted(file) + " is unchanged");
        return kExitFailure;
    }
    if (SameContents(scratch.Text(), scratch.Before())) {
        if (!options.quiet)
            Say("no changes; " + Quoted(file) + " is left as it was");
        return 0;
    }
    if (const std::vector<std::uint64_t> lossy = LossyLines(scratch.Text()); !lossy.empty()) {
        std::string lines;
        for (std::size_t i = 0; i < lossy.size() && i < 10; ++i)
            lines += (i ? ", " : "") + std::to_string(lossy[i]);
        Say("warning: line" + std::string(lossy.size() > 1 ? "s " : " ") + lines +
            (lossy.size() > 10 ? " and " + std::to_string(lossy.size() - 10) + " more" : "") +
            (lossy.size() > 1 ? " hold" : " holds") +
            " bytes that will not decipher back as they were (" +
            std::string(quorvex::messages::kWhatComesBack) + ")");
        const platform::Answer answer = platform::Ask("Encipher it anyway? [y/N] ");
        if (answer == platform::Answer::NoTerminal) {
            scratch.Keep();
            Say("nothing written: with no terminal to ask on, the edited text stays in " +
                Quoted(scratch.Text()));
            return kExitFailure;
        }
        if (answer == platform::Answer::No) {
            Say("nothing written; " + Quoted(file) + " is unchanged");
            return kExitFailure;
        }
    }

    ReplaceRequest request;
    request.source = scratch.Text();
    request.target = target;
    request.mode = quorvex::kEncrypt;
    request.key = *choice.key;
    request.durable = request.keepTargetPermissions = true;
    if (const Replacement replaced = ReplaceFile(request, nullptr); !replaced.failure.empty()) {
        Say(replaced.failure + "; " + Quoted(file) + " is unchanged");
        return kExitFailure;
    }
    return 0;
}

} // namespace tool
