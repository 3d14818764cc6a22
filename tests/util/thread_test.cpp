// Message queues, the worker pool and error reports crossing threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"
#include "util/UTL_thread.h"
#include "util/log.h"

namespace {
struct queue_holder {
  UTL_message_queue* q = nullptr;
  queue_holder() { UTL_message_queue_create(&q); }
  ~queue_holder() { UTL_message_queue_destroy(q); }
};

struct writer_arg {
  UTL_message_queue* q;
  UTL_message base;
  int count;
};

int write_many(void* p) {
  auto* a = static_cast<writer_arg*>(p);
  for (int i = 1; i <= a->count; ++i) UTL_message_queue_write(a->q, a->base + i);
  return 7;
}

int write_after_read(void* p) {
  // Waits for the go signal, then answers on the second queue.
  auto* qs = static_cast<UTL_message_queue**>(p);
  UTL_message v = UTL_message_queue_read(qs[0], -1);
  UTL_message_queue_write(qs[1], v + 1);
  return 0;
}

TEST(MessageQueue, ReadTimeOuts) {
  queue_holder h;
  EXPECT_EQ(UTL_message_queue_read(h.q, 0), 0) << "time-out 0 on an empty queue returns null at once";
  EXPECT_EQ(UTL_message_queue_read(h.q, 1), 0) << "a short time-out on an empty queue returns null";

  queue_holder go, answer;
  UTL_message_queue* qs[2] = {go.q, answer.q};
  UTL_thread_id t = 0;
  ASSERT_EQ(UTL_thread_create(write_after_read, qs, &t, nullptr), 0);
  UTL_message_queue_write(go.q, 41);
  EXPECT_EQ(UTL_message_queue_read(answer.q, -1), 42) << "time-out -1 waits until the other thread writes";
  EXPECT_EQ(UTL_thread_join(t, nullptr), 0);
}

TEST(MessageQueue, TwoWritersKeepTheirOrder) {
  queue_holder h;
  const int n = 20000;
  writer_arg a{h.q, 1000000, n}, b{h.q, 2000000, n};
  UTL_thread_id ta = 0, tb = 0;
  ASSERT_EQ(UTL_thread_create(write_many, &a, &ta, nullptr), 0);
  ASSERT_EQ(UTL_thread_create(write_many, &b, &tb, nullptr), 0);
  UTL_message last_a = 1000000, last_b = 2000000;
  for (int i = 0; i < 2 * n; ++i) {
    UTL_message v = UTL_message_queue_read(h.q, -1);
    if (v < 2000000) {
      ASSERT_EQ(v, last_a + 1) << "values of one writer come out in the order written";
      last_a = v;
    } else {
      ASSERT_EQ(v, last_b + 1) << "values of one writer come out in the order written";
      last_b = v;
    }
  }
  EXPECT_EQ(UTL_message_queue_read(h.q, 0), 0) << "one message out per message in, no more";
  int code = 0;
  EXPECT_EQ(UTL_thread_join(ta, &code), 7) << "join gives the thread's exit code";
  EXPECT_EQ(code, 7);
  UTL_thread_join(tb, nullptr);
}

struct reader_arg {
  UTL_message_queue* q;
  std::vector<UTL_message> got;
};

int read_until_stop(void* p) {
  auto* a = static_cast<reader_arg*>(p);
  for (;;) {
    UTL_message v = UTL_message_queue_read(a->q, -1);
    if (v == -1) return 0;
    a->got.push_back(v);
  }
}

TEST(MessageQueue, EachMessageWakesExactlyOneReader) {
  queue_holder h;
  reader_arg r1{h.q, {}}, r2{h.q, {}};
  UTL_thread_id t1 = 0, t2 = 0;
  ASSERT_EQ(UTL_thread_create(read_until_stop, &r1, &t1, nullptr), 0);
  ASSERT_EQ(UTL_thread_create(read_until_stop, &r2, &t2, nullptr), 0);
  const int n = 5000;
  for (int i = 1; i <= n; ++i) UTL_message_queue_write(h.q, i);
  UTL_message_queue_write(h.q, -1);
  UTL_message_queue_write(h.q, -1);
  UTL_thread_join(t1, nullptr, -1);
  UTL_thread_join(t2, nullptr, -1);
  std::vector<int> seen(n + 1, 0);
  for (auto* r : {&r1, &r2}) {
    for (size_t k = 1; k < r->got.size(); ++k)
      EXPECT_LT(r->got[k - 1], r->got[k]) << "one reader sees the values in the order written";
    for (UTL_message v : r->got) seen[v]++;
  }
  for (int i = 1; i <= n; ++i) ASSERT_EQ(seen[i], 1) << "value " << i << " is read exactly once";
}

class ThreadLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    cmdline.clear();
    log_open(dir_ / "Log.txt");
    THREAD_init();
  }
  void TearDown() override {
    THREAD_shutdown();
    THREAD_set_join_wait_ms(5000);
    alert_set_observer(nullptr);
    log_close();
  }
  std::string log_text() {
    xer.flush();
    return testsupport::read_file(dir_ / "Log.txt");
  }
  testsupport::TempDir dir_;
};

int square(void* p) {
  int v = *static_cast<int*>(p);
  return v * v;
}

TEST_F(ThreadLayer, WorkersRunCallsAndShutDown) {
  THREAD_make_workers();
  ASSERT_GE(THREAD_worker_count(), 1) << "one worker per processor";
  EXPECT_NE(log_text().find("CPU count        : "), std::string::npos) << "the processor count is logged";

  std::vector<int> in(50);
  std::vector<THREAD_call*> calls;
  for (int i = 0; i < 50; ++i) {
    in[i] = i;
    calls.push_back(THREAD_post_call(square, &in[i]));
  }
  for (int i = 0; i < 50; ++i) EXPECT_EQ(THREAD_wait_call(calls[i]), i * i) << "each call's own result";

  std::vector<std::atomic<int>> hits(1000);
  std::atomic<int> off_main{0};
  bool ok = THREAD_parallel_for(1000, [&](int i) {
    hits[i]++;
    if (!THREAD_is_main_thread()) off_main++;
  });
  EXPECT_TRUE(ok);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(hits[i].load(), 1) << "index " << i << " runs exactly once";

  EXPECT_THROW(THREAD_parallel_for(10,
                                   [](int i) {
                                     if (i == 3) throw std::runtime_error("x");
                                   }),
               std::runtime_error)
      << "an exception inside the loop reaches the caller";

  THREAD_shutdown();
  EXPECT_FALSE(THREAD_is_inited());
  EXPECT_NE(log_text().find("Clean exit from threads.\n"), std::string::npos);
  EXPECT_EQ(THREAD_wait_call(THREAD_post_call(square, &in[9])), 81) << "without a pool a call runs inline";
  THREAD_init();  // for TearDown
}

int raise_fatal(void*) {
  MACIBM_alert(0, "worker broke", "line two", "", "", t_exit, "worker_src", 77);
  return 5;  // never reached: the worker thread ends
}

TEST_F(ThreadLayer, FatalReportFromWorkerReachesMainThread) {
  THREAD_make_workers();
  std::vector<alert_record> seen;
  alert_set_observer([&](const alert_record& r) { seen.push_back(r); });

  EXPECT_EQ(THREAD_wait_call(THREAD_post_call(raise_fatal, nullptr)), -1)
      << "the caller is released with -1 when the worker ends inside the call";
  EXPECT_TRUE(seen.empty()) << "nothing is shown on the worker";

  try {
    THREAD_check_exception(1);
    FAIL() << "a fatal report ends the program on the main thread";
  } catch (const testsupport::fatal_alert_exit& e) {
    EXPECT_EQ(e.code, 3) << "abnormal end after the fatal alert";
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].l1, "worker broke");
  EXPECT_EQ(seen[0].type, t_exit);
  EXPECT_EQ(seen[0].file, "worker_src");
  EXPECT_EQ(seen[0].line, 77);

  // The pool goes on with the remaining workers (or inline when none is left).
  int v = 6;
  EXPECT_EQ(THREAD_wait_call(THREAD_post_call(square, &v)), 36);
}

int raise_warning(void*) {
  MACIBM_alert(0, "just so you know", "", "", "", t_alert, "worker_src", 12);
  return 1;  // a warning lets the thread carry on
}

TEST_F(ThreadLayer, WarningsWaitForTheMainScreenAndComeAfterFatals) {
  std::vector<alert_record> seen;
  alert_set_observer([&](const alert_record& r) { seen.push_back(r); });
  UTL_thread_id t = 0;
  ASSERT_EQ(THREAD_create(raise_warning, nullptr, &t, nullptr, 0), 0);
  EXPECT_EQ(UTL_thread_join(t, nullptr), 1) << "the warning's thread carries on to its end";

  THREAD_check_exception(0);
  EXPECT_TRUE(seen.empty()) << "warnings stay queued when the pump asks for fatal reports only";
  THREAD_check_exception(1);
  ASSERT_EQ(seen.size(), 1u) << "shown once on the main thread";
  EXPECT_EQ(seen[0].l1, "just so you know");
  THREAD_check_exception(1);
  EXPECT_EQ(seen.size(), 1u) << "a report is shown only once";

  exce_class dropped("x", "", "", "", "f", 1, 5);
  THREAD_send_exception(dropped);
  THREAD_check_exception(1);
  EXPECT_EQ(seen.size(), 1u) << "reports of other types are dropped";
}

int report_from_thread(void*) {
  exce_class("from a thread", "", "", "", "utl_src", 31, t_alert).Report();
  return 2;
}

TEST_F(ThreadLayer, ReportOnAnotherThreadIsLoggedAndHandedToMain) {
  std::vector<alert_record> seen;
  alert_set_observer([&](const alert_record& r) { seen.push_back(r); });
  UTL_thread_id t = 0;
  ASSERT_EQ(THREAD_create(report_from_thread, nullptr, &t, nullptr, 0), 0);
  EXPECT_EQ(UTL_thread_join(t, nullptr), 2) << "a warning report lets its thread go on";
  EXPECT_NE(log_text().find("EXCEPTION REPORTED FROM THREAD!!  File: utl_src, line 31.\nfrom a thread\n"),
            std::string::npos)
      << log_text();
  EXPECT_TRUE(seen.empty()) << "never shown off the main thread";
  THREAD_check_exception(1);
  ASSERT_EQ(seen.size(), 1u) << "the main thread shows it from the pump";
  EXPECT_EQ(seen[0].line, 31);
}

int lock_and_init(void* p) {
  // Affinity belongs to the calling thread, so this thread plays the main one.
  THREAD_shutdown();
  cmdline.options["--lock_main_thread"] = "";
  THREAD_init();
  *static_cast<bool*>(p) = THREAD_is_main_thread();
  THREAD_shutdown();
  cmdline.clear();
  return 0;
}

TEST_F(ThreadLayer, LockMainThreadIsLogged) {
  bool was_main = false;
  UTL_thread_id t = 0;
  ASSERT_EQ(UTL_thread_create(lock_and_init, &was_main, &t, nullptr), 0);
  UTL_thread_join(t, nullptr);
  EXPECT_TRUE(was_main) << "the thread that ran THREAD_init is the main thread";
  const std::string log = log_text();
  size_t p = log.find("Thread affinity was ");
  ASSERT_NE(p, std::string::npos) << log;
  EXPECT_NE(log.find(" is now 1.\n", p), std::string::npos) << log;
  THREAD_init();  // for TearDown, on this thread
}

struct stuck_call {
  UTL_message_queue* release = nullptr;
  UTL_message_queue* finished = nullptr;
};

int block_on_queue(void* p) {
  auto* s = static_cast<stuck_call*>(p);
  UTL_message_queue_read(s->release, -1);
  UTL_message_queue_write(s->finished, 1);
  return 0;
}

TEST_F(ThreadLayer, ShutDownGoesOnPastAStuckWorker) {
  THREAD_make_workers();
  // Outlives the test: the straggler may still touch it after shut-down.
  static stuck_call s;
  if (!s.release) {
    UTL_message_queue_create(&s.release);
    UTL_message_queue_create(&s.finished);
  }
  THREAD_post_call(block_on_queue, &s);  // its record is left to the straggler
  THREAD_set_join_wait_ms(50);
  THREAD_shutdown();
  std::string log = log_text();
  EXPECT_NE(log.find("Wait on thread for cleanup failed with "), std::string::npos)
      << "the failed wait is logged:\n"
      << log;
  EXPECT_NE(log.find("Clean exit from threads.\n"), std::string::npos) << "shut-down still completes";
  UTL_message_queue_write(s.release, 1);
  EXPECT_EQ(UTL_message_queue_read(s.finished, -1), 1) << "the straggler finishes on its own, safely";
  THREAD_init();
}

std::atomic<bool> g_hold{true};
int g_nine = 9;
int held(void*) {
  while (g_hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 42;
}

TEST_F(ThreadLayer, APostedCallCanBePolledUntilItEnds) {
  THREAD_make_workers();
  g_hold = true;
  THREAD_call* call = THREAD_post_call(held, nullptr);
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(THREAD_call_done(call)) << "still running: the poll does not wait and says so";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  g_hold = false;
  while (!THREAD_call_done(call)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(THREAD_wait_call(call), 42) << "the result of a call seen done";

  THREAD_shutdown();
  call = THREAD_post_call(square, &g_nine);
  EXPECT_TRUE(THREAD_call_done(call)) << "without a pool the call ran inline and is done at once";
  EXPECT_EQ(THREAD_wait_call(call), 81);
  THREAD_init();  // for TearDown
}

// Lines written through xlog() on a thread with a capture go to that
// capture, never into the shared log, which other threads write.
TEST_F(ThreadLayer, CapturedLogLinesStayOnTheirThread) {
  xlog() << "main line\n";
  std::string captured, inner_text;
  std::thread worker([&] {
    log_capture capture;
    xlog() << "worker line " << 7 << "\n";
    {
      log_capture inner;
      xlog() << "inner line\n";
      inner_text = inner.text();
    }
    xlog() << "after inner\n";
    captured = capture.text();
  });
  worker.join();
  xer.flush();
  EXPECT_EQ(captured, "worker line 7\nafter inner\n") << "an ended inner capture gives the outer one back";
  EXPECT_EQ(inner_text, "inner line\n");
  const std::string log = log_text();
  EXPECT_NE(log.find("main line\n"), std::string::npos) << "without a capture xlog() is the log";
  EXPECT_EQ(log.find("worker line"), std::string::npos);
  EXPECT_EQ(log.find("inner line"), std::string::npos);
}

int own_priority(void*) {
  return platform_thread_priority();
}

// Workers give way to the main thread (which draws) and to the display
// server: their nice value is above the main thread's.
TEST_F(ThreadLayer, WorkersRunBelowTheMainThreadsPriority) {
  THREAD_make_workers();
  const int worker = THREAD_wait_call(THREAD_post_call(own_priority, nullptr));
  EXPECT_GT(worker, platform_thread_priority());
}

}  // namespace
