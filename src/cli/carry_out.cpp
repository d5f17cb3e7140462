#include "cli/carry_out.h"

#include <memory>
#include <optional>
#include <string>

#include "cli/jobs.h"
#include "cli/pair_workers.h"
#include "cli/report.h"
#include "tags/copy_tag.h"

namespace kestrane {
namespace {

// Fewer pairs than this (left) are not worth starting threads for.
constexpr std::size_t kLeastPairsForWorkers = 16;

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
    StepClock clock;
    for (std::size_t number = 0; number < plan.entries.size(); ++number) {
        bool pairs_left = plan.entries.size() - number >= kLeastPairsForWorkers;
        if (may_start_workers && pairs_left && (jobs.from_the_start || clock.slow_now())) {
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
