#include "control.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "gate.h"
#include "operations.h"

namespace testfs {
namespace {

bool number(const std::string& text, std::uint64_t& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

bool socket_address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void serve(int connection) {
    std::string pending;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(connection, buffer, sizeof buffer)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string reply = answer(pending.substr(0, end)) + "\n";
            pending.erase(0, end + 1);
            if (::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
        }
    }
    ::close(connection);
}

}  // namespace

std::string answer(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    std::string argument = verb.size() < line.size() ? line.substr(verb.size() + 1) : "";
    std::uint64_t value = 0, count = 0, seed = 0;
    bool numeric = number(argument, value);
    std::size_t space = argument.find(' ');
    bool count_and_seed = space != std::string::npos && number(argument.substr(0, space), count) &&
                          number(argument.substr(space + 1), seed);
    if (verb == "ping" && argument.empty()) return "ok";
    if (verb == "delay" && numeric) {
        set_delay(std::chrono::microseconds(value));
        return "ok";
    }
    if (verb == "hold" && !argument.empty()) {
        hold(argument);
        return "ok";
    }
    if (verb == "release") {
        argument.empty() ? release_all() : release(argument);
        return "ok";
    }
    if (verb == "held" && argument.empty()) return std::to_string(held_now());
    if (verb == "cut" && argument.empty()) {
        cut();
        return "ok";
    }
    if (verb == "cut-after" && numeric) {
        cut_after(value);
        return "ok";
    }
    if (verb == "cut-keeping" && numeric) {
        cut(Keeping{true, value});
        return "ok";
    }
    if (verb == "cut-after-keeping" && count_and_seed) {
        cut_after(count, Keeping{true, seed});
        return "ok";
    }
    if (verb == "changes" && argument.empty()) return std::to_string(changes_so_far());
    if (verb == "sync" && argument.empty()) return sync_everything() ? "ok" : "error: the power is cut";
    if (verb == "stats" && argument.empty()) return statistics();
    return "error: unknown command or bad argument: " + line;
}

bool start_control(const std::string& socket_path) {
    sockaddr_un address;
    if (!socket_address(socket_path, address)) return false;
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return false;
    ::unlink(socket_path.c_str());
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        int error = errno;
        ::close(listener);
        errno = error;
        return false;
    }
    std::thread([listener] {
        for (;;) {
            int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) serve(connection);
        }
    }).detach();
    return true;
}

int send_command(const std::string& socket_path, const std::vector<std::string>& words) {
    sockaddr_un address;
    int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!socket_address(socket_path, address) || connection < 0 ||
        ::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "kestrane_testfs: cannot reach %s: %s\n", socket_path.c_str(), std::strerror(errno));
        return 1;
    }
    std::string line;
    for (const auto& word : words) line += (line.empty() ? "" : " ") + word;
    line += "\n";
    ::send(connection, line.data(), line.size(), MSG_NOSIGNAL);
    std::string reply;
    char c;
    while (::read(connection, &c, 1) == 1 && c != '\n') reply += c;
    ::close(connection);
    std::printf("%s\n", reply.c_str());
    return reply.empty() || reply.starts_with("error") ? 1 : 0;
}

}  // namespace testfs
