#include "util/UTL_thread.h"

#include <cerrno>
#include <string>

#include "platform/threads.h"
#include "util/log.h"
#include "util/report.h"

namespace {
// The numbers that this file's alerts are known by on screen and in the log;
// fixed, whatever line the call moves to.
constexpr int kLineCreateThread = 106;
constexpr int kLineCreateSemaphore = 261;
constexpr int kLineNotifyQueue = 311;
constexpr int kLineWaitQueue = 345;

// The OS error code in the alert's second line.
void os_failure(const char* what, int err, int line) {
  UTL_report(0, what, "err=" + int_to_str(err), "", "", t_exit, "UTL_thread", line);
}
}  // namespace

UTL_thread_id UTL_get_current_thread() {
  return platform_thread_self();
}

int UTL_count_processors() {
  return platform_processor_count();
}

int UTL_thread_create(UTL_thread_func fn, void* arg, UTL_thread_id* out_handle, UTL_thread_id* out_id) {
  platform_thread_id id = 0;
  int rc = platform_thread_create(fn, arg, &id);
  if (rc != 0) {
    os_failure("\"CreateThread\" OS error", rc, kLineCreateThread);
    return rc;
  }
  if (out_handle) *out_handle = id;
  if (out_id) *out_id = id;
  return 0;
}

int UTL_thread_join(UTL_thread_id handle, int* out_exit_value, int wait_ms) {
  int exit_value = -1;
  int rc = platform_thread_join(handle, wait_ms, &exit_value);
  if (rc != 0) {
    xer << "Wait on thread for cleanup failed with " << rc << ".\n";
    xer.flush();
    exit_value = -1;
  }
  if (out_exit_value) *out_exit_value = exit_value;
  return exit_value;
}

void UTL_thread_exit(int exit_value) {
  platform_thread_exit(exit_value);
}

void UTL_critical_section_create(UTL_critical_section* cs) {
  cs->m = platform_mutex_create();
}

void UTL_critical_section_destroy(UTL_critical_section* cs) {
  platform_mutex_destroy(cs->m);
  cs->m = nullptr;
}

void UTL_critical_section_lock(UTL_critical_section* cs) {
  platform_mutex_lock(cs->m);
}
void UTL_critical_section_unlock(UTL_critical_section* cs) {
  platform_mutex_unlock(cs->m);
}

void UTL_message_queue_create(UTL_message_queue** out_queue) {
  auto* q = new UTL_message_queue;
  int err = 0;
  q->queue = platform_semaphore_create(0, &err);
  if (!q->queue) {
    delete q;
    *out_queue = nullptr;
    os_failure("\"CreateSemaphore\" OS error", err, kLineCreateSemaphore);
    return;
  }
  UTL_critical_section_create(&q->lock);
  *out_queue = q;
}

void UTL_message_queue_destroy(UTL_message_queue* q) {
  if (!q) return;
  platform_semaphore_destroy(q->queue);
  UTL_critical_section_destroy(&q->lock);
  delete q;
}

int UTL_message_queue_write(UTL_message_queue* q, UTL_message value) {
  {
    UTL_lock_guard g(&q->lock);
    q->messages.push_back(value);
  }
  // The count is bounded only by the semaphore's own maximum (far beyond any
  // real backlog); reaching it is an OS failure like any other.
  int rc = platform_semaphore_post(q->queue);
  if (rc != 0) os_failure("\"MPNotifyQueue\" OS error", rc, kLineNotifyQueue);
  return 0;
}

UTL_message UTL_message_queue_read(UTL_message_queue* q, int timeout_ms) {
  int rc = platform_semaphore_wait(q->queue, timeout_ms);
  if (rc == ETIMEDOUT) return 0;
  if (rc != 0) {
    os_failure("\"WaitForSingleObject\" OS error", rc, kLineWaitQueue);
    return 0;
  }
  UTL_lock_guard g(&q->lock);
  UTL_message v = q->messages.front();
  q->messages.pop_front();
  return v;
}
