#include "cli/carry_out.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "cli/pair_workers.h"
#include "cli/report.h"
#include "tags/copy_tag.h"

namespace kestrane {
namespace {

// Workers start once this many pairs in a row have each taken longer than
// kSlowPair: a pair whose files are cached takes a small fraction of it,
// one that waits for a disk or a network takes longer. Threads make every
// file operation of a process a little dearer (about 5% here), which is not
// worth paying while the files are cached.
constexpr std::size_t kSlowPairsBeforeWorkers = 3;
constexpr std::chrono::microseconds kSlowPair{100};
// Fewer pairs than this (left) are not worth starting threads for.
constexpr std::size_t kLeastPairsForWorkers = 16;

struct Jobs {
    std::size_t most = kDefaultJobs;
    bool from_first_pair = false;
};

Jobs jobs_asked() {
    const char* setting = std::getenv(kJobsVariable);
    if (setting == nullptr || *setting == '\0') return {};
    char* end = nullptr;
    unsigned long asked = std::strtoul(setting, &end, 10);
    if (*end != '\0' || asked == 0) return {};
    if (asked == 1) return {1, false};
    return {std::min<std::size_t>(asked, kMostJobs), true};
}

// Times the pairs done one at a time, to tell when they are slow. The
// clock is read without a system call where it counts (the vDSO on Linux).
struct PairClock {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    std::size_t slow_in_a_row = 0;
    bool slow_now() {
        auto now = std::chrono::steady_clock::now();
        slow_in_a_row = now - last > kSlowPair ? slow_in_a_row + 1 : 0;
        last = now;
        return slow_in_a_row >= kSlowPairsBeforeWorkers;
    }
};

void report_step(const PlanEntry& entry) {
    switch (entry.step) {
        case Step::unreadable_folder:
            return report::say_folder_unreadable(entry.path);
        case Step::no_matching_input:
            report::say_heading(entry.path);
            return report::say_unpaired(Outcome::no_matching_input, entry.path);
        case Step::multiple_matching_inputs:
            report::say_heading(entry.path);
            return report::say_unpaired(Outcome::multiple_matching_inputs, entry.path);
        case Step::copy:
            return;
    }
}

}  // namespace

void carry_out(Plan& plan, TransferOptions options) {
    Jobs jobs = jobs_asked();
    auto would_be_written = std::make_shared<WouldBeWritten>();  // what a dry run would have written so far
    std::optional<PairWorkers> workers;
    bool may_start_workers = jobs.most > 1;
    PairClock clock;
    for (std::size_t number = 0; number < plan.entries.size(); ++number) {
        bool pairs_left = plan.entries.size() - number >= kLeastPairsForWorkers;
        if (may_start_workers && pairs_left && (jobs.from_first_pair || clock.slow_now())) {
            may_start_workers = false;
            workers.emplace(plan, number, options, would_be_written, jobs.most);
            if (!workers->started()) workers.reset();
        }
        PlanEntry& entry = plan.entries[number];
        if (entry.step == Step::copy) {
            report::say_heading(entry.path);
            CopyOutcome outcome = workers ? workers->outcome_of(number)
                                          : copy_tag(entry.input_path, entry.path, options, {would_be_written.get()});
            report::say_outcome(outcome, entry.input_path, entry.path);
        } else {
            report_step(entry);
        }
        if (!workers) {
            std::string().swap(entry.path);  // done with this entry; workers read entries ahead
            std::string().swap(entry.input_path);
        }
    }
}

}  // namespace kestrane
