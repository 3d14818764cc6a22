#include "platform/threads.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>

namespace {
struct start_record {
  int (*fn)(void*);
  void* arg;
};

void* trampoline(void* p) {
  start_record rec = *static_cast<start_record*>(p);
  delete static_cast<start_record*>(p);
  return reinterpret_cast<void*>(static_cast<intptr_t>(rec.fn(rec.arg)));
}

// Absolute deadline `ms` from now on `clock`.
timespec deadline_after(clockid_t clock, int ms) {
  timespec ts;
  clock_gettime(clock, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}
}  // namespace

int platform_thread_create(int (*fn)(void*), void* arg, platform_thread_id* out_id) {
  auto* rec = new (std::nothrow) start_record{fn, arg};
  if (!rec) return ENOMEM;
  pthread_t t;
  int rc = pthread_create(&t, nullptr, trampoline, rec);
  if (rc != 0) {
    delete rec;
    return rc;
  }
  *out_id = static_cast<platform_thread_id>(t);
  return 0;
}

int platform_thread_join(platform_thread_id id, int timeout_ms, int* exit_value) {
  pthread_t t = static_cast<pthread_t>(id);
  void* ret = nullptr;
  int rc;
  if (timeout_ms < 0) {
    rc = pthread_join(t, &ret);
  } else {
    // pthread_timedjoin_np measures against CLOCK_REALTIME.
    timespec ts = deadline_after(CLOCK_REALTIME, timeout_ms);
    rc = pthread_timedjoin_np(t, &ret, &ts);
    if (rc == ETIMEDOUT) pthread_detach(t);
  }
  if (rc == 0 && exit_value) *exit_value = static_cast<int>(reinterpret_cast<intptr_t>(ret));
  return rc;
}

platform_thread_id platform_thread_self() {
  return static_cast<platform_thread_id>(pthread_self());
}

void platform_thread_exit(int value) {
  pthread_exit(reinterpret_cast<void*>(static_cast<intptr_t>(value)));
}

int platform_processor_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

int platform_lower_thread_priority(int steps) {
  // Linux keeps a nice value per thread, selected by the thread's own id.
  const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, tid);
  if (now == -1 && errno != 0) return errno;
  return ::setpriority(PRIO_PROCESS, tid, now + steps) == 0 ? 0 : errno;
}

int platform_thread_priority() {
  return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}

int platform_bind_thread_to_first_cpu(std::uint64_t* old_mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  int rc = pthread_getaffinity_np(pthread_self(), sizeof(set), &set);
  if (rc != 0) return rc;
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i)
    if (CPU_ISSET(i, &set)) mask |= std::uint64_t{1} << i;
  if (old_mask) *old_mask = mask;
  CPU_ZERO(&set);
  CPU_SET(0, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

struct platform_mutex {
  pthread_mutex_t m;
};

platform_mutex* platform_mutex_create() {
  auto* pm = new platform_mutex;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&pm->m, &attr);
  pthread_mutexattr_destroy(&attr);
  return pm;
}

void platform_mutex_destroy(platform_mutex* m) {
  if (!m) return;
  pthread_mutex_destroy(&m->m);
  delete m;
}

void platform_mutex_lock(platform_mutex* m) {
  pthread_mutex_lock(&m->m);
}
void platform_mutex_unlock(platform_mutex* m) {
  pthread_mutex_unlock(&m->m);
}

struct platform_semaphore {
  sem_t s;
};

platform_semaphore* platform_semaphore_create(unsigned initial, int* err) {
  auto* ps = new platform_semaphore;
  if (sem_init(&ps->s, 0, initial) != 0) {
    if (err) *err = errno;
    delete ps;
    return nullptr;
  }
  if (err) *err = 0;
  return ps;
}

void platform_semaphore_destroy(platform_semaphore* s) {
  if (!s) return;
  sem_destroy(&s->s);
  delete s;
}

int platform_semaphore_post(platform_semaphore* s) {
  return sem_post(&s->s) == 0 ? 0 : errno;
}

int platform_semaphore_wait(platform_semaphore* s, int timeout_ms) {
  if (timeout_ms == 0) {
    while (sem_trywait(&s->s) != 0) {
      if (errno == EAGAIN) return ETIMEDOUT;
      if (errno != EINTR) return errno;
    }
    return 0;
  }
  if (timeout_ms < 0) {
    while (sem_wait(&s->s) != 0)
      if (errno != EINTR) return errno;
    return 0;
  }
  // Monotonic deadline: a clock change must not stretch or cut the wait.
  timespec ts = deadline_after(CLOCK_MONOTONIC, timeout_ms);
  while (sem_clockwait(&s->s, CLOCK_MONOTONIC, &ts) != 0)
    if (errno != EINTR) return errno;
  return 0;
}
