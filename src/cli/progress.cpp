#include "cli/progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "cli/message_text.h"
#include "cli/messages.h"
#include "platform/output.h"

namespace kestrane::progress {
namespace {

using Clock = std::chrono::steady_clock;  // read without a system call where it counts (the vDSO on Linux)
using namespace std::chrono_literals;

constexpr auto kFirstDraw = 500ms;
constexpr auto kBetweenDraws = 100ms;
// An 80-column terminal never wraps it: the carriage return must bring the
// cursor back to its start.
constexpr std::size_t kMostColumns = 79;

// One status line a process, kept by the run's thread alone.
bool shown = false;
// NOLINTNEXTLINE(cert-err58-cpp): constinit, so nothing runs to throw (said of the mingw library only)
constinit Clock::time_point next_draw;
const RunTally* tally = nullptr;  // the outputs told so far, once they are carried out
std::size_t planned_outputs = 0;
constinit Clock::time_point carried_out_since;  // NOLINT(cert-err58-cpp): as next_draw
std::size_t columns_on_screen = 0;  // of the status line drawn; 0 when none is

// "m:ss", or "h:mm:ss" from an hour on.
std::string clock_time(std::size_t seconds) {
    auto two_digits = [](std::size_t value) { return std::string(value < 10 ? "0" : "") + std::to_string(value); };
    if (seconds < 3600) return std::to_string(seconds / 60) + ":" + two_digits(seconds % 60);
    return std::to_string(seconds / 3600) + ":" + two_digits(seconds / 60 % 60) + ":" + two_digits(seconds % 60);
}

// Replaces the status line on the screen with the text, cut to what the
// terminal holds without wrapping.
void draw(std::string text) {
    int terminal_columns = platform::output_columns();
    std::size_t most = terminal_columns > 1 ? std::min<std::size_t>(kMostColumns, terminal_columns - 1) : kMostColumns;
    text.resize(std::min(text.size(), most));
    std::string line = "\r" + text;
    if (columns_on_screen > text.size()) line.append(columns_on_screen - text.size(), ' ');
    platform::write_output(line);
    columns_on_screen = text.size();
    next_draw = Clock::now() + kBetweenDraws;
}

std::string outputs_status() {
    std::size_t done = totals_of(*tally).outputs;
    std::string text = counted(messages::kStatusDone, {done, planned_outputs});
    double seconds = std::chrono::duration<double>(Clock::now() - carried_out_since).count();
    if (done == 0 || seconds <= 0) return text;
    double rate = static_cast<double>(done) / seconds;
    if (rate >= 1) text += counted(messages::kStatusRate, {static_cast<std::size_t>(std::llround(rate))});
    double outputs_left = static_cast<double>(planned_outputs - std::min(done, planned_outputs));
    std::string left = clock_time(static_cast<std::size_t>(std::llround(outputs_left / rate)));
    return text + filled(messages::kStatusTimeLeft, left);
}

}  // namespace

void start(bool show) {
    shown = show;
    next_draw = Clock::now() + kFirstDraw;
}

bool due() { return shown && Clock::now() >= next_draw; }

void draw_listing(std::size_t folders, std::size_t outputs) {
    draw(counted(messages::kStatusListing, {folders, outputs}));
}

void follow(const RunTally& run_tally, const Plan& plan) {
    if (!shown) return;
    tally = &run_tally;
    planned_outputs = static_cast<std::size_t>(std::count_if(plan.entries.begin(), plan.entries.end(), [](const PlanEntry& entry) {
        return entry.kind != EntryKind::unreadable_folder;
    }));
    carried_out_since = Clock::now();
}

void tick() {
    if (tally != nullptr && due()) draw(outputs_status());
}

void hide() {
    if (columns_on_screen == 0) return;
    std::string blank(columns_on_screen + 2, ' ');  // the line blanked, the cursor back at its start
    blank.front() = blank.back() = '\r';
    platform::write_output(blank);
    columns_on_screen = 0;
}

}  // namespace kestrane::progress
