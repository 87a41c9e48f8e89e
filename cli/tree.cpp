// What a batch runs: the files the arguments name, and those a walk finds in the folders
// among them. A walk reads each folder through the one above it and follows no symbolic
// link, so it never leaves the folder the user named; links, FIFOs and devices met on the
// way are skipped and counted, and a folder that cannot be read is named and counted as
// failed while the walk goes on. Every folder is opened again later only if it is still
// the one the walk found.

#include "platform.h"
#include "tool.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace fs = std::filesystem;

namespace tool {

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// Backups and the hidden files of stopped runs are no inputs: running them would change
// the only copies of the originals.
bool KeptAside(const std::string& name, const Options& options) {
    return name.ends_with("~") || name.ends_with(quorvex::PendingFile::kSuffix) ||
           (options.backup && name.ends_with(*options.backup));
}

// Whether `output` is `folder` or lies anywhere below it, whatever links lead there.
bool Within(const std::string& output, const std::string& folder) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(PathOf(output), error), error);
    for (;; path = path.parent_path()) {
        if (fs::equivalent(path, PathOf(folder), error))
            return true;
        if (path == path.parent_path())
            return false;
    }
}

std::optional<quorvex::FileIdentity> FoundAt(const std::string& path) {
    quorvex::FileIdentity identity;
    quorvex::SystemError error = 0;
    return quorvex::IdentifyPath(path, identity, error) ? std::optional(identity) : std::nullopt;
}

// A file as its folder and name: two routes to one file give the same key, while two hard
// links, which in place become two files, do not.
using Key = std::tuple<std::uint64_t, std::uint64_t, std::string>;

class Planner {
public:
    Planner(const Options& options, bool output) : m_options(options), m_output(output) {}

    Plan Make() {
        if (m_output && !m_options.inPlace)
            m_outputRoot = Place::Root(m_options.outputFolder, {}, OutputRootPermissions());
        for (const std::string& argument : m_options.files) {
            if (argument == "-")
                return Refuse("standard input cannot go with --output-dir, --in-place or "
                              "several files");
            Add(argument);
            if (!m_plan.refusal.empty())
                return std::move(m_plan);
        }
        if (m_output && m_options.inPlace && m_options.backup)
            CheckBackups();
        if (m_output && !m_options.inPlace)
            CheckTargets();
        m_plan.outputRoot = m_outputRoot;
        return std::move(m_plan);
    }

private:
    Plan Refuse(std::string why) {
        Plan refused;
        refused.refusal = std::move(why);
        return refused;
    }

    // A new output folder is no more open than any folder walked into it.
    unsigned OutputRootPermissions() const {
        unsigned permissions = 0777;
        const unsigned owner = 0700;
        std::error_code error;
        for (const std::string& argument : m_options.files)
            if (const auto found = FoundAt(argument);
                found && m_options.recursive && fs::is_directory(PathOf(argument), error))
                permissions &= found->permissions;
        return permissions | owner;
    }

    void Add(const std::string& argument) {
        std::error_code error;
        const fs::path path = PathOf(argument);
        const fs::file_status status = fs::status(path, error);
        if (fs::is_directory(status)) {
            if (!m_options.recursive)
                m_plan.failed.push_back(
                    Failure("cannot read", Quoted(argument), "is a folder (use -r)"));
            else if (m_output && !m_options.inPlace && Within(m_options.outputFolder, argument))
                m_plan.refusal = "cannot write into " + Quoted(m_options.outputFolder) +
                                 ", which is inside the input folder " + Quoted(argument);
            else
                Walk(argument);
            return;
        }
        if (!m_options.inPlace) {
            AddInput({nullptr, Utf8(path.filename()), m_outputRoot, argument}, FoundAt(argument));
            return;
        }
        // In place, a link the user names is followed, and the file it leads to replaced;
        // but not one that reaches the file through a descriptor, as /dev/stdin does.
        if (platform::ThroughDescriptor(argument)) {
            m_plan.failed.push_back(Failure("cannot replace", Quoted(argument),
                                            quorvex::DescribeError(quorvex::kNotRegularFile)));
            return;
        }
        fs::path real = path;
        if (fs::is_symlink(fs::symlink_status(path, error)))
            real = fs::canonical(path, error);
        if (error || (fs::exists(status) && !fs::is_regular_file(status))) {
            m_plan.failed.push_back(Failure(
                "cannot replace", Quoted(argument),
                error ? error.message() : quorvex::DescribeError(quorvex::kNotRegularFile)));
            return;
        }
        const std::string folder = Utf8(real.parent_path());
        const PlacePtr place = Place::Root(folder, FoundAt(folder.empty() ? "." : folder));
        AddInput({place, Utf8(real.filename()), place, argument}, FoundAt(argument));
    }

    // `found` is what the input is, when known.
    void AddInput(Job job, std::optional<quorvex::FileIdentity> found) {
        if (found && found->regular)
            m_inputs.emplace(found->volume, found->index);
        if (job.from && job.from->found && m_options.inPlace &&
            !m_names.emplace(job.from->found->volume, job.from->found->index, job.name).second) {
            m_plan.refusal = Quoted(job.Source()) + " is given twice";
            return;
        }
        m_plan.jobs.push_back(std::move(job));
    }

    void Walk(const std::string& argument) {
        FolderOpener opener(false, FoldersHeld(1));
        const auto found = FoundAt(argument);
        std::vector<std::pair<PlacePtr, PlacePtr>> folders{
            {Place::Root(argument, found), m_outputRoot}};
        while (!folders.empty() && m_plan.refusal.empty()) {
            const auto [from, to] = std::move(folders.back());
            folders.pop_back();
            quorvex::SystemError error = 0;
            std::string where;
            const quorvex::Folder* folder = opener.Open(from, error, where);
            std::vector<quorvex::Folder::Entry> entries;
            if (folder && !folder->List(entries, error))
                where = from->Path();
            if (!folder || !where.empty()) {
                m_plan.failed.push_back(
                    Failure("cannot read folder", Quoted(where), quorvex::DescribeError(error)));
                continue;
            }
            std::sort(entries.begin(), entries.end(),
                      [](const auto& a, const auto& b) { return a.name > b.name; });
            for (const quorvex::Folder::Entry& entry : entries)
                Found(*folder, from, to, entry, folders);
        }
    }

    void Found(const quorvex::Folder& folder, const PlacePtr& from, const PlacePtr& to,
               const quorvex::Folder::Entry& entry,
               std::vector<std::pair<PlacePtr, PlacePtr>>& folders) {
        using Kind = quorvex::Folder::Kind;
        const auto shown = [&] { return Quoted(Join(from->Path(), entry.name)); };
        if (entry.kind == Kind::Link || entry.kind == Kind::Other) {
            m_plan.skipped.push_back(
                shown() + (entry.kind == Kind::Link ? ": symbolic link" : ": not a regular file") +
                ", skipped");
            return;
        }
        quorvex::FileIdentity identity;
        Kind kind = entry.kind;
        quorvex::SystemError error = 0;
        const bool known = folder.Identify(entry.name, identity, kind, error);
        if (entry.kind == Kind::Folder) {
            // The owner may always write into a folder made for outputs, as cp -r makes them.
            const unsigned permissions = known ? (identity.permissions & 0777) | 0700 : 0777;
            folders.emplace_back(
                Place::Below(from, entry.name, known ? std::optional(identity) : std::nullopt),
                to ? Place::Below(to, entry.name, {}, permissions) : nullptr);
        } else if (KeptAside(entry.name, m_options)) {
            m_plan.kept.push_back(shown() + ": backup or unfinished output, left alone");
        } else {
            AddInput({from, entry.name, m_options.inPlace ? from : to, std::nullopt},
                     known ? std::optional(identity) : std::nullopt);
        }
    }

    // A backup must not take the name of another input: that input would be lost.
    void CheckBackups() {
        for (const Job& job : m_plan.jobs)
            if (job.from->found &&
                m_names.contains({job.from->found->volume, job.from->found->index,
                                  job.name + *m_options.backup})) {
                m_plan.refusal = Quoted(job.Source() + *m_options.backup) +
                                 " is an input, and the backup of " + Quoted(job.Source());
                return;
            }
    }

    // No two inputs may end in one output, and no output may be an input: one would be
    // lost, or run twice.
    void CheckTargets() {
        std::map<std::string, std::string> written;
        for (const Job& job : m_plan.jobs) {
            const std::string target = job.Target();
            const auto [at, added] =
                written.emplace(Utf8(PathOf(target).lexically_normal()), job.Source());
            if (!added) {
                m_plan.refusal = Quoted(at->second) + " and " + Quoted(job.Source()) +
                                 " would both be written to " + Quoted(target);
                return;
            }
            if (const auto found = FoundAt(target);
                found && found->regular && m_inputs.contains({found->volume, found->index})) {
                m_plan.refusal = Quoted(target) + " would be both an input and an output";
                return;
            }
        }
    }

    const Options& m_options;
    bool m_output;
    PlacePtr m_outputRoot;
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_inputs; // files, to tell outputs by
    std::set<Key> m_names;                                      // in place, to tell twice by
    Plan m_plan;
};

// Files a worker may have open beside its folders: input, output, the file it replaces,
// and one more while a folder is listed; and what the process keeps for itself.
constexpr std::size_t kFilesPerWorker = 4;
constexpr std::size_t kReserved = 32;

} // namespace

Place::~Place() {
    for (std::shared_ptr<const Place> above = std::move(parent); above && above.use_count() == 1;)
        above = std::move(above->parent);
}

PlacePtr Place::Root(std::string path, std::optional<quorvex::FileIdentity> found,
                     unsigned permissions) {
    return std::make_shared<const Place>(Place{nullptr, std::move(path), 0, found, permissions});
}

PlacePtr Place::Below(PlacePtr parent, std::string name, std::optional<quorvex::FileIdentity> found,
                      unsigned permissions) {
    const std::size_t depth = parent->depth + 1;
    return std::make_shared<const Place>(
        Place{std::move(parent), std::move(name), depth, found, permissions});
}

std::string Place::Path() const {
    std::vector<const Place*> parts;
    for (const Place* at = this; at; at = at->parent.get())
        parts.push_back(at);
    std::string path = parts.back()->name;
    for (auto at = parts.rbegin() + 1; at != parts.rend(); ++at) {
        if (!path.empty() && path.back() != '/' && path.back() != '\\')
            path += '/';
        path += (*at)->name;
    }
    return path;
}

const quorvex::Folder* FolderOpener::Open(const PlacePtr& place, quorvex::SystemError& error,
                                          std::string& where) {
    // The places still to open, deepest first, up to one whose folder is open already.
    std::vector<PlacePtr> missing;
    std::size_t held = m_chain.size();
    for (PlacePtr at = place; at; at = at->parent) {
        const std::size_t first = m_chain.empty() ? 0 : m_chain.front().first->depth;
        if (at->depth >= first && at->depth - first < m_chain.size() &&
            m_chain[at->depth - first].first == at) {
            held = at->depth - first + 1;
            break;
        }
        missing.push_back(at);
        held = 0;
    }
    m_chain.resize(held);
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        const Place& next = **at;
        const auto open = [&] {
            return m_chain.empty()
                       ? quorvex::Folder::Open(next.name, m_make, error, next.permissions)
                       : m_chain.back().second.Child(next.name, m_make, error, next.permissions);
        };
        quorvex::Folder folder = open();
        // Out of descriptors: the parent alone is enough to go on.
        if (!folder.IsOpen() && quorvex::IsOutOfHandles(error) && m_chain.size() > 1) {
            m_chain.erase(m_chain.begin(), m_chain.end() - 1);
            folder = open();
        }
        quorvex::FileIdentity identity;
        if (folder.IsOpen() && next.found &&
            (!folder.Identify(identity, error) || identity.volume != next.found->volume ||
             identity.index != next.found->index)) {
            folder = {};
            error = error ? error : quorvex::kReplaced;
        }
        if (!folder.IsOpen()) {
            where = next.Path();
            m_chain.clear();
            return nullptr;
        }
        m_chain.emplace_back(*at, std::move(folder));
        if (m_chain.size() > m_held)
            m_chain.erase(m_chain.begin());
    }
    return &m_chain.back().second;
}

std::string Job::Source() const {
    return argument ? *argument : Join(from->Path(), name);
}

std::string Job::Target() const {
    return Join(to->Path(), name);
}

std::size_t FoldersHeld(std::size_t openers) {
    const std::size_t limit = platform::OpenFileLimit();
    const std::size_t spare = limit > kReserved ? limit - kReserved : 0;
    return std::clamp<std::size_t>(spare / (2 * std::max<std::size_t>(openers, 1)), 1, 16);
}

std::size_t WorkersAllowed() {
    const std::size_t limit = platform::OpenFileLimit();
    return std::max<std::size_t>(1, (limit > kReserved ? limit - kReserved : 0) /
                                        (kFilesPerWorker + 2));
}

Plan MakePlan(const Options& options, bool output) {
    return Planner(options, output).Make();
}

} // namespace tool
