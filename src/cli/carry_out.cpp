#include "cli/carry_out.h"

#include <new>
#include <optional>
#include <string>

#include "cli/messages.h"
#include "cli/pairs_in_flight.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "platform/signals.h"

namespace kestrane {
namespace {

// Fewer pairs than this (left) are not worth starting threads for.
constexpr std::size_t kLeastPairsForWorkers = 16;

void tell_output(const PlanEntry& entry, Outcome outcome, RunTally& tally) {
    tally.count(outcome);
    report::say_output(outcome, entry.path, entry.kind == EntryKind::copy ? entry.input_path : std::string());
    progress::tick();
}

void tell_planned(const PlanEntry& entry, RunTally& tally) {
    if (entry.kind == EntryKind::unreadable_folder) {
        tally.note(RunNote::unreadable_folder);
        report::say_folder_unreadable(entry.path);
    } else {
        tell_output(entry, entry.outcome, tally);
    }
}

}  // namespace

void carry_out(Plan& plan, PairContext& context, Workers& workers, RunTally& tally) {
    platform::hold_interrupts();  // the run ends itself, once the pairs in flight are told
    std::optional<PairsInFlight> in_flight;
    std::size_t number = 0;
    try {
        for (; number < plan.entries.size(); ++number) {
            PlanEntry& entry = plan.entries[number];
            if (entry.kind != EntryKind::copy) {
                tell_planned(entry, tally);
                continue;
            }
            bool worth_starting = plan.entries.size() - number >= kLeastPairsForWorkers;
            WorkerPool* pool = in_flight ? nullptr : workers.before_step(worth_starting);
            if (pool != nullptr) in_flight.emplace(plan, number, context, *pool);
            std::optional<Outcome> outcome;
            if (in_flight) {
                outcome = in_flight->outcome_of(number);
            } else if (!platform::interrupted()) {
                outcome = copy_pair({entry.input_path, entry.path, entry.input_folder, entry.output_folder}, context);
            }
            if (!outcome) break;
            tell_output(entry, *outcome, tally);
            if (!in_flight) {
                std::string().swap(entry.path);  // done with this entry; workers would read entries ahead
                std::string().swap(entry.input_path);
            }
        }
    } catch (const std::bad_alloc&) {
        tally.note(RunNote::out_of_memory);
    }
    if (number == plan.entries.size()) return;
    // Stopped early: what was carried out, in plan order.
    if (in_flight) {
        in_flight->stop();
        for (; number < plan.entries.size(); ++number) {
            std::optional<Outcome> outcome = in_flight->carried_out(number);
            if (outcome && plan.entries[number].kind == EntryKind::copy) tell_output(plan.entries[number], *outcome, tally);
        }
    }
    if (in_flight && !platform::interrupted()) tally.note(RunNote::out_of_memory);  // the workers ran out
    if (tally.has(RunNote::out_of_memory)) report::say(messages::kOutOfMemory);
}

}  // namespace kestrane
