// One result written as cp, sed -i and gzip write theirs: into a hidden file beside its
// name, which takes the name only once it is complete, and which keeps what the file it
// replaces had beside its contents. Only a regular file is ever replaced.

#include "quorvex/transcode.h"
#include "tool.h"

namespace tool {

FileRun WriteResult(InputFile& source, const Destination& to, quorvex::CipherMode mode,
                    quorvex::CipherKey key, std::atomic<std::uint64_t>* progress,
                    const std::atomic<bool>* stop) {
    FileRun run;
    const std::string_view writing = to.inPlace ? "cannot replace" : "cannot write output";
    const auto fail = [&run](std::string_view verb, std::string_view shown,
                             std::string_view reason) {
        run.outcome = Outcome::Failed;
        run.messages.push_back(Failure(verb, shown, reason));
        return run;
    };
    const auto failed = [&](std::string_view verb, std::string_view shown,
                            quorvex::SystemError error) {
        return fail(verb, shown, quorvex::DescribeError(error));
    };

    using Kind = quorvex::Folder::Kind;
    quorvex::FileIdentity old;
    Kind kind = Kind::Regular;
    quorvex::SystemError error = 0;
    const bool exists = to.folder->Identify(to.name, old, kind, error);
    if (!exists && !quorvex::IsNoSuchFile(error))
        return failed(writing, to.shown, error);
    if (exists && to.noClobber) {
        run.outcome = Outcome::Skipped;
        return run;
    }
    if (exists && kind != Kind::Regular)
        return failed(writing, to.shown,
                      kind == Kind::Link     ? quorvex::kIsLink
                      : kind == Kind::Folder ? quorvex::kIsFolder
                                             : quorvex::kNotRegularFile);
    if (exists && !to.inPlace && old.SameFileAs(source.identity))
        return fail(writing, to.shown, "input and output are the same file");
    if (exists && !to.inPlace && !to.force && !to.folder->Writable(to.name))
        return fail(writing, to.shown, "it is write-protected (-f replaces it all the same)");
    bool backupExists = false;
    if (!to.backup.empty()) {
        quorvex::FileIdentity kept;
        Kind keptKind = Kind::Regular;
        quorvex::SystemError why = 0;
        backupExists = to.folder->Identify(to.backup, kept, keptKind, why);
        if (backupExists ? keptKind != Kind::Regular : !quorvex::IsNoSuchFile(why))
            return failed("cannot keep the original of " + to.shown + " as", Quoted(to.backup),
                          why                        ? why
                          : keptKind == Kind::Folder ? quorvex::kIsFolder
                                                     : quorvex::kNotRegularFile);
    }

    // A file that replaces another is its owner's alone until it has taken on the other's
    // attributes; a new one is no more open than its input.
    quorvex::PendingFile pending(
        *to.folder, to.name, exists ? 0600 : quorvex::NewFilePermissions(source.identity), error);
    if (!pending.IsOpen() ||
        (!exists && !pending.Contents().WithholdFromOtherGroup(source.identity, error)))
        return failed(writing, to.shown, error);
    quorvex::StreamOptions options;
    options.bytesRead = progress;
    const quorvex::StreamResult stream = quorvex::TranscodeOpened(
        *source.file, source.front, pending.Contents(), mode, key, options, stop);
    if (stream.status == quorvex::StreamStatus::ReadFailed &&
        stream.error == quorvex::kInterrupted) {
        run.outcome = Outcome::Interrupted;
        return run;
    }
    if (stream.status == quorvex::StreamStatus::ReadFailed)
        return failed(to.inPlace ? "cannot read" : "cannot read input", source.shown, stream.error);
    if (stream.status == quorvex::StreamStatus::WriteFailed)
        return failed(writing, to.shown, stream.error);
    // Bytes that would not come back never take the place of a file, unless it is kept;
    // and an older backup, which may be the only exact copy left, is not given up for it.
    if (exists && stream.lossyBytes > 0 && !to.force &&
        (!to.inPlace || to.backup.empty() || backupExists))
        return fail("will not replace", to.shown,
                    std::to_string(stream.lossyBytes) +
                        (stream.lossyBytes == 1 ? " byte" : " bytes") +
                        " would not come back from a round trip, the first on line " +
                        std::to_string(stream.firstLossyLine) +
                        (!to.inPlace    ? " (--force replaces it)"
                         : backupExists ? ", and its backup " + Quoted(to.backup) +
                                              " would be replaced too (--force replaces both)"
                                        : " (--backup keeps the original, --force replaces it)"));
    if (exists && !pending.KeepAttributesOf(to.replaced, error))
        return failed(writing, to.shown, error);
    if (to.durable && !pending.Contents().Sync(error))
        return failed(writing, to.shown, error);
    if (!pending.Publish(exists, to.backup, error)) {
        if (!(to.noClobber && quorvex::IsFileExists(error)))
            return failed(writing, to.shown, error);
        run.outcome = Outcome::Skipped; // made by someone else meanwhile
        return run;
    }
    if (to.durable && !to.folder->Sync(error))
        return failed("cannot flush the folder of", to.shown, error);
    run.outcome = Outcome::Done;
    run.bytes = source.identity.size;
    run.lossyBytes = stream.lossyBytes;
    run.firstLossyLine = stream.firstLossyLine;
    return run;
}

} // namespace tool
