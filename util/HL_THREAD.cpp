#include "util/HL_THREAD.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/threads.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/report.h"

struct THREAD_call {
  THREAD_call* next_free = nullptr;
  UTL_message_queue* done_token = nullptr;  // the cookie is written here on completion
  UTL_critical_section lock;                // guards return_value and done
  int (*func)(void*) = nullptr;
  void* param = nullptr;
  int return_value = 0;
  int done = 0;  // 1 ran to its end, 2 its worker ended inside it
  UTL_message cookie = 1;
};

namespace {
UTL_thread_id g_main_thread = 0;
std::atomic<bool> g_inited{false};
UTL_message_queue* warn_exce = nullptr;
UTL_message_queue* quit_exce = nullptr;
UTL_message_queue* g_tasks = nullptr;
UTL_critical_section g_pool_lock;
THREAD_call* g_free_calls = nullptr;
std::vector<THREAD_call*> g_all_calls;  // every record made, for the final free
int g_worker_count = 0;                 // workers started
std::atomic<int> g_live_workers{0};     // workers still reading the task queue
std::atomic<int> g_generation{0};       // counts shut-downs
std::vector<UTL_thread_id> g_worker_handles;
std::vector<UTL_thread_id> g_worker_ids;
int g_join_wait_ms = 5000;
// What a worker that outlived shut-down may still use: kept reachable and
// never freed (not even by the exit handlers, which run while it may live).
std::vector<void*>* const g_left_for_stragglers = new std::vector<void*>;
thread_local bool t_is_worker = false;

constexpr UTL_message kStop = -1;
constexpr int kWorkerNice = 5;

THREAD_call* take_call() {
  UTL_lock_guard g(&g_pool_lock);
  THREAD_call* c = g_free_calls;
  if (c) {
    g_free_calls = c->next_free;
  } else {
    c = new THREAD_call;
    UTL_message_queue_create(&c->done_token);
    UTL_critical_section_create(&c->lock);
    g_all_calls.push_back(c);
  }
  c->next_free = nullptr;
  c->done = 0;
  c->return_value = 0;
  return c;
}

void give_back_call(THREAD_call* c) {
  UTL_lock_guard g(&g_pool_lock);
  c->next_free = g_free_calls;
  g_free_calls = c;
}

// Publishes a call's end even when its worker is torn down inside it (a
// fatal report ends the worker thread), so the waiting caller never hangs.
struct call_completion {
  THREAD_call* call;
  bool finished = false;
  ~call_completion() {
    {
      UTL_lock_guard g(&call->lock);
      if (!finished) call->return_value = -1;
      call->done = finished ? 1 : 2;
    }
    UTL_message_queue_write(call->done_token, call->cookie);
  }
};

void drain_reports(UTL_message_queue* q) {
  if (!q) return;
  while (UTL_message m = UTL_message_queue_read(q, 0)) delete reinterpret_cast<exce_class*>(m);
}

void report_queue(UTL_message_queue* q) {
  if (!q) return;
  while (UTL_message m = UTL_message_queue_read(q, 0)) {
    std::unique_ptr<exce_class> report(reinterpret_cast<exce_class*>(m));
    report->Report();
  }
}
}  // namespace

exce_class::exce_class(std::string c1, std::string c2, std::string c3, std::string c4, const char* file,
                       int line, int quit)
    : c1_(std::move(c1)),
      c2_(std::move(c2)),
      c3_(std::move(c3)),
      c4_(std::move(c4)),
      file_(file ? file : ""),
      line_(line),
      quit_(quit) {}

void exce_class::Report() const {
  if (THREAD_is_inited() && !THREAD_is_main_thread()) {
    xer << "EXCEPTION REPORTED FROM THREAD!!  File: " << file_ << ", line " << line_ << ".\n"
        << c1_ << "\n"
        << c2_ << "\n"
        << c3_ << "\n"
        << c4_ << "\n";
    xer.flush();
    // Only the main thread may show it or shut the program down.
    THREAD_send_exception(*this);
    return;
  }
  UTL_report(0, c1_, c2_, c3_, c4_, quit_, file_.c_str(), line_);
}

void THREAD_init() {
  if (g_inited) return;
  if (cmdline.has_option("--lock_main_thread")) {
    std::uint64_t old_mask = 0;
    if (platform_bind_thread_to_first_cpu(&old_mask) == 0) {
      xer << "Thread affinity was " << old_mask << " is now 1.\n";
      xer.flush();
    }
  }
  g_main_thread = UTL_get_current_thread();
  UTL_message_queue_create(&warn_exce);
  UTL_message_queue_create(&quit_exce);
  UTL_critical_section_create(&g_pool_lock);
  UTL_message_queue_create(&g_tasks);
  g_inited = true;
}

bool THREAD_is_main_thread() {
  return !g_inited || UTL_get_current_thread() == g_main_thread;
}

bool THREAD_is_inited() {
  return g_inited;
}

int THREAD_launch(void* control_block) {
  auto* cb = static_cast<THREAD_control_block*>(control_block);
  UTL_thread_func func = cb->func;
  void* ref = cb->ref;
  // After this write the creator may release the control block.
  UTL_message_queue_write(cb->queue, 0);
  return func(ref);
}

int THREAD_create(UTL_thread_func func, void* ref, UTL_thread_id* out_handle, UTL_thread_id* out_id,
                  int wants_ogl) {
  THREAD_control_block cb;
  cb.func = func;
  cb.ref = ref;
  (void)wants_ogl;
  cb.wants_ogl = 0;  // no loader context: falls back to a thread without OpenGL
  UTL_message_queue_create(&cb.queue);
  if (!cb.queue) return -1;
  int rc = UTL_thread_create(THREAD_launch, &cb, out_handle, out_id);
  if (rc == 0) UTL_message_queue_read(cb.queue, -1);
  UTL_message_queue_destroy(cb.queue);
  return rc;
}

int xtaskproc(void*) {
  t_is_worker = true;
  // Workers do the long background work (signing, expanding). The main
  // thread, which draws and feeds them, and the display server must not
  // wait behind them for a processor.
  platform_lower_thread_priority(kWorkerNice);
  // Captured: a worker that outlives shut-down must not see the next pool's.
  UTL_message_queue* tasks = g_tasks;
  struct leave {  // counted up by THREAD_make_workers before the start
    int generation = g_generation;
    ~leave() {
      if (generation == g_generation) --g_live_workers;
    }
  } on_leave;
  for (;;) {
    UTL_message m = UTL_message_queue_read(tasks, -1);
    if (m == kStop) return 0;
    auto* call = reinterpret_cast<THREAD_call*>(m);
    if (!call) continue;
    call_completion done{call};
    int result = -1;
    try {
      result = call->func(call->param);
    } catch (const std::exception& e) {
      // Nothing broader is caught: a fatal report ends this thread by a
      // forced unwind, which must pass (`done` still signals the caller).
      xer << "Worker call ended with an exception: " << e.what() << "\n";
      xer.flush();
    }
    {
      UTL_lock_guard g(&call->lock);
      call->return_value = result;
    }
    done.finished = true;
  }
}

void THREAD_make_workers() {
  if (!g_inited || g_worker_count > 0) return;
  int n = UTL_count_processors();
  xer << "CPU count        : " << n << "\n";
  xer.flush();
  for (int i = 0; i < n; ++i) {
    UTL_thread_id handle = 0, id = 0;
    ++g_live_workers;
    if (THREAD_create(xtaskproc, nullptr, &handle, &id, 1) != 0) {
      --g_live_workers;
      break;
    }
    g_worker_handles.push_back(handle);
    g_worker_ids.push_back(id);
    ++g_worker_count;
  }
}

int THREAD_worker_count() {
  return g_worker_count;
}

void THREAD_set_join_wait_ms(int ms) {
  g_join_wait_ms = ms;
}

void THREAD_shutdown() {
  if (!g_inited) return;
  for (int i = 0; i < g_worker_count; ++i) UTL_message_queue_write(g_tasks, kStop);
  bool all_joined = true;
  for (UTL_thread_id h : g_worker_handles) {
    int rc = platform_thread_join(h, g_join_wait_ms, nullptr);
    if (rc != 0) {
      // The straggler is left running (detached); shut-down goes on.
      xer << "Wait on thread for cleanup failed with " << rc << ".\n";
      xer.flush();
      all_joined = false;
    }
  }
  g_worker_handles.clear();
  g_worker_ids.clear();
  g_worker_count = 0;
  ++g_generation;
  g_live_workers = 0;
  if (all_joined) {
    UTL_critical_section_destroy(&g_pool_lock);
    UTL_message_queue_destroy(g_tasks);
    for (THREAD_call* c : g_all_calls) {
      UTL_message_queue_destroy(c->done_token);
      UTL_critical_section_destroy(&c->lock);
      delete c;
    }
  } else {
    // A worker that did not end may still read the task queue and its call
    // record, so those are left alive for it rather than freed under it.
    g_left_for_stragglers->push_back(g_tasks);
    g_left_for_stragglers->push_back(g_pool_lock.m);
    for (THREAD_call* c : g_all_calls) g_left_for_stragglers->push_back(c);
  }
  g_all_calls.clear();
  g_free_calls = nullptr;
  g_tasks = nullptr;
  g_inited = false;
  drain_reports(quit_exce);
  drain_reports(warn_exce);
  UTL_message_queue_destroy(quit_exce);
  UTL_message_queue_destroy(warn_exce);
  quit_exce = warn_exce = nullptr;
  xer << "Clean exit from threads.\n";
  xer.flush();
}

void THREAD_send_exception(const exce_class& report) {
  if (report.quit_ != 1 && report.quit_ != 2) return;
  if (!g_inited) {
    // No pump reads the queues yet: show it on this thread.
    UTL_report(0, report.c1_, report.c2_, report.c3_, report.c4_, report.quit_, report.file_.c_str(),
               report.line_);
    return;
  }
  auto* copy = new exce_class(report);
  UTL_message_queue_write(copy->quit_ == 2 ? quit_exce : warn_exce, reinterpret_cast<UTL_message>(copy));
  if (report.quit_ == 2 && !THREAD_is_main_thread()) UTL_thread_exit(0);
}

void THREAD_check_exception(int also_warnings) {
  if (!g_inited) return;
  report_queue(quit_exce);
  if (also_warnings == 1) report_queue(warn_exce);
}

THREAD_call* THREAD_post_call(int (*func)(void*), void* param) {
  if (!g_inited) {
    // Without a pool there is no record pool either: run now, keep the result.
    auto* c = new THREAD_call;
    c->func = func;
    c->param = param;
    c->return_value = func(param);
    c->done = 1;
    c->cookie = 0;  // marks a record made outside the pool
    return c;
  }
  THREAD_call* c = take_call();
  c->func = func;
  c->param = param;
  if (g_live_workers == 0) {
    {
      call_completion done{c};
      int r = func(param);
      UTL_lock_guard g(&c->lock);
      c->return_value = r;
      done.finished = true;
    }
    return c;
  }
  UTL_message_queue_write(g_tasks, reinterpret_cast<UTL_message>(c));
  return c;
}

bool THREAD_call_done(THREAD_call* call) {
  if (!call || call->cookie == 0) return true;
  UTL_lock_guard g(&call->lock);
  return call->done != 0;
}

int THREAD_wait_call(THREAD_call* call) {
  if (!call) return -1;
  if (call->cookie == 0) {
    int r = call->return_value;
    delete call;
    return r;
  }
  UTL_message_queue_read(call->done_token, -1);
  int r;
  {
    UTL_lock_guard g(&call->lock);
    r = call->return_value;
  }
  give_back_call(call);
  return r;
}

namespace {
struct parallel_job {
  const std::function<void(int)>* fn;
  int count;
  std::atomic<int> next{0};
  std::mutex error_lock;
  std::exception_ptr first_error;

  void run() {
    for (;;) {
      int i = next.fetch_add(1);
      if (i >= count) return;
      try {
        (*fn)(i);
      } catch (const std::exception&) {
        // Only standard exceptions are kept; a thread's forced unwind (a
        // fatal report ending a worker) must pass through untouched.
        std::lock_guard<std::mutex> g(error_lock);
        if (!first_error) first_error = std::current_exception();
      }
    }
  }
  static int run_on_worker(void* self) {
    static_cast<parallel_job*>(self)->run();
    return 0;
  }
};
}  // namespace

bool THREAD_parallel_for(int count, const std::function<void(int index)>& fn) {
  if (count <= 0) return true;
  parallel_job job;
  job.fn = &fn;
  job.count = count;
  bool ok = true;
  if (!g_inited || g_live_workers == 0 || t_is_worker || count == 1) {
    job.run();
  } else {
    int helpers = std::min(g_live_workers.load(), count - 1);
    // The helpers use `job`, so they are waited for however this scope ends.
    struct helper_calls {
      std::vector<THREAD_call*> calls;
      bool* ok;
      ~helper_calls() {
        for (THREAD_call* c : calls)
          if (THREAD_wait_call(c) != 0) *ok = false;
      }
    } waiter{{}, &ok};
    waiter.calls.reserve(helpers);
    for (int i = 0; i < helpers; ++i)
      waiter.calls.push_back(THREAD_post_call(parallel_job::run_on_worker, &job));
    job.run();
  }
  if (job.first_error) std::rethrow_exception(job.first_error);
  return ok;
}
