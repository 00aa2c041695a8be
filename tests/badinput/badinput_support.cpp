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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "storage/path.h"
#include "tools/simulate.h"

namespace badinput {

namespace fs = std::filesystem;

Temp_Folder::Temp_Folder() {
  std::string pattern = (fs::temp_directory_path() / "varnel-badinput-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  chmod(path_.c_str(), 0755);
}

Temp_Folder::~Temp_Folder() {
  std::error_code ignored;
  // Undo what a test may have done to make the folder unwritable.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(path_, ignored);
}

std::vector<std::string> Make_Study(const std::string& folder, std::uint32_t samples,
                                    std::uint32_t compounds, std::uint64_t seed) {
  Simulation_Options options;
  options.samples = samples;
  options.compounds = compounds;
  options.seed = seed;
  const Simulation_Result study = Simulate_Study(options, folder);
  std::vector<std::string> paths;
  for (const std::string& name : study.database_names) paths.push_back(Join_Path(folder, name));
  return paths;
}

void Exec_Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  char* error = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : sqlite3_errmsg(db);
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(path + ": " + sql + ": " + message);
}

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write_File(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

void Copy_File(const std::string& from, const std::string& to) { Write_File(to, Read_File(from)); }

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

}  // namespace

Program_Result Run_Program(const std::string& program, const std::vector<std::string>& args,
                           const Child_Limits& limits) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    Apply_Limits(limits);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  Program_Result result;
  // stderr is short (one line expected); drain stdout first, then stderr.
  // Both are small for these tests, well under a pipe's capacity.
  result.out = Read_All(out_pipe[0]);
  result.err = Read_All(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
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
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "<child died: signal " + std::to_string(WTERMSIG(status)) + ">";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "<child failed: status " + std::to_string(WEXITSTATUS(status)) + ">";
  }
  return text;
}

pid_t Start_Program(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

bool Is_One_Line(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find_first_of("\r\n") == text.size() - 1;
}

}  // namespace badinput
