// Many files through the same run: into a folder under their own names, or each in place.
// Every result takes its final name only once it is complete (quorvex::PendingFile), so a
// file is never left half written under its own name.

#include "platform.h"
#include "quorvex/file.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace tool {

namespace {

// What a run leaves behind when it is killed before its rename; walks skip these.
bool IsPart(const fs::path& path) {
    const std::string name = Utf8(path.filename());
    return name.starts_with(".") && name.ends_with(quorvex::PendingFile::kSuffix);
}

struct Job {
    std::string source;
    std::string target;
    std::string failure; // known before the run
};

// The file itself for a name that may be a symbolic link: that is what in place replaces.
fs::path Resolved(const fs::path& path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return error ? path : real;
}

Job JobFor(const Options& options, const fs::path& source, const fs::path& relative) {
    const fs::path target =
        options.inPlace ? Resolved(source) : PathOf(options.outputFolder) / relative;
    return {Utf8(source), Utf8(target), {}};
}

// Every file the arguments name, or the reason they cannot all be run.
std::vector<Job> Plan(const Options& options, std::string& refusal) {
    std::vector<Job> jobs;
    for (const std::string& argument : options.files) {
        if (argument == "-") {
            refusal = "standard input cannot go with --output-dir or --in-place";
            return {};
        }
        const fs::path path = PathOf(argument);
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            jobs.push_back(JobFor(options, path, path.filename()));
            continue;
        }
        if (!options.recursive) {
            jobs.push_back({argument,
                            {},
                            "cannot open " + Quoted(argument) +
                                ": it is a folder (-r runs every file in it)"});
            continue;
        }
        for (fs::recursive_directory_iterator walk(path, error), end; !error && walk != end;
             walk.increment(error))
            if (walk->is_regular_file() && !IsPart(walk->path()))
                jobs.push_back(
                    JobFor(options, walk->path(), walk->path().lexically_relative(path)));
        if (error)
            jobs.push_back(
                {argument, {}, "cannot read " + Quoted(argument) + ": " + error.message()});
    }
    // Two inputs must never end in one file: one would be lost, or run twice.
    std::map<std::string, std::string> written;
    for (const Job& job : jobs) {
        if (!job.failure.empty())
            continue;
        const auto [at, added] =
            written.emplace(Utf8(PathOf(job.target).lexically_normal()), job.source);
        if (!added) {
            refusal = Quoted(at->second) + " and " + Quoted(job.source) +
                      (options.inPlace ? " are the same file"
                                       : " would both be written to " + Quoted(job.target));
            return {};
        }
    }
    return jobs;
}

struct Outcome {
    bool done = false;
    bool refused = false; // no game was clearly right
    std::uint64_t bytes = 0;
    std::vector<std::string> messages;
};

Outcome RunJob(const Options& options, const Job& job, std::atomic<std::uint64_t>& progress) {
    Outcome outcome;
    if (!job.failure.empty()) {
        outcome.messages.push_back(job.failure);
        return outcome;
    }
    const KeyChoice choice = ChooseKey(options, job.source);
    if (!choice.warning.empty())
        outcome.messages.push_back("warning: " + choice.warning);
    if (!choice.key) {
        outcome.refused = !choice.readFailed;
        outcome.messages.push_back(choice.refusal);
        return outcome;
    }
    ReplaceRequest request;
    request.source = job.source;
    request.target = job.target;
    request.mode = options.mode;
    request.key = *choice.key;
    request.durable = request.keepTargetPermissions = options.inPlace;
    request.noClobber = options.noClobber;
    request.backup = options.backup;
    const Replacement replaced = ReplaceFile(request, &progress);
    if (!replaced.failure.empty()) {
        outcome.messages.push_back(replaced.failure);
        return outcome;
    }
    if (options.mode == quorvex::kEncrypt && replaced.lossyBytes > 0 && !options.quiet)
        outcome.messages.push_back(
            LossyWarning(replaced.lossyBytes, replaced.firstLossyLine, Quoted(job.source)));
    outcome.done = true;
    outcome.bytes = replaced.bytes;
    return outcome;
}

std::string Amount(std::uint64_t bytes) {
    const bool large = bytes >= (1u << 20);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s",
                  static_cast<double>(bytes) / (large ? 1 << 20 : 1 << 10), large ? "MiB" : "KiB");
    return text;
}

// A line on the terminal that keeps count while a batch takes longer than a second.
class ProgressLine {
public:
    ProgressLine(std::size_t total, const std::atomic<std::size_t>& done,
                 const std::atomic<std::uint64_t>& bytes)
        : m_total(total), m_done(done), m_bytes(bytes), m_shown(platform::ErrorsGoToTerminal()) {}

    void Update() {
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        if (!m_shown || seconds < 1 || now - m_last < std::chrono::milliseconds(250))
            return;
        m_last = now;
        std::fprintf(stderr, "\r%s: %zu of %zu files, %s, %s/s ", kProgram, m_done.load(), m_total,
                     Amount(m_bytes).c_str(),
                     Amount(static_cast<std::uint64_t>(m_bytes / seconds)).c_str());
        m_drawn = true;
    }

    void Clear() {
        if (m_drawn)
            std::fputs("\r\033[K", stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    std::size_t m_total;
    const std::atomic<std::size_t>& m_done;
    const std::atomic<std::uint64_t>& m_bytes;
    bool m_shown;
    bool m_drawn = false;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_last = m_start;
};

} // namespace

Replacement ReplaceFile(const ReplaceRequest& request, std::atomic<std::uint64_t>* progress) {
    Replacement result;
    const auto fail = [&result](const char* verb, const std::string& file, const std::string& why) {
        result.failure = std::string(verb) + " " + Quoted(file) + ": " + why;
        return result;
    };
    quorvex::SystemError error = 0;
    quorvex::File input = quorvex::File::OpenForReading(request.source, error);
    if (!input.IsOpen())
        return fail("cannot open", request.source, quorvex::DescribeError(error));
    const fs::path target = PathOf(request.target);
    std::error_code status;
    if (fs::exists(target, status)) {
        if (request.noClobber)
            return fail("will not overwrite", request.target, "the file exists (--no-clobber)");
        if (!request.keepTargetPermissions &&
            fs::equivalent(PathOf(request.source), target, status))
            return fail("cannot write", request.target, "input and output are the same file");
    } else if (!fs::create_directories(target.parent_path(), status) && status) {
        return fail("cannot write", request.target, status.message());
    }
    std::optional<unsigned> permissions;
    if (request.keepTargetPermissions) {
        unsigned bits = 0;
        if (!quorvex::files::Permissions(request.target, bits, error))
            return fail("cannot open", request.target, quorvex::DescribeError(error));
        permissions = bits;
    }

    quorvex::PendingFile output(request.target, permissions, error);
    if (!output.IsOpen())
        return fail("cannot write", request.target, quorvex::DescribeError(error));
    const auto failed = [&](const char* verb, const std::string& file, quorvex::SystemError why) {
        return fail(verb, file, quorvex::DescribeError(why));
    };
    quorvex::StreamOptions options;
    options.bytesRead = progress;
    const quorvex::StreamResult stream =
        quorvex::TranscodeFile(input, output.Contents(), request.mode, request.key, options);
    if (stream.status == quorvex::StreamStatus::ReadFailed)
        return failed("cannot read", request.source, stream.error);
    if (stream.status == quorvex::StreamStatus::WriteFailed)
        return failed("cannot write", request.target, stream.error);
    if (request.durable && !output.Contents().Sync(error))
        return failed("cannot write", request.target, error);
    quorvex::FileIdentity identity;
    if (input.Identify(identity, error))
        result.bytes = identity.size;
    input.Close();
    if (request.backup &&
        !quorvex::files::Link(request.target, request.target + *request.backup, error))
        return failed("cannot keep", request.target + *request.backup, error);
    if (!output.Publish(error))
        return failed("cannot write", request.target, error);
    if (request.durable && !quorvex::files::SyncFolder(Utf8(target.parent_path()), error))
        return fail("cannot flush the folder of", request.target, quorvex::DescribeError(error));
    result.lossyBytes = stream.lossyBytes;
    result.firstLossyLine = stream.firstLossyLine;
    return result;
}

int RunMany(const Options& options) {
    std::string refusal;
    const std::vector<Job> jobs = Plan(options, refusal);
    if (!refusal.empty()) {
        Say(refusal + "; nothing was written");
        return kExitUsage;
    }

    std::vector<Outcome> outcomes(jobs.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<std::uint64_t> bytes{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size(); ++finished)
            outcomes[i] = RunJob(options, jobs[i], bytes);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers =
        std::min<std::size_t>(options.jobs ? options.jobs : cores, jobs.size());
    ProgressLine progress(jobs.size(), finished, bytes);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < workers; ++i)
            threads.emplace_back(work);
        while (finished < jobs.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            progress.Update();
        }
    }
    progress.Clear();

    std::size_t done = 0;
    std::uint64_t total = 0;
    bool refused = false;
    for (const Outcome& outcome : outcomes) {
        for (const std::string& message : outcome.messages)
            Say(message);
        done += outcome.done;
        total += outcome.bytes;
        refused = refused || outcome.refused;
    }
    const std::size_t failed = jobs.size() - done;
    if (failed > 0 || !options.quiet)
        Say(std::to_string(done) + " file" + (done == 1 ? "" : "s") + " done, " +
            std::to_string(failed) + " failed, " + Amount(total));
    if (failed == 0)
        return 0;
    const bool onlyRefused = std::all_of(outcomes.begin(), outcomes.end(),
                                         [](const Outcome& o) { return o.done || o.refused; });
    return refused && onlyRefused ? kExitNoKey : kExitFailure;
}

} // namespace tool
