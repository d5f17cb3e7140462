#include "cli/batch_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/name_rules.h"
#include "cli/pairing.h"
#include "platform/platform.h"
#include "tags/copy_tag.h"

namespace kestrane {
namespace {

// The specification's directory as typed, to which listed names are added.
std::string directory_part(const std::string& specification) {
    return specification.substr(0, file_name_part(specification).value_or(specification.size()));
}

// Says that a specification matched nothing.
void report_nothing_found(const std::string& specification, const char* wildcard_message) {
    if (has_wildcards(specification)) {
        std::printf("%s", wildcard_message);
    } else {
        std::printf("file %s not found!\n", specification.c_str());
    }
}

void process_outputs(std::vector<std::string>& output_names, const std::string& output_directory,
                     const std::vector<std::string>& input_names, const std::string& input_directory,
                     TransferMode mode) {
    InputIndex index = index_inputs(input_names);
    for (std::string& output_name : output_names) {
        std::string output_path = output_directory + output_name;
        std::printf("\n%s:\n", output_path.c_str());
        InputMatch match = find_input(index, output_path);
        if (match.count == 0) {
            std::printf("no matching input file!\n");
        } else if (match.count > 1) {
            std::printf("multiple matching input files!\n");
        } else {
            copy_tag(input_directory + input_names[match.input], output_path, mode);
        }
        std::string().swap(output_name);  // done with this output
    }
}

}  // namespace

int run(std::span<const std::string_view> arguments) {
    std::printf("%s", kBanner);
    CommandLine command_line = read_command_line(arguments);
    if (!is_runnable(command_line)) {
        std::printf("%s", kUsage);
        return 0;
    }
    platform::init_console();

    std::string input_specification = with_default_extension(command_line.input_specification);
    std::string output_specification = with_default_extension(command_line.output_specification);
    auto [input_names, output_names] = platform::list_matching_files(input_specification, output_specification);
    if (input_names.empty()) {
        report_nothing_found(input_specification, "no input files found!\n");
        return 0;
    }
    if (output_names.empty()) {
        report_nothing_found(output_specification, "no output files found!\n");
        return 0;
    }
    process_outputs(output_names, directory_part(output_specification), input_names,
                    directory_part(input_specification), command_line.mode);
    return 0;
}

}  // namespace kestrane
