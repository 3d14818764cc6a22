#pragma once
// The program's log stream, Log.txt. Rewritten at every start; when the file
// cannot be opened the stream stays failed and every write is dropped.
#include <fstream>
#include <string>

extern std::ofstream xer;

// Opens (replacing) the log file at `path`. Returns false when it cannot be
// created; the stream is then left in the failed state.
bool log_open(const std::string& path);
void log_close();
