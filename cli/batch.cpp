// Many files through the same run: into a folder under their own names, or each in place,
// several at once. One failing file does not stop the others; an interrupt stops them all
// between two reads, and no half-written file is left under a real name.

#include "platform.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace tool {

namespace {

// What a worker keeps open from one file to the next.
struct Openers {
    explicit Openers(std::size_t held) : inputs(false, held), outputs(true, held) {}
    FolderOpener inputs;
    FolderOpener outputs;
};

FileRun FailedRun(std::string message) {
    FileRun run;
    run.messages.push_back(std::move(message));
    return run;
}

FileRun RunJob(const Options& options, const Job& job, Openers& openers,
               std::atomic<std::uint64_t>& progress, const std::atomic<bool>& stop) {
    const std::string_view reading = options.inPlace ? "cannot read" : "cannot read input";
    const std::string_view writing = options.inPlace ? "cannot replace" : "cannot write output";
    InputFile source;
    source.shown = Quoted(job.Source());
    quorvex::SystemError error = 0;
    std::string where;
    quorvex::File input;
    const quorvex::Folder* from = job.from ? openers.inputs.Open(job.from, error, where) : nullptr;
    if (job.from && !from)
        return FailedRun(
            Failure("cannot read folder", Quoted(where), quorvex::DescribeError(error)));
    input = from ? from->OpenRegular(job.name, error)
                 : quorvex::File::OpenForReading(job.argument.value_or(""), error);
    std::string front;
    if (!input.IsOpen() || !input.Identify(source.identity, error) ||
        (JudgesFront(options) && !ReadFront(input, front, error)))
        return FailedRun(Failure(reading, source.shown, quorvex::DescribeError(error)));
    source.file = &input;
    source.front = front;

    const KeyChoice choice = ChooseKey(options, front, job.Source());
    if (!choice.key) {
        FileRun refused;
        refused.outcome = choice.skip ? Outcome::Skipped : Outcome::NoKey;
        refused.messages = choice.messages;
        return refused;
    }
    Destination to;
    to.folder = options.inPlace ? from : openers.outputs.Open(job.to, error, where);
    if (!to.folder)
        return FailedRun(Failure(writing, Quoted(where), quorvex::DescribeError(error)));
    to.name = job.name;
    to.shown = options.inPlace ? source.shown : Quoted(job.Target());
    to.inPlace = to.durable = options.inPlace;
    to.replaced = options.inPlace ? &input : nullptr;
    to.noClobber = options.noClobber;
    to.force = options.force;
    to.backup = options.backup ? job.name + *options.backup : "";
    FileRun run = WriteResult(source, to, options.mode, *choice.key, &progress, &stop);
    run.messages.insert(run.messages.begin(), choice.messages.begin(), choice.messages.end());
    if (run.outcome == Outcome::Done && run.lossyBytes > 0 && !options.quiet)
        run.messages.push_back(
            LossyWarning(run.lossyBytes, run.firstLossyLine, source.shown, options.mode));
    if (run.outcome == Outcome::Done && options.verbose)
        run.messages.push_back(options.inPlace ? source.shown + " replaced"
                                               : source.shown + " -> " + to.shown);
    return run;
}

std::string Amount(std::uint64_t bytes) {
    const bool large = bytes >= (1u << 20);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s",
                  static_cast<double>(bytes) / (large ? 1 << 20 : 1 << 10), large ? "MiB" : "KiB");
    return text;
}

std::string Files(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
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

int RunMany(const Options& options) {
    const Plan plan = MakePlan(options, true);
    if (!plan.refusal.empty()) {
        Say(plan.refusal + "; nothing was written");
        return kExitUsage;
    }
    // The output folder, made now and from then on known by what it is, so that nothing is
    // written into whatever may take its name meanwhile.
    if (plan.outputRoot && !plan.jobs.empty()) {
        quorvex::SystemError error = 0;
        quorvex::FileIdentity identity;
        const quorvex::Folder root =
            quorvex::Folder::Open(plan.outputRoot->name, true, error, plan.outputRoot->permissions);
        if (root.IsOpen() && root.Identify(identity, error))
            plan.outputRoot->found = identity;
    }
    const std::vector<Job>& jobs = plan.jobs;
    std::vector<FileRun> runs(jobs.size());
    std::atomic<bool> stop{false};
    platform::Interruption interruption(stop);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<std::uint64_t> bytes{0};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers =
        std::min<std::size_t>({options.jobs ? options.jobs : cores, jobs.size(), WorkersAllowed()});
    const std::size_t held = FoldersHeld(2 * workers);
    std::atomic<std::size_t> working{workers};
    const auto work = [&] {
        Openers openers(held);
        for (std::size_t i; !stop && (i = next++) < jobs.size(); ++finished) {
            try {
                runs[i] = RunJob(options, jobs[i], openers, bytes, stop);
            } catch (const std::exception& error) { // out of memory, say: this file fails
                runs[i] = FailedRun(Failure("cannot run", Quoted(jobs[i].Source()), error.what()));
            }
        }
        --working;
    };
    ProgressLine progress(jobs.size(), finished, bytes);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < workers; ++i)
            threads.emplace_back(work);
        while (working > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            progress.Update();
        }
    }
    progress.Clear();

    std::size_t counts[5] = {}; // by Outcome
    std::uint64_t total = 0;
    if (!options.quiet)
        for (const std::string& message : plan.skipped)
            Say(message);
    if (options.verbose)
        for (const std::string& message : plan.kept)
            Say(message);
    for (const std::string& message : plan.failed)
        Say(message);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        for (const std::string& message : runs[i].messages)
            Say(message);
        ++counts[static_cast<int>(runs[i].outcome)];
        total += runs[i].bytes;
    }
    const std::size_t done = counts[static_cast<int>(Outcome::Done)];
    const std::size_t skipped =
        counts[static_cast<int>(Outcome::Skipped)] + plan.skipped.size() + plan.kept.size();
    const std::size_t noKey = counts[static_cast<int>(Outcome::NoKey)];
    const std::size_t failed =
        counts[static_cast<int>(Outcome::Failed)] + noKey + plan.failed.size();
    if (stop && (finished < jobs.size() || counts[static_cast<int>(Outcome::Interrupted)] > 0)) {
        Say("interrupted: " + std::to_string(done) + " of " + Files(jobs.size()) + " done");
        return interruption.ExitStatus();
    }
    if (failed > 0 || !options.quiet)
        Say(Files(done) + " done, " + (skipped ? std::to_string(skipped) + " skipped, " : "") +
            std::to_string(failed) + " failed, " + Amount(total));
    if (failed == 0)
        return 0;
    return noKey == failed ? kExitNoKey : kExitFailure;
}

} // namespace tool
