// kestrane_testfs: the test suite's own FUSE file system, a pass-through to
// a backing folder that can be slow, hang on chosen files and lose power.
//
//   kestrane_testfs BACKING MOUNTPOINT [--control SOCKET] [--delay-us N]
//                   [--volatile] [--cache-seconds S] [--threads N] [--debug]
//   kestrane_testfs --send SOCKET COMMAND [ARGUMENT]
//
// It stays in the foreground until the mount is unmounted (then, unless the
// power was cut, whatever is not durable yet is written, as at a clean
// shutdown) or until SIGTERM, SIGINT or SIGHUP, on which it unmounts itself
// lazily and ends (within 3 seconds even while programs keep files open in
// it). README.md beside this file describes the commands and what a power
// cut keeps.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "control.h"
#include "gate.h"
#include "operations.h"
#include "parallel_lookups.h"

namespace {

struct Arguments {
    testfs::Settings settings;
    std::string mount_point;
    std::string control_socket;
    long delay_us = 0;
    unsigned threads = 256;
    bool debug = false;
};

[[noreturn]] void usage(const char* problem) {
    std::fprintf(stderr,
                 "kestrane_testfs: %s\n"
                 "usage: kestrane_testfs BACKING MOUNTPOINT [--control SOCKET] [--delay-us N] [--volatile]\n"
                 "                       [--cache-seconds S] [--threads N] [--debug]\n"
                 "       kestrane_testfs --send SOCKET COMMAND [ARGUMENT]\n",
                 problem);
    std::exit(2);
}

std::string absolute(const char* path) {
    char resolved[PATH_MAX];
    if (!::realpath(path, resolved)) usage((std::string(path) + ": " + std::strerror(errno)).c_str());
    return resolved;
}

Arguments parse(int argc, char** argv) {
    Arguments arguments;
    std::vector<std::string> places;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage((option + " needs a value").c_str());
            return argv[++i];
        };
        if (option == "--control") {
            arguments.control_socket = value();
        } else if (option == "--delay-us") {
            arguments.delay_us = std::stol(value());
        } else if (option == "--volatile") {
            arguments.settings.volatile_mode = true;
        } else if (option == "--cache-seconds") {
            arguments.settings.cache_seconds = std::stod(value());
        } else if (option == "--threads") {
            arguments.threads = static_cast<unsigned>(std::stoul(value()));
        } else if (option == "--debug") {
            arguments.debug = true;
        } else if (option.starts_with("--")) {
            usage(("unknown option " + option).c_str());
        } else {
            places.push_back(option);
        }
    }
    if (places.size() != 2) usage("BACKING and MOUNTPOINT are needed");
    arguments.settings.backing = absolute(places[0].c_str());
    arguments.mount_point = absolute(places[1].c_str());
    return arguments;
}

void unmount_lazily(const std::string& mount_point) {
    if (::geteuid() == 0) {
        ::umount2(mount_point.c_str(), MNT_DETACH);
        return;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::execlp("fusermount3", "fusermount3", "-u", "-z", mount_point.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (child > 0) ::waitpid(child, nullptr, 0);
}

// On SIGTERM, SIGINT or SIGHUP (blocked in every thread, taken here):
// unmounts, which ends the request loop once no program has a file open in
// the mount; gives up on that after 3 seconds.
void watch_signals(sigset_t signals, std::string mount_point) {
    int taken = 0;
    ::sigwait(&signals, &taken);
    unmount_lazily(mount_point);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::fprintf(stderr, "kestrane_testfs: files still open in %s after signal %d: ending\n", mount_point.c_str(),
                 taken);
    ::_exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--send") {
        return testfs::send_command(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    }
    Arguments arguments = parse(argc, argv);
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal_number);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // every thread started from here on too
    std::signal(SIGPIPE, SIG_IGN);

    testfs::set_delay(std::chrono::microseconds(arguments.delay_us));
    if (!testfs::start_operations(arguments.settings)) {
        std::fprintf(stderr, "kestrane_testfs: cannot use %s: %s\n", arguments.settings.backing.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // The daemon's process id names the mount, so that a mount left by one
    // that died can be told from a live one.
    std::string options = "fsname=kestrane_testfs:" + std::to_string(::getpid()) + ",subtype=kestrane_testfs";
    if (::geteuid() == 0) options += ",allow_other,default_permissions";
    std::vector<const char*> fuse_argv{argv[0], "-o", options.c_str()};
    if (arguments.debug) fuse_argv.push_back("-d");
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(fuse_argv.size()), const_cast<char**>(fuse_argv.data()));
    fuse* mount = fuse_new(&args, &testfs::operations(), sizeof(fuse_operations), nullptr);
    if (!mount || fuse_mount(mount, arguments.mount_point.c_str()) != 0 ||
        !testfs::allow_parallel_lookups(fuse_get_session(mount))) {
        std::fprintf(stderr, "kestrane_testfs: cannot mount %s\n", arguments.mount_point.c_str());
        testfs::finish_operations();
        return 1;
    }
    if (!arguments.control_socket.empty() && !testfs::start_control(arguments.control_socket)) {
        std::fprintf(stderr, "kestrane_testfs: cannot listen on %s: %s\n", arguments.control_socket.c_str(),
                     std::strerror(errno));
        unmount_lazily(arguments.mount_point);
        testfs::finish_operations();
        return 1;
    }
    std::thread(watch_signals, signals, arguments.mount_point).detach();

    fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(loop, arguments.threads);  // a held request takes a thread
    fuse_loop_cfg_set_idle_threads(loop, 16);
    int result = fuse_loop_mt(mount, loop);
    fuse_loop_cfg_destroy(loop);

    testfs::finish_operations();
    fuse_unmount(mount);
    fuse_destroy(mount);
    if (!arguments.control_socket.empty()) ::unlink(arguments.control_socket.c_str());
    std::fflush(nullptr);
    ::_exit(result == 0 ? 0 : 1);  // the control threads are still waiting for connections
}
