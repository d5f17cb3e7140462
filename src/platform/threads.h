// Threads of the run's own: small stacks, and never an interrupt handled on
// one (interrupts go to the first thread).
#pragma once

#include <cstdint>

namespace kestrane::platform {

struct Thread {
    std::intptr_t handle = 0;
};

// Starts body(argument) on a new thread; false when the system has none to give.
bool start_thread(Thread& thread, void (*body)(void*), void* argument);

// Waits for the thread to end.
void join_thread(Thread& thread);

// Lets the thread end with the process, unwaited for.
void detach_thread(Thread& thread);

}  // namespace kestrane::platform
