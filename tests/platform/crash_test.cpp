// The crash handler, in a fresh process per signal (tests/support/crash_child):
// each crash leaves a stack trace, removes the temporary folder (and nothing
// outside it), and still ends the process by its signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace {

// Runs crash_child with `what`; returns the wait status.
int run_child(const std::string& what, const testsupport::TempDir& dir) {
  const std::string child = std::string(SKYVANE_BINARY_DIR) + "/tests/crash_child";
  const std::string tmp = dir / "tmp";
  const std::string trace = dir / "logs/stack_crawl.txt", outside = dir / "outside.txt",
                    report = dir / "temp_path.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", tmp.c_str(), 1);
    execl(child.c_str(), child.c_str(), what.c_str(), trace.c_str(), outside.c_str(), report.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

TEST(CrashHandler, LeavesATraceRemovesTheTemporaryFolderAndEndsByTheSignal) {
  const struct {
    const char* what;
    int sig;
    const char* name;
  } cases[] = {
      {"segv", SIGSEGV, "SIGSEGV"},   {"overflow", SIGSEGV, "SIGSEGV"}, {"bus", SIGBUS, "SIGBUS"},
      {"bus-sent", SIGBUS, "SIGBUS"}, {"ill", SIGILL, "SIGILL"},        {"fpe", SIGFPE, "SIGFPE"},
      {"abrt", SIGABRT, "SIGABRT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir dir;
    testsupport::make_dirs(dir / "tmp");
    testsupport::make_dirs(dir / "logs");
    testsupport::write_file(dir / "outside.txt", "the user's");
    testsupport::write_file(dir / "logs/stack_crawl.txt", "an earlier entry\n");
    const int status = run_child(c.what, dir);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << ": the crash must still end the process";
    EXPECT_EQ(WTERMSIG(status), c.sig) << "by its own signal";

    const std::string temp = testsupport::read_file(dir / "temp_path.txt");
    ASSERT_EQ(temp.rfind(dir / "tmp/", 0), 0u) << "the child's temporary folder: " << temp;
    EXPECT_FALSE(testsupport::file_exists(temp)) << "the temporary folder is removed with its contents";
    EXPECT_EQ(testsupport::read_file(dir / "outside.txt"), "the user's") << "a link inside is not followed";

    const std::string trace = testsupport::read_file(dir / "logs/stack_crawl.txt");
    EXPECT_EQ(trace.rfind("an earlier entry\n", 0), 0u) << "appended to:\n" << trace;
    EXPECT_NE(
        trace.find(std::string("The program crashed: signal ") + std::to_string(c.sig) + " (" + c.name + ")"),
        std::string::npos)
        << trace;
    EXPECT_NE(trace.find("crash_child("), std::string::npos) << "the frames of the crashed program:\n"
                                                             << trace;
  }
}

}  // namespace
