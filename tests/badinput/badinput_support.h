// Helpers of the bad-input and crash-safety tests: temporary folders, small
// studies, spoiling databases, running a program or a function in a child
// process under limits, and snapshots of a folder's bytes.
#ifndef VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_
#define VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace badinput {

// A fresh folder (0755, so that a child without privileges can enter it),
// removed with its contents when the object goes.
class Temp_Folder {
 public:
  Temp_Folder();
  ~Temp_Folder();
  Temp_Folder(const Temp_Folder&) = delete;
  Temp_Folder& operator=(const Temp_Folder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Simulates a study of `samples` annotated databases into folder; returns
// their full paths in sample order.
std::vector<std::string> Make_Study(const std::string& folder, std::uint32_t samples,
                                    std::uint32_t compounds, std::uint64_t seed);

// Runs sql on the database at path (created when missing); throws on failure.
void Exec_Sql(const std::string& path, const std::string& sql);
std::string Read_File(const std::string& path);
void Write_File(const std::string& path, const std::string& bytes);
// Copies a file byte for byte.
void Copy_File(const std::string& from, const std::string& to);

// Every entry of a folder (not recursive): name -> bytes of a regular file,
// "<folder>" for a folder, "<other>" for anything else.
using Snapshot = std::map<std::string, std::string>;
Snapshot Take_Snapshot(const std::string& folder);
// Names of the entries that differ between two snapshots, for messages.
std::string Snapshot_Difference(const Snapshot& before, const Snapshot& after);

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

// Runs body in a forked child under limits and returns what it returns (the
// text of a caught failure, say). The child's crash or a signal gives
// "<child died: signal N>".
std::string Run_In_Child(const std::function<std::string()>& body, const Child_Limits& limits);

// Starts program with args and returns its pid (stdout/stderr to /dev/null).
pid_t Start_Program(const std::string& program, const std::vector<std::string>& args);

// One line: text ending in one '\n' and holding no other line break.
bool Is_One_Line(const std::string& text);

}  // namespace badinput

#endif  // VARNEL_TESTS_BADINPUT_BADINPUT_SUPPORT_H_
