// The control socket: a UNIX stream socket outside the mount on which a
// test sends commands, one a line, and reads one reply line for each:
//
//   ping              ok
//   delay MICROS      ok          every request waits MICROS first, from now on
//   hold PATH         ok          requests naming PATH (as the mount shows it) wait
//   release [PATH]    ok          they go on (all held paths without PATH)
//   held              N           requests waiting on a hold now
//   cut               ok          the power is cut now
//   cut-after N       ok          ... right after the N-th changing request from now
//   cut-keeping SEED  ok          the power is cut now, keeping a part of what was not
//                                 synced that the seed chooses (cut_keeping.h)
//   cut-after-keeping N SEED  ok  ... right after the N-th changing request from now
//   changes           N           changing requests served since the mount
//   sync              ok          everything durable, as a whole-file-system sync
//   stats             getattr=N readlink=N ... (every request type)
//
// A bad command gets "error: " and the reason.
#pragma once

#include <string>
#include <vector>

namespace testfs {

// Listens on the socket (replacing a stale one) and serves it on a thread
// of its own, one connection at a time (a command never waits); false with
// errno set when it cannot listen.
bool start_control(const std::string& socket_path);

// The reply to one command line.
std::string answer(const std::string& line);

// Sends the words as one command and prints the reply: 0, or 1 for an error
// reply or no reply.
int send_command(const std::string& socket_path, const std::vector<std::string>& words);

}  // namespace testfs
