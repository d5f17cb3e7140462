// Threads on Windows. The interrupt handler runs on a thread the system
// makes for it, so nothing is blocked here; a thread's heap is the
// process's one heap.
#include "platform/threads.h"

#include <windows.h>

#include <new>
#include <process.h>

namespace kestrane::platform {
namespace {

constexpr unsigned kStackSize = 256u << 10;

struct Start {
    void (*body)(void*);
    void* argument;
};

unsigned __stdcall run(void* start) {
    Start taken = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    taken.body(taken.argument);
    return 0;
}

}  // namespace

bool start_thread(Thread& thread, void (*body)(void*), void* argument) {
    auto* start = new (std::nothrow) Start{body, argument};
    if (start == nullptr) return false;
    std::uintptr_t handle = ::_beginthreadex(nullptr, kStackSize, run, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == 0) {
        delete start;
        return false;
    }
    thread.handle = static_cast<std::intptr_t>(handle);
    return true;
}

void join_thread(Thread& thread) {
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(thread.handle), INFINITE);
    ::CloseHandle(reinterpret_cast<HANDLE>(thread.handle));
}

void detach_thread(Thread& thread) { ::CloseHandle(reinterpret_cast<HANDLE>(thread.handle)); }

}  // namespace kestrane::platform
