#include "cli/recovery.h"

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "cli/messages.h"
#include "cli/report.h"
#include "platform/own_files.h"
#include "tags/journal_folder.h"
#include "tags/put_back.h"

namespace kestrane {
namespace {

// A journal file, held by this run while it is read (and so by no other).
struct HeldJournal {
    platform::OpenFile file;
    JournalHeader header;
    std::uint64_t first = 0;  // where its first change stands
    bool held = false;
    explicit HeldJournal(const std::string& path) {
        std::optional<JournalHeader> read;
        held = platform::open_output_file(path, file) && (read = decode_header(file, first));
        if (read) header = *read;
    }
    ~HeldJournal() { platform::close_file(file); }
    HeldJournal(const HeldJournal&) = delete;
    HeldJournal& operator=(const HeldJournal&) = delete;
};

void tell(Outcome outcome, const Change& change, RunTally& tally) {
    tally.count(outcome);
    report::say_output(outcome, change.output_path, {});
}

// The changes noted in the journal, then in its overflow file (those past
// its bound, noted later).
std::vector<Change> changes_in(const HeldJournal& journal, const std::string& overflow_path) {
    std::vector<Change> changes;
    auto read_from = [&](const platform::OpenFile& file, std::uint64_t first) {
        for (std::uint64_t offset : change_offsets(file, first)) {
            std::uint64_t next = 0;
            if (std::optional<Change> change = decode_change(file, offset, next)) changes.push_back(std::move(*change));
        }
    };
    read_from(journal.file, journal.first);
    platform::OpenFile overflow;
    if (platform::open_input_file(overflow_path, overflow)) read_from(overflow, 0);
    platform::close_file(overflow);
    return changes;
}

}  // namespace

void recover_unfinished_runs(const std::string& folder, bool dry_run, RunTally& tally) {
    for (const std::string& name : journals_in(folder, kUnfinished)) {
        std::string path = folder + name, overflow_path = path + std::string(kOverflow);
        HeldJournal journal(path);
        if (!journal.held) {
            // Held by a run still under way, or cut short before its header was whole.
            bool empty = journal.file.handle >= 0;
            platform::close_file(journal.file);
            if (empty && !dry_run) platform::remove_file(path);
            continue;
        }
        // The last change noted for each file is the one that may have been cut short.
        std::vector<Change> changes = changes_in(journal, overflow_path);
        std::map<platform::FileIdentity, std::size_t> last;
        for (std::size_t i = 0; i < changes.size(); ++i) last[changes[i].identity] = i;
        bool unreachable = false;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            if (last[changes[i].identity] != i) continue;
            Recovery recovery = recover(changes[i], dry_run);
            unreachable = unreachable || recovery.unreachable;
            if (recovery.outcome) tell(*recovery.outcome, changes[i], tally);
        }
        if (dry_run || unreachable) continue;
        platform::close_file(journal.file);  // Windows renames no file held open
        platform::remove_file(overflow_path);
        platform::rename_file(path, path.substr(0, path.size() - kUnfinished.size()) + std::string(kFinished));
    }
}

void undo_last_run(const std::string& folder, bool dry_run, Journal* journal, RunTally& tally) {
    std::vector<std::string> kept = journals_in(folder, kFinished);
    for (auto name = kept.rbegin(); name != kept.rend(); ++name) {
        std::string path = folder + *name;
        HeldJournal taken(path);
        if (!taken.held || taken.header.undoes) continue;
        report::say(messages::kUndoing, taken.header.description);
        std::vector<Change> changes = changes_in(taken, path + std::string(kOverflow));
        bool unreachable = false;
        for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
            std::optional<Outcome> outcome = undo(*change, dry_run, journal);
            unreachable = unreachable || outcome == Outcome::cant_open_output;
            if (outcome) tell(*outcome, *change, tally);
        }
        platform::close_file(taken.file);
        if (!dry_run && !unreachable) platform::remove_file(path);
        return;
    }
    tally.note(RunNote::nothing_to_undo);
    report::say(messages::kNothingToUndo);
}

}  // namespace kestrane
