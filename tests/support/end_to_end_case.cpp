#include "support/end_to_end_case.h"

#include <regex>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/run_tool.h"

namespace kestrane::testing {
namespace {

// The text with each '/' made the separator and each '@' the folder's path.
std::string typed(std::string text, char separator, const std::string& folder) {
    std::replace(text.begin(), text.end(), '/', separator);
    for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos; at += folder.size()) {
        text.replace(at, 1, folder);
    }
    return text;
}

// The names of the files whose bytes are not as expected, or that only one
// side holds: a failure names them instead of printing every byte.
std::vector<std::string> differing(const Files& found, const Files& expected) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : found) {
        if (!expected.contains(name) || expected.at(name) != bytes) names.push_back(name);
    }
    for (const auto& [name, bytes] : expected) {
        if (!found.contains(name)) names.push_back(name);
    }
    return names;
}

// Whether the tool prints its banner for the arguments: not in a quiet run,
// which an option group holding 'q' (before any "--") asks for.
bool prints_banner(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--") break;
        bool group = (argument.starts_with('-') && !argument.starts_with("--")) || argument.starts_with(kPlatform.option);
        if (group && argument.find_first_of("qQ") != std::string::npos) return false;
    }
    return true;
}

}  // namespace

std::string option(std::string_view letters) { return kPlatform.option + std::string(letters); }

std::string with_separators(std::string_view text) { return typed(std::string(text), kPlatform.separators.front(), {}); }

std::string reported(std::string_view text) {
    std::string lines;
    for (char c : text) lines += c == '\n' ? std::string(kPlatform.line_end) : std::string(1, c);
    return lines;
}

// A time of day as a run tells it: "2026-12-10 17:44:05".
const std::regex kTimes("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");

void check(const Case& c, char separator) {
    ScratchFolder folder;
    for (const auto& [name, bytes] : c.files) {
        std::filesystem::create_directories((folder / name).parent_path());
        if (!name.ends_with('/')) write_file(folder / name, bytes);
    }
    if (c.prepare) c.prepare(folder);
    Files expected = snapshot(folder.path);
    const std::string absolute = kPlatform.absolute(folder.path);
    for (const Run& run : c.runs) {
        std::vector<std::string> arguments;
        std::string command = "kestrane";
        for (const std::string& argument : run.arguments) {
            bool is_option = argument.starts_with('-') || argument.starts_with(kPlatform.option);
            arguments.push_back(is_option ? argument : typed(argument, separator, absolute));
            command += " " + arguments.back();
        }
        SCOPED_TRACE(command);
        std::string banner = prints_banner(run.arguments) ? kBannerText : "";
        std::string output = run_in(folder, arguments, run.status).output;
        if (run.report.find(kAnyTime) != std::string::npos) output = std::regex_replace(output, kTimes, kAnyTime);
        EXPECT_EQ(output, reported(banner + typed(run.report, separator, absolute)));
        for (const auto& [name, bytes] : run.changed) expected[name] = bytes;
        EXPECT_EQ(differing(snapshot(folder.path), expected), std::vector<std::string>{});
    }
}

}  // namespace kestrane::testing
