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
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run/result_writers.h"
#include "storage/aligned_writers.h"
#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

// Version 2 adds each new file's device and inode, so that a file renamed
// into place can be told from one that went missing; version 1 records (of
// earlier builds) are still completed.
constexpr std::string_view kRecordFirstLine = "varnel result pair 2";
constexpr std::string_view kRecordFirstLineV1 = "varnel result pair 1";
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

struct Record_Entry {
  std::string temporary;  // bare names in the folder
  std::string target;
  // The new file's identity (version 2); 0 when the record does not say.
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

// The only files a record may replace: the result pair, in the order the
// writers leave them.
bool Is_Pair_Targets(const std::vector<Record_Entry>& entries) {
  return entries.size() == 2 && entries[0].target == kAlignedCsvName &&
         entries[1].target == kAlignedDbName;
}

std::string Record_Text(const std::vector<Record_Entry>& entries) {
  std::string text(kRecordFirstLine);
  text += '\n';
  for (const Record_Entry& entry : entries) {
    text += entry.temporary + '\t' + entry.target + '\t' + std::to_string(entry.device) + ':' +
            std::to_string(entry.inode) + '\n';
  }
  text += kRecordLastLine;
  text += '\n';
  return text;
}

bool Parse_Number(std::string_view text, unsigned long long& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(c - '0');
  }
  return true;
}

// The entries of a record's text; false when it is not a complete record of
// Varnel temporary names and plain target names.
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
  if (!next_line(line)) return false;
  const bool v2 = line == kRecordFirstLine;
  if (!v2 && line != kRecordFirstLineV1) return false;
  for (;;) {
    if (!next_line(line)) return false;
    if (line == kRecordLastLine) break;
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    Record_Entry entry{std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))};
    if (v2) {
      const std::size_t tab2 = entry.target.find('\t');
      if (tab2 == std::string::npos) return false;
      const std::string identity = entry.target.substr(tab2 + 1);
      entry.target.resize(tab2);
      const std::size_t colon = identity.find(':');
      if (colon == std::string::npos ||
          !Parse_Number(std::string_view(identity).substr(0, colon), entry.device) ||
          !Parse_Number(std::string_view(identity).substr(colon + 1), entry.inode)) {
        return false;
      }
    }
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

struct File_Identity {
  bool regular = false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

File_Identity Identity_Of(const std::string& path) {
  struct stat st {};
  File_Identity id;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    id.regular = true;
    id.device = static_cast<unsigned long long>(st.st_dev);
    id.inode = static_cast<unsigned long long>(st.st_ino);
  }
  return id;
}

bool Same_File(const File_Identity& id, const Record_Entry& entry) {
  return id.regular && id.device == entry.device && id.inode == entry.inode;
}

// What became of a record: nothing to do, completed, dropped with every
// target as it was, or kept because it cannot be (or may not be) carried out.
enum class Roll_Outcome { kNone, kFinished, kDropped, kRefused, kMixed, kFailed };

// Completes (or drops) the replacement a record in folder describes. Called
// with the folder locked. A record is carried out only when it is Varnel's
// own: Varnel temporary names replacing the result pair's two names. A
// record that is not is refused and kept (reported by every later open,
// renamed never); one whose new file went missing after the first rename
// leaves new and old files side by side, which cannot be mended, and is kept
// and reported too. A new run's record replaces either.
Roll_Outcome Roll_Forward(const std::string& folder, const Folder_Lock& lock,
                          Result_Folder_Recovery& out) {
  const std::string record = Join_Path(folder, kCommitRecordName);
  const std::string record_name = Folder_Name(folder) + "/" + kCommitRecordName;
  std::vector<Record_Entry> entries;
  const Read_Status status = Read_Record(record, entries);
  if (status == Read_Status::kNone) return Roll_Outcome::kNone;
  if (status == Read_Status::kUnusable || !Is_Pair_Targets(entries)) {
    std::string names;
    for (const Record_Entry& e : entries) {
      if (e.target != kAlignedCsvName && e.target != kAlignedDbName) names += " " + e.target;
    }
    out.problem = record_name + " is not a commit record of Varnel's result files" +
                  (names.empty() ? std::string() : " (it names" + names + ")") +
                  "; nothing was renamed. Remove it once the result files are checked.";
    return Roll_Outcome::kRefused;
  }
  // The renames go in record order, so the files already in place are the
  // first ones and those still waiting the last ones. A new file neither
  // waiting nor in place went missing. (A version 1 record cannot tell a
  // file in place from a missing one: a file not waiting counts as in place
  // before the first waiting one and as missing after it.)
  const bool identities = entries.front().inode != 0;
  enum class State { kWaiting, kInPlace, kMissing };
  std::vector<State> states;
  for (const Record_Entry& entry : entries) {
    const File_Identity waiting = Identity_Of(Join_Path(folder, entry.temporary));
    if (waiting.regular) {
      if (identities && !Same_File(waiting, entry)) {
        out.problem = record_name + ": " + entry.temporary +
                      " is not the file the record names; nothing was renamed. Remove the "
                      "record once the result files are checked.";
        return Roll_Outcome::kRefused;
      }
      states.push_back(State::kWaiting);
    } else if (identities) {
      states.push_back(Same_File(Identity_Of(Join_Path(folder, entry.target)), entry)
                           ? State::kInPlace
                           : State::kMissing);
    } else {
      const bool before_waiting = states.empty() || states.back() == State::kInPlace;
      states.push_back(before_waiting ? State::kInPlace : State::kMissing);
    }
  }
  std::size_t first = 0;  // the first file not in place
  while (first < states.size() && states[first] == State::kInPlace) ++first;
  std::size_t missing = first;
  while (missing < states.size() && states[missing] == State::kWaiting) ++missing;
  if (missing < states.size() && states[missing] == State::kInPlace) {
    out.problem = record_name + " describes renames out of order; nothing was renamed. Remove " +
                  "it once the result files are checked.";
    return Roll_Outcome::kRefused;
  }
  if (missing < states.size()) {
    if (first == 0) {
      // Nothing was renamed yet: every target still has its old file.
      out.abandoned = true;
      out.problem = Folder_Name(folder) + ": an interrupted replacement of the result files was " +
                    "dropped (its new " + entries[missing].target +
                    " is missing); the earlier result files are kept";
      if (!Remove_Record(record, lock)) {
        out.problem += "; " + record_name + " cannot be removed: " + Errno_Text();
      }
      return Roll_Outcome::kDropped;
    }
    out.problem = Folder_Name(folder) +
                  ": the result files do not belong together: " + entries[first - 1].target +
                  " is new, " + entries[missing].target + " is old and its new file (" +
                  entries[missing].temporary + ") is missing. Align again into this folder; " +
                  record_name + " stays until then.";
    return Roll_Outcome::kMixed;
  }
  for (std::size_t i = first; i < entries.size(); ++i) {
    const std::string from = Join_Path(folder, entries[i].temporary);
    const std::string to = Join_Path(folder, entries[i].target);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      std::string done = i == 0 ? std::string("none of the new files is in place")
                                : entries[i - 1].target + " is new";
      out.problem = Folder_Name(folder) + ": an interrupted replacement of the result files " +
                    "cannot be completed (" + Errno_Text() + "): " + done + ", " +
                    entries[i].target + " is old";
      return Roll_Outcome::kFailed;
    }
  }
  lock.Sync();
  out.finished = true;
  if (!Remove_Record(record, lock)) {
    out.problem = record_name + " cannot be removed: " + Errno_Text();
  }
  return Roll_Outcome::kFinished;
}

// A process with this id runs (or may run: it belongs to someone else).
bool Process_Alive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// The writer lock's line: who holds it.
struct Lock_Holder {
  long pid = 0;
  std::string host;
  unsigned long long start = 0;  // the process's start time in clock ticks; 0 unknown
};

std::string This_Host() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// The start time of a process of this host (field 22 of /proc/PID/stat), or 0.
unsigned long long Process_Start(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t paren = text.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(paren + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

std::string Holder_Line(const Lock_Holder& holder) {
  return std::to_string(holder.pid) + ' ' + holder.host + ' ' + std::to_string(holder.start) + '\n';
}

std::optional<Lock_Holder> Read_Holder(int fd) {
  char buffer[512];
  ssize_t n = 0;
  do {
    n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  std::istringstream line(std::string(buffer, static_cast<std::size_t>(n)));
  Lock_Holder holder;
  if (!(line >> holder.pid >> holder.host) || holder.pid <= 0) return std::nullopt;
  line >> holder.start;
  return holder;
}

// A holder on this host whose process has ended; a holder of another host
// cannot be checked and counts as running.
bool Holder_Ended(const Lock_Holder& holder) {
  if (holder.host != This_Host()) return false;
  if (!Process_Alive(holder.pid)) return true;
  return holder.start != 0 && Process_Start(holder.pid) != 0 &&
         Process_Start(holder.pid) != holder.start;
}

bool Same_Inode(int fd, const std::string& path) {
  struct stat open_file {};
  struct stat named {};
  return ::fstat(fd, &open_file) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Removes a lock file whose holder has ended, as a tidying does.
void Remove_Stale_Lock(const std::string& folder) {
  const std::string path = Join_Path(folder, kWriterLockName);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && Same_Inode(fd, path)) {
    const std::optional<Lock_Holder> holder = Read_Holder(fd);
    if (holder && Holder_Ended(*holder)) ::unlink(path.c_str());
  }
  ::close(fd);
}

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
    // The files of a refused record are not touched.
    // Nor those an interrupted import's record names (storage/import_commit.h).
    struct stat st {};
    const bool import_record = ::lstat(Join_Path(folder, kImportRecordName).c_str(), &st) == 0;
    if (Roll_Forward(folder, lock, out) != Roll_Outcome::kRefused && !import_record) {
      Remove_Stale_Temporaries(folder, out);
    }
    Remove_Stale_Lock(folder);
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
  if (!Is_Pair_Targets(entries)) {
    Throw(pending.front()->target(), "only the result pair is replaced together");
  }
  for (Pending_Result_File* file : pending) file->Sync();
  for (Record_Entry& entry : entries) {
    const File_Identity id = Identity_Of(Join_Path(folder, entry.temporary));
    if (!id.regular) Throw(Join_Path(folder, entry.target), "its new file is missing");
    entry.device = id.device;
    entry.inode = id.inode;
  }

  const Folder_Lock lock(folder);
  const std::string record = Join_Path(folder, kCommitRecordName);
  {
    // An interrupted replacement is completed first. A record that cannot
    // be carried out gives way to this one, which replaces both files.
    Result_Folder_Recovery earlier;
    if (Roll_Forward(folder, lock, earlier) == Roll_Outcome::kFailed) {
      Throw(pending.front()->target(), earlier.problem);
    }
  }

  // From here on the new files belong to the record: a stop leaves them.
  for (Pending_Result_File* file : pending) file->Keep_On_Stop();
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

Result_Folder_Writer::Result_Folder_Writer(const std::string& folder)
    : path_(Join_Path(folder, kWriterLockName)) {
  Lock_Holder me;
  me.pid = static_cast<long>(::getpid());
  me.host = This_Host();
  me.start = Process_Start(me.pid);
  auto in_use = [&folder](const Lock_Holder& holder) {
    Throw(Folder_Name(folder), "in use by process " + std::to_string(holder.pid) + " on " +
                                   holder.host + " (its lock: " + kWriterLockName + ")");
  };
  // A lock file just made holds no line for a moment, and one being taken
  // over or removed changes under us: a few tries settle it.
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // no lock file here: the run's own writes report the folder's trouble
    }
    bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool busy = !locked && errno == EWOULDBLOCK;
    const std::optional<Lock_Holder> holder = Read_Holder(fd);
    if (!Same_Inode(fd, path_)) {  // removed or replaced meanwhile
      ::close(fd);
      continue;
    }
    if (busy || (holder && holder->pid != me.pid && !Holder_Ended(*holder)) ||
        (holder && holder->pid == me.pid && holder->host != me.host)) {
      ::close(fd);
      if (holder && !(busy && Holder_Ended(*holder))) in_use(*holder);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    const std::string line = Holder_Line(me);
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size())) {
      ::unlink(path_.c_str());  // ours now: nothing is left of it
      ::close(fd);
      return;  // a full disk, say: the run's own writes report it
    }
    fd_ = fd;
    stop_ticket_ = Remove_On_Stop(path_);
    return;
  }
  Throw(Folder_Name(folder), "in use by another process (its lock " + std::string(kWriterLockName) +
                                 " stays unreadable)");
}

Result_Folder_Writer::~Result_Folder_Writer() {
  Keep_On_Stop(stop_ticket_);
  if (fd_ < 0) return;
  if (Same_Inode(fd_, path_)) ::unlink(path_.c_str());
  ::close(fd_);
}
