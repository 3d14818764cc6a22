#pragma once
// The framework's thread layer: the main thread's identity, a pool of worker
// threads (one per processor) fed through a task queue, and two queues that
// carry error reports raised on other threads to the main thread, which
// shows them from the event pump (fatal reports first).
#include <cstdint>
#include <functional>
#include <string>

#include "util/UTL_thread.h"

// An error report that can be copied between threads.
class exce_class {
 public:
  exce_class(std::string c1, std::string c2, std::string c3, std::string c4, const char* file, int line,
             int quit);
  exce_class(const exce_class&) = default;
  exce_class& operator=(const exce_class&) = default;
  virtual ~exce_class() = default;

  // On the main thread (or before the thread layer is up): the alert of the
  // report's kind. On another thread: the report is logged and handed to the
  // main thread; a fatal one then ends the calling thread.
  void Report() const;
  void MakeFatal() { quit_ = 2; }

  std::string c1_, c2_, c3_, c4_;  // the four lines
  std::string file_;               // source tag (owned: the report outlives its raiser's strings)
  int line_ = 0;                   // source line
  int quit_ = 1;                   // alert type: 1 warning, 2 fatal
};

// Start record of a thread made by THREAD_create.
struct THREAD_control_block {
  UTL_thread_func func = nullptr;
  void* ref = nullptr;
  UTL_message_queue* queue = nullptr;  // the new thread writes 0 here once it runs
  int wants_ogl = 0;
  void* ogl_con = nullptr;
};

// Called once by the framework's start-up on the main thread. Honours
// --lock_main_thread (main thread bound to the first processor, logged).
void THREAD_init();
// True on the thread that called THREAD_init, and on any thread before it.
bool THREAD_is_main_thread();
bool THREAD_is_inited();

// Starts one worker per processor (logs "CPU count        : n").
void THREAD_make_workers();
int THREAD_worker_count();

// Starts func(ref) on a new thread and returns once it is running.
// OpenGL on other threads needs a loader context, which this framework does
// not create, so `wants_ogl` always falls back to a thread without OpenGL.
int THREAD_create(UTL_thread_func func, void* ref, UTL_thread_id* out_handle, UTL_thread_id* out_id,
                  int wants_ogl);
// The trampoline run on the new thread (argument: its THREAD_control_block).
int THREAD_launch(void* control_block);
// The worker loop: runs queued calls until it reads the stop value -1.
int xtaskproc(void* unused);

// Stops and joins the workers, frees the pool and the report queues (any
// report still queued is dropped), logs "Clean exit from threads.".
void THREAD_shutdown();

// Hands a copy of `report` to the main thread: type 1 to the warning queue,
// type 2 to the fatal queue (then a non-main caller's thread ends at once);
// other types are dropped. Before THREAD_init the report is shown directly.
void THREAD_send_exception(const exce_class& report);
// Main thread, from the pump: shows and deletes every queued fatal report,
// then, when `also_warnings` is 1, every queued warning.
void THREAD_check_exception(int also_warnings);

// --- Handing work to the workers ---
// A call queued for a worker. Obtained from THREAD_post_call, released by
// THREAD_wait_call.
struct THREAD_call;
// Queues func(param) for the workers. Without workers (pool not started or
// already stopped) the call runs at once on the caller's thread.
THREAD_call* THREAD_post_call(int (*func)(void*), void* param);
// True once the call has run (or its worker ended inside it): a following
// THREAD_wait_call returns at once. Lets the main thread poll instead of
// blocking.
bool THREAD_call_done(THREAD_call* call);

// Waits until the call has run and returns its result (-1 when the worker
// ended while running it, for example through a fatal report); the record
// goes back to the pool.
int THREAD_wait_call(THREAD_call* call);

// Runs fn(0) .. fn(count - 1), spread over the workers and the calling
// thread, and returns when all have run. Indices are handed out in rising
// order, each exactly once. Without workers, or when called on a worker, the
// loop runs on the caller. An exception thrown by fn is rethrown here (the
// first one; the remaining indices are still run). Returns false when a
// worker ended inside fn (a fatal report from it is then queued).
bool THREAD_parallel_for(int count, const std::function<void(int index)>& fn);

// How long THREAD_shutdown waits for each worker (ms); default 5000.
void THREAD_set_join_wait_ms(int ms);
