#pragma once
// Threads, mutexes and counting semaphores of this platform (POSIX). The
// framework's UTL_ wrappers sit on top; nothing else calls these.
//
// Error results are errno values (0 = success), so callers can report them.
#include <cstdint>

using platform_thread_id = std::uint64_t;  // the thread's identifier; also its join handle

// Starts `fn(arg)` on a new joinable thread. Returns 0 or an errno value.
int platform_thread_create(int (*fn)(void*), void* arg, platform_thread_id* out_id);

// Waits up to `timeout_ms` (-1 = no limit) for the thread to end. Returns 0
// with its exit value in *exit_value, or ETIMEDOUT (the thread is then
// detached: it may go on running but will clean up after itself), or another
// errno value.
int platform_thread_join(platform_thread_id id, int timeout_ms, int* exit_value);

platform_thread_id platform_thread_self();

// Ends the calling thread with `value` as its exit value (stack unwound).
[[noreturn]] void platform_thread_exit(int value);

// Number of processors available to this process (at least 1).
int platform_processor_count();

// Makes the calling thread give way to the machine's other threads: its
// nice value rises by `steps`. Returns 0 or errno.
int platform_lower_thread_priority(int steps);
// The calling thread's nice value (higher gives way more).
int platform_thread_priority();

// Binds the calling thread to the first processor. *old_mask gets the
// previous affinity mask of the first 64 processors. Returns 0 or errno.
int platform_bind_thread_to_first_cpu(std::uint64_t* old_mask);

// A recursive mutex (a thread that holds it may lock it again).
struct platform_mutex;
platform_mutex* platform_mutex_create();
void platform_mutex_destroy(platform_mutex* m);
void platform_mutex_lock(platform_mutex* m);
void platform_mutex_unlock(platform_mutex* m);

// A counting semaphore.
struct platform_semaphore;
// Returns null and sets *err on failure.
platform_semaphore* platform_semaphore_create(unsigned initial, int* err);
void platform_semaphore_destroy(platform_semaphore* s);
// Raises the count by one. Returns 0 or errno (EOVERFLOW at the maximum).
int platform_semaphore_post(platform_semaphore* s);
// Waits until the count can be lowered by one, at most `timeout_ms`
// (-1 = no limit, 0 = do not wait). Returns 0 when lowered, ETIMEDOUT when
// the time ran out, another errno value on failure.
int platform_semaphore_wait(platform_semaphore* s, int timeout_ms);
