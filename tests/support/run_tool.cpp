#include "support/run_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef KESTRANE_VERSION
#error "KESTRANE_VERSION must be defined by the build"
#endif

namespace kestrane::testing {
namespace {

constexpr int kDefault = -1;
constexpr int kSignalsStartingAsDefault[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// Makes from the descriptor numbered to, or closes to when from is kClosed.
void give(int from, int to) {
    if (from == kClosed) {
        ::close(to);
    } else {
        ::dup2(from, to);
    }
}

// As a shell with job control starts a background job: the tool runs in a
// process group of its own in a new session whose controlling terminal (and
// the tool's standard input) is terminal. Exits with the tool's status, or
// 128 + the signal that ended or stopped it; a stopped tool then gets SIGHUP,
// as its process group is left orphaned.
[[noreturn]] void run_in_background_of(const std::string& terminal, char* const* argv) {
    ::setsid();
    int tty = ::open(terminal.c_str(), O_RDWR | O_CLOEXEC);  // becomes the controlling terminal
    if (::fork() == 0) {
        ::setpgid(0, 0);
        ::dup2(tty, STDIN_FILENO);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(-1, &status, WUNTRACED);
    if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
    ::_exit(128 + (WIFSTOPPED(status) ? WSTOPSIG(status) : WTERMSIG(status)));
}

// A text the tool prints, as kept in tests/golden.
std::string golden_text(const char* name) {
    Bytes bytes = read_file(std::filesystem::path(KESTRANE_GOLDEN_DIR) / name);
    std::string text(bytes.begin(), bytes.end());
    const std::string_view version = "@KESTRANE_VERSION@";
    if (auto at = text.find(version); at != std::string::npos) text.replace(at, version.size(), KESTRANE_VERSION);
    return text;
}

}  // namespace

std::string read_to_end(int descriptor) {
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

const std::string kBannerText = golden_text("banner.txt");
const std::string kUsageText = golden_text("usage.txt");

void write_every_outcome_samples(const ScratchFolder& folder) {
    write_file(folder / "update.ape", kAudio + kApeTag);
    write_file(folder / "update.mp3", kAudio + kOldId3);
    write_file(folder / "append.ape", kAudio + kId3Tag);
    write_file(folder / "append.mp3", kAudio);
    write_file(folder / "bare.ape", kAudio);
    write_file(folder / "bare.mp3", kAudio + kOldApe);
    write_file(folder / "alone.mp3", kAudio);
    write_file(folder / "twice.ape", kAudio + kApeTag);
    write_file(folder / "twice.x.ape", kAudio + kApeTag);
    write_file(folder / "twice.mp3", kAudio);
    write_file(folder / "protected.ape", kAudio + kApeTag);
    write_file(folder / "protected.mp3", kAudio);
    write_file(folder / "insync.ape", kAudio + kApeTag);
    write_file(folder / "insync.mp3", kAudio + kApeTag);
}

void age_files(const ScratchFolder& folder) {
    auto long_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder.path)) {
        if (!item.is_symlink()) std::filesystem::last_write_time(item.path(), long_ago);
    }
}

std::map<std::string, std::filesystem::file_time_type> modification_times(const ScratchFolder& folder) {
    std::map<std::string, std::filesystem::file_time_type> times;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder.path)) {
        times[std::filesystem::relative(item.path(), folder.path).string()] = item.last_write_time();
    }
    return times;
}

std::string as_dry_run(std::string report) {
    const std::pair<std::string, std::string> rewordings[] = {{"\nupdated tag from ", "\nwould update tag from "},
                                                              {"\nappended tag from ", "\nwould append tag from "}};
    for (const auto& [done, would] : rewordings) {
        for (std::size_t at = 0; (at = report.find(done, at)) != std::string::npos; at += would.size()) {
            report.replace(at, done.size(), would);
        }
    }
    return report;
}

ToolRun run_in(const ScratchFolder& folder, const std::vector<std::string>& arguments, int status) {
    ToolRun run = run_tool(folder.path, arguments);
    EXPECT_EQ(run.exit_status, status);
    EXPECT_EQ(run.errors, "");
    return run;
}

std::vector<JsonRecord> json_records(const std::string& report, bool quiet) {
    ScratchFolder folder;
    write_file(folder / "report.jsonl", Bytes(report.begin(), report.end()));
    std::string command = "python3 '" KESTRANE_GOLDEN_DIR "/../support/json_lines_records.py' " +
                          std::string(quiet ? "--quiet " : "") + "< '" + (folder / "report.jsonl").string() + "'";
    FILE* parsed = ::popen(command.c_str(), "r");
    std::vector<JsonRecord> records(1, JsonRecord(1));
    for (int c; (c = std::fgetc(parsed)) != EOF;) {
        if (c == '\0') {
            records.emplace_back(1);
        } else if (c == 0x1F) {
            records.back().emplace_back();
        } else {
            records.back().back() += static_cast<char>(c);
        }
    }
    EXPECT_EQ(::pclose(parsed), 0) << report;
    records.pop_back();  // begun after the last record
    return records;
}

std::string screen_of(const std::string& written) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (std::size_t at = 0; at < written.size(); ++at) {
        char c = written[at];
        if (c == '\x1b' && at + 1 < written.size() && written[at + 1] == '[') {
            std::size_t end = written.find_first_of("@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~",
                                                    at + 2);
            if (end != std::string::npos && written[end] == 'K') lines.back().resize(std::min(lines.back().size(), column));
            at = end == std::string::npos ? written.size() : end;
        } else if (c == '\r' || c == '\n') {
            if (c == '\n') lines.emplace_back();
            column = 0;
        } else if (column < lines.back().size()) {
            lines.back()[column++] = c;
        } else {
            lines.back() += c;
            ++column;
        }
    }
    std::string shown;
    for (std::size_t number = 0; number < lines.size(); ++number) {
        if (number > 0) shown += '\n';
        shown += lines[number].substr(0, lines[number].find_last_not_of(' ') + 1);
    }
    return shown;
}

std::string entry(const std::string& output_path, const std::string& outcome) {
    return "\n" + output_path + ":\n" + outcome;
}

std::string state_folder_of(const std::filesystem::path& folder) {
    std::string state = folder.string() + ".state";
    std::filesystem::create_directories(state);
    return state;
}

void keep_state_in(const std::string& state) {
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);  // the wine tool's script shows it to Windows as Z:...
}

std::string tool_path() {
    const char* from_environment = std::getenv("KESTRANE_EXE");
    return from_environment != nullptr ? from_environment : KESTRANE_EXE;
}

ToolRun run_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                 const RunOptions& options) {
    std::string program = tool_path();
    std::vector<char*> argv;
    // Through the starter that writes the peak to a file, when measured.
#if defined(KESTRANE_PEAK_MEMORY_EXE)
    std::string starter = KESTRANE_PEAK_MEMORY_EXE;
#else
    std::string starter = "kestrane_peak_memory";  // not built for this test program
#endif
    std::string peak_file = (std::filesystem::temp_directory_path() / ("kestrane-peak-" + std::to_string(::getpid()))).string();
    if (options.measure_peak_memory) {
        argv.push_back(starter.data());
        argv.push_back(peak_file.data());
    }
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Standard output and error go to files, so a large report never fills a pipe.
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
    if (out_file == nullptr || err_file == nullptr) throw std::runtime_error("tmpfile failed");
    std::string state = options.state_folder.empty() ? state_folder_of(folder) : options.state_folder;
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        keep_state_in(state);
        int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        give(options.input == kDefault ? null_input : options.input, STDIN_FILENO);
        give(options.output == kDefault ? ::fileno(out_file) : options.output, STDOUT_FILENO);
        ::dup2(::fileno(err_file), STDERR_FILENO);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        if (options.file_size_limit != 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{options.file_size_limit, options.file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.address_space_limit != 0) {
            rlimit limit{options.address_space_limit, options.address_space_limit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (options.user >= 0 && (::setgid(options.user) != 0 || ::setuid(options.user) != 0)) ::_exit(125);
        if (options.open_files_limit != 0) {
            for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) ::close(fd);  // the tool gets only its own three
            rlimit limit{options.open_files_limit, options.open_files_limit};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        for (int signal_number : kSignalsStartingAsDefault) std::signal(signal_number, SIG_DFL);
        for (int signal_number : options.ignored_signals) std::signal(signal_number, SIG_IGN);
        if (!options.background_terminal.empty()) run_in_background_of(options.background_terminal, argv.data());
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (int handed_over : {options.input, options.output}) {
        if (handed_over >= 0) ::close(handed_over);
    }
    if (options.while_running) options.while_running(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    ToolRun run;
    if (options.measure_peak_memory) {
        std::ifstream peak(peak_file);
        std::uint64_t bytes = 0;
        peak >> bytes;
        std::filesystem::remove(peak_file);
        run.peak_memory_kib = bytes / 1024;
    }
    ::lseek(::fileno(out_file), 0, SEEK_SET);
    ::lseek(::fileno(err_file), 0, SEEK_SET);
    run.output = read_to_end(::fileno(out_file));
    run.errors = read_to_end(::fileno(err_file));
    std::fclose(out_file);
    std::fclose(err_file);
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

}  // namespace kestrane::testing
