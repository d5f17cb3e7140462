// Threads on POSIX systems.
#include "platform/threads.h"

#include <cstring>
#include <new>
#include <pthread.h>
#include <signal.h>

namespace kestrane::platform {
namespace {

// The copies keep their tags on the heap: a thread needs little stack. The
// sanitizers' instrumentation needs more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackSize = std::size_t{4} << 20;
#else
constexpr std::size_t kStackSize = std::size_t{256} << 10;
#endif

struct Start {
    void (*body)(void*);
    void* argument;
};

void* run(void* start) {
    Start taken = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    taken.body(taken.argument);
    return nullptr;
}

static_assert(sizeof(pthread_t) <= sizeof(std::intptr_t));

pthread_t native(const Thread& thread) {
    pthread_t handle{};
    std::memcpy(&handle, &thread.handle, sizeof handle);
    return handle;
}

}  // namespace

// A new thread starts with the signal mask of the one that made it: every
// signal is blocked around pthread_create, so that interrupts are always
// handled by the first thread, which defers them while a file changes.
bool start_thread(Thread& thread, void (*body)(void*), void* argument) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    ::pthread_attr_setstacksize(&attributes, kStackSize);
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t started{};
    auto* start = new (std::nothrow) Start{body, argument};
    bool ok = start != nullptr && ::pthread_create(&started, &attributes, run, start) == 0;
    if (!ok) delete start;
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::pthread_attr_destroy(&attributes);
    if (ok) std::memcpy(&thread.handle, &started, sizeof started);
    return ok;
}

void join_thread(Thread& thread) { ::pthread_join(native(thread), nullptr); }

void detach_thread(Thread& thread) { ::pthread_detach(native(thread)); }

}  // namespace kestrane::platform
