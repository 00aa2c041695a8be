#include "badinput_support.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "storage/sqlite/cppsqlite3.h"

namespace badinput {

namespace fs = std::filesystem;

Snapshot Take_Snapshot(const std::string& folder) {
  Snapshot snapshot;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory()) {
      snapshot[name] = "<folder>";
    } else if (entry.is_regular_file()) {
      snapshot[name] = Read_File(entry.path().string());
    } else {
      snapshot[name] = "<other>";
    }
  }
  return snapshot;
}

std::string Snapshot_Difference(const Snapshot& before, const Snapshot& after) {
  std::string diff;
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end()) {
      diff += " missing:" + name;
    } else if (it->second != bytes) {
      diff += " changed:" + name + "(" + std::to_string(bytes.size()) + "->" +
              std::to_string(it->second.size()) + " bytes)";
    }
  }
  for (const auto& [name, bytes] : after) {
    if (before.count(name) == 0) diff += " new:" + name;
  }
  return diff;
}

namespace {

// In the child, after fork: apply the limits. Failures end the child.
void Apply_Limits(const Child_Limits& limits) {
  if (limits.max_file_bytes >= 0) {
    signal(SIGXFSZ, SIG_IGN);  // inherited across exec: write() fails with EFBIG
    rlimit limit{static_cast<rlim_t>(limits.max_file_bytes),
                 static_cast<rlim_t>(limits.max_file_bytes)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
  }
  if (!limits.working_folder.empty() && chdir(limits.working_folder.c_str()) != 0) _exit(125);
  if (limits.drop_privileges && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
  }
}

int Wait_For(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string Read_All(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

// A program run as nobody must lie where nobody can reach it: the build tree
// may sit below a folder only root can enter. Copies it once into a fresh
// world-readable folder and returns the copy's path.
std::string Reachable_By_Nobody(const std::string& program) {
  struct Copy {
    explicit Copy(const std::string& from) {
      char tmpl[] = "/tmp/varnel-nobody-XXXXXX";
      if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
      folder = tmpl;
      fs::permissions(folder, fs::perms(0755));
      path = folder / fs::path(from).filename();
      fs::copy_file(from, path);
      fs::permissions(path, fs::perms(0755));
    }
    ~Copy() {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
    fs::path folder, path;
  };
  static const Copy copy(program);
  return copy.path.string();
}

}  // namespace

// The argument vector of an exec: program, then args.
struct Arg_Vector {
  Arg_Vector(const std::string& program, const std::vector<std::string>& args) : text{program} {
    text.insert(text.end(), args.begin(), args.end());
    for (std::string& a : text) pointers.push_back(a.data());
    pointers.push_back(nullptr);
  }
  std::vector<std::string> text;
  std::vector<char*> pointers;
};

Program_Result Run_Program(const std::string& program, const std::vector<std::string>& args,
                           const Child_Limits& limits) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const bool as_nobody = limits.drop_privileges && geteuid() == 0;
  const std::string path = as_nobody ? Reachable_By_Nobody(program) : program;
  Arg_Vector argv(path, args);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {out_pipe[0], err_pipe[0], out_pipe[1], err_pipe[1]}) close(fd);
    Apply_Limits(limits);
    execv(path.c_str(), argv.pointers.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  Program_Result result;
  // Both outputs are small for these tests, well under a pipe's capacity:
  // drain stdout first, then stderr.
  result.out = Read_All(out_pipe[0]);
  result.err = Read_All(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  const int status = Wait_For(pid);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

pid_t Start_Program(const std::string& program, const std::vector<std::string>& args) {
  Arg_Vector argv(program, args);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    // The stop signals as a terminal gives them, whatever the test runner ignores.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) signal(stop, SIG_DFL);
    execv(program.c_str(), argv.pointers.data());
    _exit(127);
  }
  return pid;
}

std::string Run_In_Child(const std::function<std::string()>& body, const Child_Limits& limits) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(pipe_fds[0]);
    // The run's progress lines are not wanted here.
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    Apply_Limits(limits);
    const std::string text = body();
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t n = write(pipe_fds[1], p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    close(pipe_fds[1]);
    _exit(0);  // no destructors, no leak check of the forked copy
  }
  close(pipe_fds[1]);
  std::string text = Read_All(pipe_fds[0]);
  close(pipe_fds[0]);
  const int status = Wait_For(pid);
  if (WIFSIGNALED(status)) return "<child died: signal " + std::to_string(WTERMSIG(status)) + ">";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "<child failed: status " + std::to_string(WEXITSTATUS(status)) + ">";
  }
  return text;
}

bool Is_One_Line(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find_first_of("\r\n") == text.size() - 1;
}

std::vector<std::string> Hidden_Entries(const std::string& folder) {
  std::vector<std::string> found;
  if (!fs::is_directory(folder)) return found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".")) found.push_back(name);
  }
  return found;
}

Brief_Lock::Brief_Lock(const std::string& path, std::chrono::milliseconds held) {
  int ready[2];
  if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(ready[0]);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const int rc = sqlite3_exec(db, "begin exclusive;", nullptr, nullptr, nullptr);
    const char taken = rc == SQLITE_OK ? 'y' : 'n';
    (void)!write(ready[1], &taken, 1);
    std::this_thread::sleep_for(held);
    sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  close(ready[1]);
  char taken = 'n';
  (void)!read(ready[0], &taken, 1);
  close(ready[0]);
  if (taken != 'y') {
    Wait_For(pid_);
    throw std::runtime_error("cannot lock " + path);
  }
}

Brief_Lock::~Brief_Lock() { Wait_For(pid_); }

std::string Failure_Of(const std::function<void()>& read) {
  try {
    read();
    return "";
  } catch (const CppSQLite3Exception& e) {
    return e.errorMessage();
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace badinput
