#pragma once
// Thin wrappers over the platform's threads, critical sections and a
// blocking message queue. An OS failure in a wrapper is reported with a
// fatal alert (source tag UTL_thread).
#include <cstdint>
#include <deque>

struct platform_mutex;
struct platform_semaphore;

using UTL_thread_id = std::uint64_t;  // identifier and join handle of a thread
using UTL_thread_func = int (*)(void*);

// A message is one pointer-sized value; the queue never owns what it points
// to. 0 doubles as "nothing arrived" for a timed read; -1 is the worker
// pool's stop signal.
using UTL_message = std::intptr_t;

UTL_thread_id UTL_get_current_thread();
int UTL_count_processors();

// Starts fn(arg) on a new thread. Returns 0 or the OS error (after the alert).
int UTL_thread_create(UTL_thread_func fn, void* arg, UTL_thread_id* out_handle, UTL_thread_id* out_id);

// Waits for the thread to end, at most `wait_ms` (default 5000 ms). Returns
// the thread's exit code. A wait that runs out is logged ("Wait on thread
// for cleanup failed with ...") and the join goes on without it: the thread
// is left to finish on its own and -1 is returned.
int UTL_thread_join(UTL_thread_id handle, int* out_exit_value, int wait_ms = 5000);

// Ends the calling thread; its stack is unwound.
[[noreturn]] void UTL_thread_exit(int exit_value);

// A critical section: a lock that the holding thread may take again.
struct UTL_critical_section {
  platform_mutex* m = nullptr;
};
void UTL_critical_section_create(UTL_critical_section* cs);
void UTL_critical_section_destroy(UTL_critical_section* cs);
void UTL_critical_section_lock(UTL_critical_section* cs);
void UTL_critical_section_unlock(UTL_critical_section* cs);

// Holds a critical section for a scope.
class UTL_lock_guard {
 public:
  explicit UTL_lock_guard(UTL_critical_section* cs) : cs_(cs) { UTL_critical_section_lock(cs_); }
  ~UTL_lock_guard() { UTL_critical_section_unlock(cs_); }
  UTL_lock_guard(const UTL_lock_guard&) = delete;
  UTL_lock_guard& operator=(const UTL_lock_guard&) = delete;

 private:
  UTL_critical_section* cs_;
};

// A blocking queue any thread may write and read. A reader wakes once per
// message; messages come out in the order the writes took the lock; a write
// never blocks.
struct UTL_message_queue {
  UTL_critical_section lock;            // guards `messages`
  platform_semaphore* queue = nullptr;  // counts the messages waiting
  std::deque<UTL_message> messages;     // oldest first
};

void UTL_message_queue_create(UTL_message_queue** out_queue);
void UTL_message_queue_destroy(UTL_message_queue* q);  // null is ignored
// Appends `value`. Returns 0.
int UTL_message_queue_write(UTL_message_queue* q, UTL_message value);
// The oldest value, waiting at most `timeout_ms` (-1 = no limit, 0 = do not
// wait); 0 when the time ran out first.
UTL_message UTL_message_queue_read(UTL_message_queue* q, int timeout_ms);
