#include "support/testfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef KESTRANE_TESTFS_EXE
#error "KESTRANE_TESTFS_EXE must be defined by the build (\"\" when kestrane_testfs is not built)"
#endif

namespace kestrane::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr const char* kProgram = KESTRANE_TESTFS_EXE;
// A mount's folder: this prefix, the test process's id, '-', a random part.
constexpr const char* kFolderPrefix = "kestrane-testfs-";

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

struct Mount {
    fs::path mount_point;
    int process = 0;  // of the file system that made it
};

// "\040" and the like, as /proc/self/mountinfo writes a space in a path.
std::string unescaped(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            result += text[i];
        }
    }
    return result;
}

// The test file systems mounted now, with the process each names in its
// source ("kestrane_testfs:PID").
std::vector<Mount> testfs_mounts() {
    std::vector<Mount> mounts;
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        std::stringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        auto separator = std::find(words.begin(), words.end(), "-");
        if (words.size() < 5 || separator == words.end() || words.end() - separator < 3) continue;
        const std::string& type = separator[1];
        const std::string& source = separator[2];
        const std::string prefix = "kestrane_testfs:";
        if (type != "fuse.kestrane_testfs" || !source.starts_with(prefix)) continue;
        mounts.push_back(Mount{unescaped(words[4]), std::atoi(source.c_str() + prefix.size())});
    }
    return mounts;
}

bool unmount_path(const fs::path& mount_point, bool lazily) {
    if (::geteuid() == 0) return ::umount2(mount_point.c_str(), lazily ? MNT_DETACH : 0) == 0;
    std::string command = std::string("fusermount3 -u ") + (lazily ? "-z " : "") + "'" + mount_point.string() +
                          "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

// Removes the mount point and what lies beside it, one by one: never
// through a mount that is still there.
void remove_folder_of(const fs::path& mount_point) {
    fs::path folder = mount_point.parent_path();
    std::error_code ignored;
    if (!fs::remove(mount_point, ignored)) return;  // still mounted, or not ours
    if (!folder.filename().string().starts_with(kFolderPrefix)) return;
    for (const char* name : {"control", "log"}) fs::remove(folder / name, ignored);
    fs::remove(folder, ignored);
}

bool gone(int process) { return process > 0 && ::kill(process, 0) != 0 && errno == ESRCH; }

// Unmounts the test file systems whose process is gone (killed, so it could
// not unmount): their mounts would only fail with ENOTCONN. Then removes the
// folders of test processes that are gone (killed before they could).
void unmount_abandoned() {
    for (const Mount& mount : testfs_mounts()) {
        if (!gone(mount.process)) continue;
        unmount_path(mount.mount_point, true);
        remove_folder_of(mount.mount_point);
    }
    std::error_code ignored;
    for (const auto& item : fs::directory_iterator(fs::temp_directory_path(), ignored)) {
        std::string name = item.path().filename().string();
        if (name.starts_with(kFolderPrefix) && gone(std::atoi(name.c_str() + std::strlen(kFolderPrefix)))) {
            remove_folder_of(item.path() / "mount");
        }
    }
}

std::string read_log(const fs::path& log) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int connect_to(const fs::path& socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = socket_path.string();
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection < 0) return -1;
    timeval timeout{10, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(connection);
        return -1;
    }
    return connection;
}

// The reply to one command line; "" when the file system does not answer.
std::string exchange(const fs::path& socket_path, const std::string& line) {
    int connection = connect_to(socket_path);
    if (connection < 0) return "";
    std::string text = line + "\n", reply;
    if (::send(connection, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        char c;
        while (::read(connection, &c, 1) == 1 && c != '\n') reply += c;
    }
    ::close(connection);
    return reply;
}

// Starts the file system with its output in the log; it gets SIGTERM (and
// unmounts itself) when the thread that started it ends.
int start(const std::vector<std::string>& arguments, const fs::path& log) {
    std::vector<char*> argv, envp;
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Under ThreadSanitizer, no second's wait at the end of each mount.
    const char* tsan_options = std::getenv("TSAN_OPTIONS");
    std::string tsan = "TSAN_OPTIONS=" + std::string(tsan_options ? tsan_options : "") + ":atexit_sleep_ms=0";
    for (char** variable = environ; *variable; ++variable) {
        if (!std::string_view(*variable).starts_with("TSAN_OPTIONS=")) envp.push_back(*variable);
    }
    envp.push_back(tsan.data());
    envp.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child != 0) return child;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(input, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    ::close_range(3, ~0U, 0);  // nothing of the test's: no pipe kept open by it
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

}  // namespace

std::string testfs_unavailable() {
    if (std::string(kProgram).empty()) {
        return "kestrane_testfs was not built: pkg-config found no fuse3 when the build was configured "
               "(install libfuse3-dev, fuse3 and pkg-config)";
    }
    if (::access(kProgram, X_OK) != 0) return std::string("kestrane_testfs is missing: ") + kProgram;
    int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    ::close(device);
    if (::geteuid() != 0 && !on_path("fusermount3")) return "not running as root, and no fusermount3 on PATH";
    return "";
}

bool testfs_mounted_on(const fs::path& folder) {
    for (const Mount& mount : testfs_mounts()) {
        if (mount.mount_point == folder) return true;
    }
    return false;
}

TestFs::TestFs(const fs::path& backing, TestFsOptions options) {
    unmount_abandoned();
    if (std::string why = testfs_unavailable(); !why.empty()) throw std::runtime_error(why);
    // A short path: the control socket's must fit in sockaddr_un.
    std::string name = kFolderPrefix + std::to_string(::getpid()) + "-XXXXXX";
    std::string pattern = (fs::temp_directory_path() / name).string();
    if (pattern.size() > 80) pattern = "/tmp/" + name;
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for the mount");
    folder_ = pattern;
    mount_point_ = options.mount_point.empty() ? folder_ / "mount" : options.mount_point;
    fs::create_directories(mount_point_);
    std::vector<std::string> arguments{kProgram, fs::absolute(backing).string(), mount_point_.string(),
                                       "--control", (folder_ / "control").string(),
                                       "--delay-us", std::to_string(options.delay.count())};
    if (options.volatile_writes) arguments.push_back("--volatile");
    process_ = start(arguments, folder_ / "log");
    if (process_ < 0) throw std::runtime_error("cannot start kestrane_testfs");

    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!testfs_mounted_on(mount_point_) || exchange(folder_ / "control", "ping") != "ok") {
        int status = 0;
        bool ended = ::waitpid(process_, &status, WNOHANG) == process_;
        if (ended || Clock::now() > deadline) {
            if (!ended) {
                ::kill(process_, SIGKILL);
                ::waitpid(process_, &status, 0);
            }
            process_ = -1;
            std::string log = read_log(folder_ / "log");
            unmount();
            throw std::runtime_error("kestrane_testfs did not mount " + backing.string() + ": " + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TestFs::~TestFs() { unmount(); }

std::string TestFs::command(const std::string& line) {
    std::string reply = exchange(folder_ / "control", line);
    if (reply.empty() || reply.starts_with("error")) {
        throw std::runtime_error("kestrane_testfs: '" + line + "': " + (reply.empty() ? "no reply" : reply));
    }
    return reply;
}

void TestFs::set_delay(std::chrono::microseconds delay) { command("delay " + std::to_string(delay.count())); }
void TestFs::hold(const std::string& path) { command("hold " + path); }
void TestFs::release(const std::string& path) { command(path.empty() ? "release" : "release " + path); }
int TestFs::held() { return std::stoi(command("held")); }
void TestFs::cut() { command("cut"); }
void TestFs::cut_after(std::uint64_t changes) { command("cut-after " + std::to_string(changes)); }
void TestFs::cut_keeping(std::uint64_t seed) { command("cut-keeping " + std::to_string(seed)); }
void TestFs::cut_after_keeping(std::uint64_t changes, std::uint64_t seed) {
    command("cut-after-keeping " + std::to_string(changes) + " " + std::to_string(seed));
}
std::uint64_t TestFs::changes() { return std::stoull(command("changes")); }
void TestFs::sync() { command("sync"); }

bool TestFs::wait_until_held(int count, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (held() < count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TestFs::unmount() {
    if (folder_.empty()) return;
    if (process_ > 0) {
        exchange(folder_ / "control", "release");  // a held request would keep the mount busy
        if (!unmount_path(mount_point_, false)) unmount_path(mount_point_, true);
        auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0, waited;
        while ((waited = ::waitpid(process_, &status, WNOHANG)) == 0) {
            if (Clock::now() > deadline) {
                ::kill(process_, SIGKILL);
                ::waitpid(process_, &status, 0);
                ADD_FAILURE() << "kestrane_testfs did not end within 5 seconds of the unmount: killed";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // (-1: the test reaped it, having killed it itself.)
        if (waited == process_ && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            ADD_FAILURE() << "kestrane_testfs ended badly (wait status " << status
                          << "); it said: " << read_log(folder_ / "log");
        }
        process_ = -1;
    }
    if (testfs_mounted_on(mount_point_)) unmount_path(mount_point_, true);
    if (mount_point_.parent_path() == folder_) {
        remove_folder_of(mount_point_);
    } else {
        std::error_code ignored;
        for (const char* name : {"control", "log"}) fs::remove(folder_ / name, ignored);
        fs::remove(folder_, ignored);
    }
    folder_.clear();
}

}  // namespace kestrane::testing
