// The write-ahead journal of one run: before the run changes an output,
// what it will change reaches the journal file, so that whatever ends the
// run after that (a kill, a crash, a power cut with durable on), the next
// run can put the output back; and once the run is over, the journal is
// kept so that --undo can take the run back. It lives in the tool's state
// folder, one file a run, made with the run's first change: a run that
// changes nothing leaves none.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/files.h"
#include "platform/own_files.h"
#include "tags/change.h"
#include "tags/journal_folder.h"

namespace kestrane {

class Journal {
public:
    struct Settings {
        std::string folder;       // the state folder; "" when there is none (the journal is then lost)
        JournalHeader header;
        bool durable = false;     // a change waits until its note is on the disk
        bool kept = true;         // kept for --undo once the run is over (else removed then)
    };
    explicit Journal(Settings settings);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // How a change was noted: kept for --undo; kept only until it is made
    // (past the bound); or not at all (no journal could be made or
    // written: the change goes ahead all the same, and lost() says so).
    enum class Noted { kept, until_made, not_at_all };

    // Notes the change before it is made. Safe from several copies at once.
    Noted note(const Change& change);
    // The change noted is made (or undone after a failure).
    void made(Noted noted);

    // The run is over: with durable on, the outputs changed reach the disk
    // first; then the journal is kept for --undo, the oldest kept journals
    // going as the bound asks. A run that changed nothing leaves nothing.
    void finish();

    bool lost() const { return lost_; }                // some change went unnoted
    bool past_its_bound() const { return overflowed_; }  // --undo will not cover all of the run

private:
    bool open_files();
    bool copy_into_room(const EncodedChange& encoded);
    void make_durable(std::unique_lock<std::mutex>& lock, std::uint64_t note);

    Settings settings_;
    std::string path_;
    platform::OpenFile file_, overflow_;
    platform::MappedRoom room_;   // where notes are copied, when it can be had
    bool no_room_ = false;
    std::uint64_t end_ = 0, overflow_end_ = 0;
    std::uint64_t overflow_in_flight_ = 0;
    std::map<platform::FileIdentity, std::string> to_sync_;  // the outputs changed, with --sync
    std::uint64_t written_ = 0, synced_ = 0;  // notes written, and how many of them are on the disk
    bool syncing_ = false;
    bool lost_ = false, overflowed_ = false, tried_ = false;
    std::mutex mutex_;
    std::condition_variable synced_now_;
};

}  // namespace kestrane
