#include "run/result_pair.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr std::string_view kRecordFirstLine = "varnel result pair 1";
constexpr std::string_view kRecordLastLine = "end";
constexpr std::size_t kMaxRecordBytes = 64 * 1024;
constexpr std::size_t kMaxRecordEntries = 16;
constexpr const char* kPauseVariable = "VARNEL_TEST_PAUSE_BETWEEN_RENAMES";

std::string Folder_Name(const std::string& folder) { return folder.empty() ? "/" : folder; }

std::string Errno_Text() { return std::strerror(errno); }

[[noreturn]] void Throw(const std::string& context, const std::string& what) {
  throw CppSQLite3Exception(CPPSQLITE_ERROR, context + ": " + what);
}

// The folder's lock: an exclusive flock on the folder itself, held while a
// replacement or a tidying runs. A folder that cannot be opened or locked is
// worked on unlocked.
class Folder_Lock {
 public:
  explicit Folder_Lock(const std::string& folder)
      : fd_(::open(Folder_Name(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  Folder_Lock(const Folder_Lock&) = delete;
  Folder_Lock& operator=(const Folder_Lock&) = delete;
  ~Folder_Lock() {
    if (fd_ >= 0) ::close(fd_);  // drops the lock
  }
  // Makes renames and removals in the folder durable; false when the folder
  // cannot be synced (the renames are still in place).
  bool Sync() const { return fd_ >= 0 && ::fsync(fd_) == 0; }

 private:
  int fd_;
};

bool Is_Plain_Name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\t\n\r\0", 5)) == std::string_view::npos;
}

// The mkstemp name proper, without a side file's ending; *rest gets what
// follows it.
bool Parse_Temporary_Name(std::string_view name, long* maker, std::string_view* rest) {
  if (!name.starts_with(kTemporaryPrefix)) return false;
  name.remove_prefix(kTemporaryPrefix.size());
  long pid = 0;
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9' && digits < 10) {
    pid = pid * 10 + (name[digits] - '0');
    ++digits;
  }
  if (digits == 0 || pid <= 0 || digits + 7 > name.size() || name[digits] != '-') return false;
  for (std::size_t i = digits + 1; i < digits + 7; ++i) {
    const char c = name[i];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  if (maker != nullptr) *maker = pid;
  if (rest != nullptr) *rest = name.substr(digits + 7);
  return true;
}

struct Record_Entry {
  std::string temporary;  // bare names in the folder
  std::string target;
};

std::string Record_Text(const std::vector<Record_Entry>& entries) {
  std::string text(kRecordFirstLine);
  text += '\n';
  for (const Record_Entry& entry : entries) {
    text += entry.temporary + '\t' + entry.target + '\n';
  }
  text += kRecordLastLine;
  text += '\n';
  return text;
}

// The entries of a record's text; false when it is not a complete record of
// temporary names and plain target names.
bool Parse_Record(std::string_view text, std::vector<Record_Entry>& entries) {
  entries.clear();
  auto next_line = [&text](std::string_view& line) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
  };
  std::string_view line;
  if (!next_line(line) || line != kRecordFirstLine) return false;
  for (;;) {
    if (!next_line(line)) return false;
    if (line == kRecordLastLine) break;
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    Record_Entry entry{std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))};
    std::string_view rest;
    if (!Parse_Temporary_Name(entry.temporary, nullptr, &rest) || !rest.empty()) return false;
    if (!Is_Plain_Name(entry.target) || entry.target.starts_with(".")) return false;
    entries.push_back(std::move(entry));
    if (entries.size() > kMaxRecordEntries) return false;
  }
  return text.empty() && !entries.empty();
}

enum class Read_Status { kNone, kRead, kUnusable };

Read_Status Read_Record(const std::string& path, std::vector<Record_Entry>& entries) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Read_Status::kNone : Read_Status::kUnusable;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxRecordBytes) break;
  }
  ::close(fd);
  return Parse_Record(text, entries) ? Read_Status::kRead : Read_Status::kUnusable;
}

bool Is_Regular_File(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Removes the record and syncs the folder; false when it cannot be removed.
bool Remove_Record(const std::string& record, const Folder_Lock& lock) {
  if (::unlink(record.c_str()) != 0 && errno != ENOENT) return false;
  lock.Sync();
  return true;
}

void Pause_Between_Renames() {
  const char* pause = std::getenv(kPauseVariable);
  if (pause == nullptr) return;
  const long ms = std::strtol(pause, nullptr, 10);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Completes (or drops) the replacement a record in folder describes. Called
// with the folder locked.
void Roll_Forward(const std::string& folder, const Folder_Lock& lock, Result_Folder_Recovery& out) {
  const std::string record = Join_Path(folder, kCommitRecordName);
  std::vector<Record_Entry> entries;
  const Read_Status status = Read_Record(record, entries);
  if (status == Read_Status::kNone) return;
  // The renames go in record order, so the files still waiting are always
  // the last ones. Any other picture (a record that cannot be read, a file
  // missing in the middle) was not made by a replacement: the targets keep
  // what they have.
  std::size_t first = entries.size();
  bool gap = false;
  if (status == Read_Status::kRead) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const bool waiting = Is_Regular_File(Join_Path(folder, entries[i].temporary));
      if (waiting && first == entries.size()) first = i;
      if (!waiting && first < i) gap = true;
    }
  }
  if (status == Read_Status::kUnusable || gap) {
    out.abandoned = true;
    if (!Remove_Record(record, lock)) {
      out.problem = Folder_Name(folder) + ": cannot remove the unusable record " +
                    kCommitRecordName + ": " + Errno_Text();
    }
    return;
  }
  for (std::size_t i = first; i < entries.size(); ++i) {
    const std::string from = Join_Path(folder, entries[i].temporary);
    const std::string to = Join_Path(folder, entries[i].target);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      std::string done = first == 0 ? std::string("none of the new files is in place")
                                    : entries[first - 1].target + " is new";
      out.problem = Folder_Name(folder) + ": an interrupted replacement of the result files " +
                    "cannot be completed (" + Errno_Text() + "): " + done + ", " +
                    entries[i].target + " is old";
      return;
    }
    first = i + 1;
  }
  lock.Sync();
  out.finished = true;
  if (!Remove_Record(record, lock)) {
    out.problem =
        Folder_Name(folder) + ": cannot remove " + kCommitRecordName + ": " + Errno_Text();
  }
}

// A process with this id runs (or may run: it belongs to someone else).
bool Process_Alive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// Removes the temporary files of programs no longer running, except those a
// record still names.
void Remove_Stale_Temporaries(const std::string& folder, Result_Folder_Recovery& out) {
  std::vector<Record_Entry> kept;
  if (Read_Record(Join_Path(folder, kCommitRecordName), kept) == Read_Status::kUnusable) return;
  DIR* dir = ::opendir(Folder_Name(folder).c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    long maker = 0;
    std::string_view rest;
    if (!Parse_Temporary_Name(name, &maker, &rest)) continue;
    if (!rest.empty() && rest != "-journal" && rest != "-wal" && rest != "-shm") continue;
    if (Process_Alive(maker)) continue;
    bool named = false;
    for (const Record_Entry& k : kept) named = named || name.starts_with(k.temporary);
    if (!named) stale.emplace_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) {
    const std::string path = Join_Path(folder, name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // A file whose lock is held belongs to a live process (of another
    // machine or another process namespace, say).
    const bool ours_to_remove =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ours_to_remove && ::unlink(path.c_str()) == 0) ++out.temporaries_removed;
    ::close(fd);
  }
}

}  // namespace

bool Is_Own_Temporary_Name(std::string_view name, long* maker) {
  std::string_view rest;
  return Parse_Temporary_Name(name, maker, &rest) &&
         (rest.empty() || rest == "-journal" || rest == "-wal" || rest == "-shm");
}

Result_Folder_Recovery Recover_Result_Folder(const std::string& folder) {
  Result_Folder_Recovery out;
  try {
    const Folder_Lock lock(folder);
    Roll_Forward(folder, lock, out);
    Remove_Stale_Temporaries(folder, out);
  } catch (const std::exception&) {
    // Out of memory while listing: the folder stays as it is.
  }
  return out;
}

Result_Folder_Recovery Recover_Result_Folder_Of(const std::string& result_file) {
  return Recover_Result_Folder(Split_Path(result_file).folder);
}

void Replace_Together(std::vector<Pending_Result_File>& files) {
  std::vector<Pending_Result_File*> pending;
  for (Pending_Result_File& file : files) {
    if (!file.empty()) pending.push_back(&file);
  }
  if (pending.empty()) return;
  const std::string folder = Split_Path(pending.front()->target()).folder;
  std::vector<Record_Entry> entries;
  for (Pending_Result_File* file : pending) {
    const Split_Path_Result temp = Split_Path(file->temp_path());
    const Split_Path_Result target = Split_Path(file->target());
    if (temp.folder != folder || target.folder != folder) {
      Throw(file->target(), "the files to replace together are not in one folder");
    }
    entries.push_back({temp.name, target.name});
  }
  for (Pending_Result_File* file : pending) file->Sync();

  const Folder_Lock lock(folder);
  const std::string record = Join_Path(folder, kCommitRecordName);
  {
    Result_Folder_Recovery earlier;
    Roll_Forward(folder, lock, earlier);
    if (!earlier.problem.empty()) Throw(pending.front()->target(), earlier.problem);
  }

  // The record: complete and on disk before it has its name.
  {
    std::string temp = Own_Temporary_Pattern(folder);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) Throw(pending.front()->target(), "cannot write the commit record: " + Errno_Text());
    const std::string text = Record_Text(entries);
    std::string_view left = text;
    bool ok = true;
    while (ok && !left.empty()) {
      const ssize_t n = ::write(fd, left.data(), left.size());
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) left.remove_prefix(static_cast<std::size_t>(n));
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), record.c_str()) == 0;
    if (!ok) {
      const std::string reason = Errno_Text();
      ::unlink(temp.c_str());
      Throw(pending.front()->target(), "cannot write the commit record: " + reason);
    }
  }
  lock.Sync();

  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (i > 0) Pause_Between_Renames();
    if (std::rename(pending[i]->temp_path().c_str(), pending[i]->target().c_str()) != 0) {
      const std::string reason = Errno_Text();
      if (i == 0 && Remove_Record(record, lock)) {
        Throw(pending[i]->target(), "cannot replace the result file: " + reason);
      }
      // Some files are new already: the rest stay waiting for the record's
      // completion by the next program that opens the folder.
      for (Pending_Result_File* file : pending) file->Release();
      Throw(pending[i]->target(), "cannot replace the result file: " + reason +
                                      "; the replacement is completed when the folder is next "
                                      "opened");
    }
    pending[i]->Release();
  }
  lock.Sync();
  Remove_Record(record, lock);
}
