#pragma once
// What every fuzz target shares: a private scratch folder, the program's
// alerts observed instead of shown, a fatal alert unwinding the input instead
// of ending the process, and small file helpers. Everything here runs on the
// fuzzer's single thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzsupport {

// Thrown by the alert exit hook: a fatal alert is the program's own answer to some
// inputs (a manifest path without a file name), not a crash.
struct fatal_alert {
  int code;
};

// Sets up the headless program state once per process: alerts recorded, the
// fatal-alert hook, the command line's exit hook, the UI hooks answering
// without a window, and the scratch folder. Safe to call on every input.
void init();

// A private folder for this process (ends in '/'), on /dev/shm when present.
const std::string& scratch();

void write_file(const std::string& path, const uint8_t* data, size_t size);
void remove_tree(const std::string& path);
void make_dirs(const std::string& path);

// Alerts raised since the last call (and clears the count).
int take_alert_count();

// Reports a broken invariant and aborts, so the fuzzer keeps the input.
[[noreturn]] void fail(const std::string& why);

// Every entry below `root` (relative paths, folders ending in '/'), sorted;
// symbolic links are listed with a trailing '@'. Names may hold any byte but
// '/' and NUL (line ends included), so the entries are kept apart.
std::vector<std::string> list_entries(const std::string& root);
// The same joined with line ends, for messages.
std::string list_tree(const std::string& root);

}  // namespace fuzzsupport
