#pragma once

// The parts of quorvex-cli: what the user asked for, how messages name files, how a key is
// chosen for a file, what a walk over folders yields, and the runs over many files, in
// place and through an editor.

#include "quorvex/cipher.h"
#include "quorvex/detect.h"
#include "quorvex/file.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoKey = 3;
inline constexpr const char* kProgram = "quorvex-cli";

struct Options {
    quorvex::CipherMode mode = quorvex::kEncrypt;
    std::string game; // a name, a number, or "auto"
    std::optional<int> offset;
    bool verbose = false;
    bool quiet = false;
    bool noClobber = false;
    bool force = false;
    bool recursive = false;
    bool inPlace = false;
    std::optional<std::string> backup; // the suffix of the kept original
    std::string outputFolder;
    unsigned jobs = 0; // 0: one per core
    bool anyOffset = false;
    std::vector<std::string> files;

    bool AutoGame() const { return game == "auto"; }
    bool ManyFiles() const { return inPlace || !outputFolder.empty(); }
};

// Paths are UTF-8 strings in the engine, whatever the system's own encoding.
inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Messages -------------------------------------------------------------------------------

// Prints "quorvex-cli: <message>" on stderr.
void Say(const std::string& message);
// A file name as messages show it: in quotes, with any control character or byte that is
// not UTF-8 escaped as a shell would read it back ('a'$'\033''b'), so that no name can
// move the cursor or clear the user's screen.
std::string Quoted(std::string_view name);
// The same, without the quotes where the name needs none: for "name: verdict" lines.
std::string Listed(std::string_view name);
// The one form of a failure: "verb 'name': reason" (`shown` as Quoted gives it).
std::string Failure(std::string_view verb, std::string_view shown, std::string_view reason);
std::string LossyWarning(std::uint64_t bytes, std::uint64_t firstLine, std::string_view shown,
                         quorvex::CipherMode mode);

// Keys -----------------------------------------------------------------------------------

std::optional<quorvex::GameSelection> ParseGame(std::string_view text);
std::string GameChoices();

// Reads the front of `file` that detection judges, and one byte more to tell whether the
// file goes on; the run takes these bytes first.
bool ReadFront(quorvex::File& file, std::string& front, quorvex::SystemError& error);
// The ranking and verdict as `detect` prints them for one file, and the one line it
// prints for each of many.
std::string Report(const quorvex::Detection& detection, const std::string& shown, bool anyOffset);
std::string VerdictLine(const quorvex::Detection& detection, bool anyOffset);
quorvex::Detection DetectFront(std::string_view front, bool anyOffset);

// The key a file is to be run with, judged by its front: the one named, or the game
// detection is sure of. A file already in the state the run would bring it to is to be
// skipped when run in place without --force.
struct KeyChoice {
    std::optional<quorvex::CipherKey> key;
    bool skip = false;
    // Warnings, the game --game auto chose, and last, when there is no key, why not.
    std::vector<std::string> messages;
};
// `name` is the file's, or the words for standard input when `standard`.
KeyChoice ChooseKey(const Options& options, std::string_view front, const std::string& name,
                    bool standard = false);
// Whether ChooseKey needs the front of the file.
bool JudgesFront(const Options& options);
// Says at once what the choice has to say; whether there is a key to run with.
bool SayChoice(const KeyChoice& choice);

// Walks ----------------------------------------------------------------------------------

// A folder the user named, or one found below it by a walk; a walk reaches a folder one
// part at a time, never through a symbolic link.
struct Place {
    // None for a folder the user named. Let go one at a time as the place goes, so that no
    // tree is too deep to be freed.
    mutable std::shared_ptr<const Place> parent;
    std::string name; // as named, or one part below the parent
    std::size_t depth = 0;
    // What was found here when the run was planned (for the output folder, when it was
    // first opened, before any work began): a folder opened later must be the same one.
    // An output folder made for it takes its permissions.
    mutable std::optional<quorvex::FileIdentity> found;
    unsigned permissions = 0777;

    ~Place();
    static std::shared_ptr<const Place> Root(std::string path,
                                             std::optional<quorvex::FileIdentity> found = {},
                                             unsigned permissions = 0777);
    static std::shared_ptr<const Place> Below(std::shared_ptr<const Place> parent, std::string name,
                                              std::optional<quorvex::FileIdentity> found = {},
                                              unsigned permissions = 0777);
    std::string Path() const;
};
using PlacePtr = std::shared_ptr<const Place>;

// Opens the folder of a place, keeping the chain of folders it opened last (to a limit,
// so that no tree is too deep for the process's descriptors) for the next place, which
// is usually close by.
class FolderOpener {
public:
    // `held` as FoldersHeld gives it.
    FolderOpener(bool make, std::size_t held) : m_make(make), m_held(held) {}
    // The folder, or none: then `error` says why, and `where` names the part that failed.
    const quorvex::Folder* Open(const PlacePtr& place, quorvex::SystemError& error,
                                std::string& where);

private:
    bool m_make;
    std::size_t m_held;
    std::vector<std::pair<PlacePtr, quorvex::Folder>> m_chain; // a place's, then its child's...
};
// How many folders each of `openers` may keep open, and how many workers a batch can
// have, within the files the process may have open.
std::size_t FoldersHeld(std::size_t openers);
std::size_t WorkersAllowed();

// One file of a batch: the input and where its output goes.
struct Job {
    PlacePtr from;    // the input's folder; none for a file read as the user named it
    std::string name; // of the input in `from`, and of the output in `to`
    PlacePtr to;      // the output's folder; `from` itself in place
    std::optional<std::string> argument; // the input as the user named it, when they did

    std::string Source() const;
    std::string Target() const;
};

// What the arguments name: the files to run, what was skipped or could not be read on the
// way, and, when the run must not start at all, why.
struct Plan {
    std::vector<Job> jobs;
    PlacePtr outputRoot;              // the folder named with -o
    std::vector<std::string> skipped; // messages, each counted as a skipped file
    std::vector<std::string> kept;    // backups left alone: counted too, named only with -v
    std::vector<std::string> failed;  // messages, each counted as a failed file
    std::string refusal;
};
// `output` is false for detect, which writes no files.
Plan MakePlan(const Options& options, bool output);

// Runs ------------------------------------------------------------------------------------

enum class Outcome { Done, Skipped, NoKey, Failed, Interrupted };

// What one file's run came to, with what the user is to be told of it.
struct FileRun {
    Outcome outcome = Outcome::Failed;
    std::vector<std::string> messages;
    std::uint64_t bytes = 0;
    std::uint64_t lossyBytes = 0; // of a completed run, and the first line that holds one
    std::uint64_t firstLossyLine = 0;
};

// Where a result goes and how: into a hidden file beside `name` in `folder`, which takes
// the name once it is complete.
struct Destination {
    const quorvex::Folder* folder = nullptr;
    std::string name;
    std::string shown;
    bool inPlace = false; // the output replaces the input
    // The file replaced, open already, whose attributes the result takes; when none, they
    // are taken from the file the name holds.
    const quorvex::File* replaced = nullptr;
    bool noClobber = false;
    bool force = false;   // write-protected outputs and bytes that would not come back too
    bool durable = false; // flushed to the disk before and after the rename
    std::string backup;   // the name the replaced file keeps, if any
};
struct InputFile {
    quorvex::File* file = nullptr;
    std::string_view front; // read from it already
    quorvex::FileIdentity identity;
    std::string shown;
};
FileRun WriteResult(InputFile& source, const Destination& destination, quorvex::CipherMode mode,
                    quorvex::CipherKey key, std::atomic<std::uint64_t>* progress,
                    const std::atomic<bool>* stop);

// Many files: into a folder, or in place. The exit status.
int RunMany(const Options& options);
int Edit(const Options& options);

} // namespace tool
