#include "storage/import_commit.h"

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
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/replacement_file.h"

namespace {

constexpr std::string_view kFirstLine = "varnel import 1";
constexpr std::string_view kLastLine = "end";
// A record names one line per sample; a study of a million samples is far
// beyond any import.
constexpr std::size_t kMaxRecordBytes = 512u * 1024u * 1024u;
constexpr const char* kPauseVariable = "VARNEL_TEST_PAUSE_BETWEEN_IMPORT_RENAMES";
constexpr const char* kKillVariable = "VARNEL_TEST_KILL_AT_IMPORT_STEP";

std::string Folder_Name(const std::string& folder) { return folder.empty() ? "/" : folder; }

std::string Errno_Text() { return std::strerror(errno); }

// An exclusive flock on the folder itself while a replacement or a recovery
// runs. A folder that cannot be opened is worked on unlocked.
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
    if (fd_ >= 0) ::close(fd_);
  }
  void Sync() const {
    if (fd_ >= 0) ::fsync(fd_);
  }

 private:
  int fd_;
};

struct Entry {
  std::string temporary;  // bare names in the folder
  std::string target;
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

bool Is_Database_Name(std::string_view name) {
  const std::string_view suffix = kAnnotatedSuffix;
  return name.size() > suffix.size() && name.ends_with(suffix) && !name.starts_with(".") &&
         name.find_first_of(std::string_view("/\t\n\r\0", 5)) == std::string_view::npos;
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

std::string Record_Text(const std::vector<Entry>& entries) {
  std::string text(kFirstLine);
  text += '\n';
  for (const Entry& e : entries) {
    text += e.temporary + '\t' + e.target + '\t' + std::to_string(e.device) + ':' +
            std::to_string(e.inode) + '\n';
  }
  text += kLastLine;
  text += '\n';
  return text;
}

// False when text is not a complete record of Varnel temporary names and
// distinct database names.
bool Parse_Record(std::string_view text, std::vector<Entry>& entries) {
  entries.clear();
  auto next_line = [&text](std::string_view& line) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
  };
  std::string_view line;
  if (!next_line(line) || line != kFirstLine) return false;
  std::set<std::string_view> targets;
  std::set<std::string_view> temporaries;
  for (;;) {
    if (!next_line(line)) return false;
    if (line == kLastLine) break;
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) return false;
    Entry e{std::string(line.substr(0, tab1)), std::string(line.substr(tab1 + 1, tab2 - tab1 - 1))};
    const std::string_view identity = line.substr(tab2 + 1);
    const std::size_t colon = identity.find(':');
    if (colon == std::string_view::npos || !Parse_Number(identity.substr(0, colon), e.device) ||
        !Parse_Number(identity.substr(colon + 1), e.inode)) {
      return false;
    }
    std::string_view rest;
    if (!Parse_Temporary_Name(e.temporary, nullptr, &rest) || !rest.empty()) return false;
    if (!Is_Database_Name(e.target)) return false;
    if (!targets.insert(line.substr(tab1 + 1, tab2 - tab1 - 1)).second) return false;
    if (!temporaries.insert(line.substr(0, tab1)).second) return false;
    entries.push_back(std::move(e));
  }
  return text.empty() && !entries.empty();
}

enum class Read_Status { kNone, kRead, kUnusable };

Read_Status Read_Record(const std::string& path, std::vector<Entry>& entries) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Read_Status::kNone : Read_Status::kUnusable;
  std::string text;
  char buffer[65536];
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

struct Identity {
  bool regular = false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

Identity Identity_Of(const std::string& path) {
  struct stat st {};
  Identity id;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    id.regular = true;
    id.device = static_cast<unsigned long long>(st.st_dev);
    id.inode = static_cast<unsigned long long>(st.st_ino);
  }
  return id;
}

bool Same_File(const Identity& id, const Entry& e) {
  return id.regular && id.device == e.device && id.inode == e.inode;
}

void Pause_Between_Renames() {
  const char* pause = std::getenv(kPauseVariable);
  if (pause == nullptr) return;
  const long ms = std::strtol(pause, nullptr, 10);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Test hook: the process ends by SIGKILL at step N of a replacement when
// the environment holds VARNEL_TEST_KILL_AT_IMPORT_STEP=N (0: the record
// written but not yet in place; 1: the record in place; 1 + i: i databases
// renamed).
void Kill_Point(std::size_t step) {
  const char* value = std::getenv(kKillVariable);
  if (value != nullptr && std::strtol(value, nullptr, 10) == static_cast<long>(step)) {
    ::raise(SIGKILL);
  }
}

enum class Outcome { kNone, kFinished, kDropped, kRefused, kMixed, kFailed };

std::string Refusal(const std::string& record_name, const std::string& why) {
  return record_name + " " + why + "; nothing was renamed. Remove it once the databases " +
         "in the folder are checked.";
}

// Carries out or drops the record in folder; called with the folder locked.
Outcome Roll_Forward(const std::string& folder, const Folder_Lock& lock,
                     Import_Folder_Recovery& out) {
  const std::string record = Join_Path(folder, kImportRecordName);
  std::vector<Entry> entries;
  const Read_Status status = Read_Record(record, entries);
  if (status == Read_Status::kNone) return Outcome::kNone;
  if (status == Read_Status::kUnusable) {
    out.refused = true;
    out.problem = Refusal(record, "is not a record of a Varnel import");
    return Outcome::kRefused;
  }
  enum class State { kWaiting, kInPlace, kMissing };
  std::vector<State> states;
  for (const Entry& e : entries) {
    const Identity waiting = Identity_Of(Join_Path(folder, e.temporary));
    if (waiting.regular) {
      if (!Same_File(waiting, e)) {
        out.refused = true;
        out.problem = Refusal(record, "names " + e.temporary + ", which is not the file it was");
        return Outcome::kRefused;
      }
      states.push_back(State::kWaiting);
    } else {
      states.push_back(Same_File(Identity_Of(Join_Path(folder, e.target)), e) ? State::kInPlace
                                                                              : State::kMissing);
    }
  }
  // The renames go in record order: the databases in place come first.
  bool seen_waiting = false;
  bool any_in_place = false;
  bool any_missing = false;
  for (const State s : states) {
    if (s == State::kInPlace && seen_waiting) {
      out.refused = true;
      out.problem = Refusal(record, "describes renames out of order");
      return Outcome::kRefused;
    }
    seen_waiting = seen_waiting || s == State::kWaiting;
    any_in_place = any_in_place || s == State::kInPlace;
    any_missing = any_missing || s == State::kMissing;
  }
  if (any_missing && !any_in_place) {
    // Nothing was renamed yet: every database is as it was.
    for (const Entry& e : entries) ::unlink(Join_Path(folder, e.temporary).c_str());
    const bool removed = ::unlink(record.c_str()) == 0 || errno == ENOENT;
    lock.Sync();
    out.abandoned = true;
    out.problem = Folder_Name(folder) +
                  ": an interrupted import was dropped (one of its new databases is missing); "
                  "the databases before it are kept";
    if (!removed) out.problem += "; " + record + " cannot be removed: " + Errno_Text();
    return Outcome::kDropped;
  }
  // Every new file there is renamed in, also when another went missing:
  // those are complete and as meant.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (states[i] != State::kWaiting) continue;
    const std::string from = Join_Path(folder, entries[i].temporary);
    const std::string to = Join_Path(folder, entries[i].target);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      out.problem = Folder_Name(folder) + ": an interrupted import cannot be completed (" + to +
                    ": " + Errno_Text() + "); " + record + " stays";
      return Outcome::kFailed;
    }
  }
  lock.Sync();
  if (any_missing) {
    std::string names;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (states[i] != State::kMissing) continue;
      out.left_old.push_back(entries[i].target);
      if (out.left_old.size() <= 3) {
        names += (out.left_old.size() > 1 ? ", " : "") + entries[i].target;
      }
    }
    if (out.left_old.size() > 3) {
      names += " and " + std::to_string(out.left_old.size() - 3) + " more";
    }
    out.problem = Folder_Name(folder) + ": an interrupted import left old and new databases " +
                  "side by side: the new files of " + names +
                  " are missing. Import these samples again into this folder; " + record +
                  " stays until then.";
    return Outcome::kMixed;
  }
  out.finished = true;
  if (::unlink(record.c_str()) != 0 && errno != ENOENT) {
    out.problem = record + " cannot be removed: " + Errno_Text();
  }
  lock.Sync();
  return Outcome::kFinished;
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

}  // namespace

Import_Folder_Recovery Recover_Import_Folder(const std::string& folder) {
  Import_Folder_Recovery out;
  struct stat st {};
  if (::lstat(Join_Path(folder, kImportRecordName).c_str(), &st) != 0) return out;
  try {
    const Folder_Lock lock(folder);
    Roll_Forward(folder, lock, out);
  } catch (const std::exception&) {
    // Out of memory: the folder stays as it is.
  }
  return out;
}

void Replace_Databases_Together(const std::string& folder,
                                const std::vector<Import_Rename>& renames, bool* recorded) {
  if (renames.empty()) return;
  std::vector<Entry> entries;
  std::set<std::string> targets;
  for (const Import_Rename& r : renames) {
    const Split_Path_Result temp = Split_Path(r.temp_path);
    if (temp.folder != folder || !Is_Database_Name(r.target_name) ||
        !targets.insert(r.target_name).second) {
      Fail(Join_Path(folder, r.target_name) + ": not a database this import may replace");
    }
    const Identity id = Identity_Of(r.temp_path);
    if (!id.regular) Fail(Join_Path(folder, r.target_name) + ": its new file is missing");
    entries.push_back({temp.name, r.target_name, id.device, id.inode});
  }

  const Folder_Lock lock(folder);
  const std::string record = Join_Path(folder, kImportRecordName);
  {
    Import_Folder_Recovery earlier;
    const Outcome outcome = Roll_Forward(folder, lock, earlier);
    if (outcome == Outcome::kRefused || outcome == Outcome::kFailed) Fail(earlier.problem);
    // A record that left databases old gives way to this one when this one
    // renews each of them.
    for (const std::string& old : earlier.left_old) {
      if (targets.count(old) == 0) Fail(earlier.problem);
    }
  }

  {
    std::string temp = Own_Temporary_Pattern(folder);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) Fail(Folder_Name(folder) + ": cannot write the import's record: " + Errno_Text());
    const int ticket = Remove_On_Stop(temp);
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
    if (ok) Kill_Point(0);
    ok = ok && std::rename(temp.c_str(), record.c_str()) == 0;
    Keep_On_Stop(ticket);
    if (!ok) {
      const std::string reason = Errno_Text();
      ::unlink(temp.c_str());
      Fail(Folder_Name(folder) + ": cannot write the import's record: " + reason);
    }
  }
  if (recorded != nullptr) *recorded = true;
  lock.Sync();

  for (std::size_t i = 0; i < entries.size(); ++i) {
    Kill_Point(1 + i);
    if (i > 0) Pause_Between_Renames();
    const std::string from = Join_Path(folder, entries[i].temporary);
    const std::string to = Join_Path(folder, entries[i].target);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      const std::string reason = Errno_Text();
      if (i == 0 && ::unlink(record.c_str()) == 0) {
        if (recorded != nullptr) *recorded = false;
        lock.Sync();
        Fail(to + ": cannot replace the database: " + reason);
      }
      Fail(to + ": cannot replace the database: " + reason +
           "; the next import into the folder completes the import");
    }
  }
  Kill_Point(1 + entries.size());
  lock.Sync();
  ::unlink(record.c_str());
  lock.Sync();
}

std::string Interrupted_Import(const std::string& folder) {
  struct stat st {};
  const std::string record = Join_Path(folder, kImportRecordName);
  if (::lstat(record.c_str(), &st) != 0) return {};
  return Folder_Name(folder) + ": an import into this folder was interrupted (" + record +
         "): its databases may be old and new side by side, or only part of the samples. " +
         "Run varnel-import --finish -o " + Folder_Name(folder) + " to complete it";
}
