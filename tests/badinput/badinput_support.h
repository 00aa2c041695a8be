// Helpers of the bad-input and crash-safety tests: snapshots of a folder's
// bytes, running a program or a function in a child process under limits,
// and holding a lock on a database from another process.
#ifndef VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_
#define VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace badinput {

// Every entry of a folder (not recursive): name -> bytes of a regular file,
// "<folder>" for a folder, "<other>" for anything else.
using Snapshot = std::map<std::string, std::string>;
Snapshot Take_Snapshot(const std::string& folder);
// Names of the entries that differ between two snapshots, for messages.
std::string Snapshot_Difference(const Snapshot& before, const Snapshot& after);
// Names of the hidden entries (temporary files) of a folder; none when the
// folder does not exist.
std::vector<std::string> Hidden_Entries(const std::string& folder);

// Limits put on a child process before it runs.
struct Child_Limits {
  long long max_file_bytes = -1;  // RLIMIT_FSIZE; SIGXFSZ ignored, so write() fails
  bool drop_privileges = false;   // as root: run as nobody (65534)
  std::string working_folder;     // chdir there when not empty
};

struct Program_Result {
  int exit_code = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs program with args (no shell), waits for it.
Program_Result Run_Program(const std::string& program, const std::vector<std::string>& args,
                           const Child_Limits& limits = {});

// Starts program with args and returns its pid (stdout/stderr to /dev/null,
// SIGINT, SIGTERM and SIGHUP at their default action).
pid_t Start_Program(const std::string& program, const std::vector<std::string>& args);

// Runs body in a forked child under limits and returns what it returns (the
// text of a caught failure, say). The child's crash or a signal gives
// "<child died: signal N>".
std::string Run_In_Child(const std::function<std::string()>& body, const Child_Limits& limits);

// One line: text ending in one '\n' and holding no other line break.
bool Is_One_Line(const std::string& text);

// Holds an exclusive lock on the database at path for `held` from another
// process (SQLite keeps its own table of the locks of a process, which a
// forked copy inherits: the lock must not belong to this process). The
// constructor returns once the lock is taken; throws when it cannot be.
class Brief_Lock {
 public:
  Brief_Lock(const std::string& path, std::chrono::milliseconds held);
  ~Brief_Lock();  // waits for the holder to end
  Brief_Lock(const Brief_Lock&) = delete;
  Brief_Lock& operator=(const Brief_Lock&) = delete;

 private:
  pid_t pid_ = -1;
};

// "" when read() returns, else the message of what it threw.
std::string Failure_Of(const std::function<void()>& read);

}  // namespace badinput

#endif  // VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_
