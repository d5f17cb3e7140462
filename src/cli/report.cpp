#include "cli/report.h"

#include <string>

#include "cli/messages.h"
#include "platform/output.h"

namespace kestrane::report {

void say(std::string_view message) { platform::write_output(message); }

void say(std::string_view message, std::string_view value) {
    std::size_t at = message.find('%');  // every message has one '%s' or '%c' at the most
    if (at == std::string_view::npos) return say(message);
    std::string line;
    line.reserve(message.size() + value.size());
    line.append(message.substr(0, at)).append(value).append(message.substr(at + 2));
    platform::write_output(line);
}

void say_folder_unreadable(std::string_view folder) {
    say("\n");
    say(messages::kCantReadFolder, folder);
}

void say_outcome(CopyOutcome outcome, std::string_view input_path, std::string_view output_path) {
    using namespace messages;
    switch (outcome) {
        case CopyOutcome::cant_open_input: return say(kCantOpenInput, input_path);
        case CopyOutcome::cant_open_output: return say(kCantOpenOutput);
        case CopyOutcome::input_has_no_tag: return say(kInputHasNoTag, input_path);
        case CopyOutcome::output_already_tagged: return say(kOutputAlreadyTagged, output_path);
        case CopyOutcome::output_has_no_tag: return say(kOutputHasNoTag, output_path);
        case CopyOutcome::update_failed: return say(kUpdateFailed);
        case CopyOutcome::append_failed: return say(kAppendFailed);
        case CopyOutcome::updated: return say(kUpdated, input_path);
        case CopyOutcome::appended: return say(kAppended, input_path);
        case CopyOutcome::up_to_date: return say(kUpToDate, input_path);
        case CopyOutcome::would_update: return say(kWouldUpdate, input_path);
        case CopyOutcome::would_append: return say(kWouldAppend, input_path);
    }
}

}  // namespace kestrane::report
