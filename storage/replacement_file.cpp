#include "storage/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  const int error = errno;
  throw CppSQLite3Exception(CPPSQLITE_ERROR, std::string(what) + ": " + std::strerror(error));
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The paths removed on a stop: fixed slots, so that a signal handler reads
// them without taking a lock or allocating.
constexpr int kStopSlots = 128;
constexpr std::size_t kStopPathBytes = 4096;
constexpr const char kJournalSuffix[] = "-journal";
enum Slot_State : int { kFree = 0, kFilling = 1, kFile = 2, kFolder = 3 };
struct Stop_Slot {
  std::atomic<int> state{kFree};
  char path[kStopPathBytes];
};
Stop_Slot g_stop_slots[kStopSlots];

}  // namespace

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

int Remove_On_Stop(const std::string& path, bool folder) {
  if (path.size() + sizeof kJournalSuffix > kStopPathBytes) return -1;
  for (int i = 0; i < kStopSlots; ++i) {
    int expected = kFree;
    if (g_stop_slots[i].state.compare_exchange_strong(expected, kFilling)) {
      std::memcpy(g_stop_slots[i].path, path.c_str(), path.size() + 1);
      g_stop_slots[i].state.store(folder ? kFolder : kFile);
      return i;
    }
  }
  return -1;
}

void Keep_On_Stop(int ticket) {
  if (ticket >= 0 && ticket < kStopSlots) g_stop_slots[ticket].state.store(kFree);
}

void Remove_Files_Held_For_Stop() noexcept {
  char journal[kStopPathBytes];
  for (Stop_Slot& slot : g_stop_slots) {
    if (slot.state.load() != kFile) continue;
    ::unlink(slot.path);
    const std::size_t n = std::strlen(slot.path);
    std::memcpy(journal, slot.path, n);
    std::memcpy(journal + n, kJournalSuffix, sizeof kJournalSuffix);
    ::unlink(journal);
  }
  for (Stop_Slot& slot : g_stop_slots) {
    if (slot.state.load() == kFolder) ::rmdir(slot.path);
  }
}

std::size_t Remove_Dead_Temporaries(const std::string& folder) {
  const std::string where = folder.empty() ? std::string("/") : folder;
  std::size_t removed = 0;
  try {
    struct stat st {};
    if (::lstat(Join_Path(folder, kCommitRecordName).c_str(), &st) == 0) return 0;
    if (::lstat(Join_Path(folder, kImportRecordName).c_str(), &st) == 0) return 0;
    DIR* dir = ::opendir(where.c_str());
    if (dir == nullptr) return 0;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
      long maker = 0;
      std::string_view rest;
      if (!Parse_Temporary_Name(entry->d_name, &maker, &rest)) continue;
      if (!rest.empty() && rest != "-journal" && rest != "-wal" && rest != "-shm") continue;
      // A process with this id runs (or may: it belongs to someone else).
      if (::kill(static_cast<pid_t>(maker), 0) == 0 || errno == EPERM) continue;
      stale.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
      const std::string path = Join_Path(folder, name);
      const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      // A file whose lock is held belongs to a live process (of another
      // machine or another process namespace, say).
      if (::fstat(fd, &st) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        std::error_code error;
        if (S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
        // A temporary folder (an import's study written beside its place).
        if (S_ISDIR(st.st_mode) && std::filesystem::remove_all(path, error) > 0 && !error) {
          ++removed;
        }
      }
      ::close(fd);
    }
  } catch (const std::exception&) {
    // Out of memory while listing: the folder stays as it is.
  }
  return removed;
}

void Remove_Dead_Temporaries_Once(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> tidied;
  const std::lock_guard<std::mutex> lock(mutex);
  if (tidied.insert(folder).second) Remove_Dead_Temporaries(folder);
}

std::string Own_Temporary_Pattern(const std::string& folder) {
  return Join_Path(folder, std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-XXXXXX");
}

Replacement_File::Replacement_File(const std::string& folder, const std::string& name)
    : folder_(folder), target_path_(Join_Path(folder, name)) {
  // A target name the folder cannot hold fails here, before anything is
  // written, as it would under its own name.
  const long name_max = ::pathconf(folder.empty() ? "/" : folder.c_str(), _PC_NAME_MAX);
  if (name_max > 0 && name.size() > static_cast<std::size_t>(name_max)) {
    errno = ENAMETOOLONG;
    ThrowErrno("cannot create a temporary file");
  }
  // What killed programs left where this one writes goes first.
  Remove_Dead_Temporaries_Once(folder);
  std::string pattern = Own_Temporary_Pattern(folder);
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) ThrowErrno("cannot create a temporary file");
  temp_path_ = pattern;
  stop_ticket_ = Remove_On_Stop(temp_path_);
  // The lock tells a later program's tidying that the file is alive; a file
  // system without flock still has the process id in the name.
  ::flock(fd_, LOCK_EX | LOCK_NB);
  lock_fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fchmod(fd_, NewFileMode()) != 0) ThrowErrno("cannot set permissions");
}

Replacement_File::~Replacement_File() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_path_.empty()) std::remove(temp_path_.c_str());
  if (lock_fd_ >= 0) ::close(lock_fd_);
  Keep_On_Stop();
}

void Replacement_File::Release() {
  Keep_On_Stop();
  committed_ = true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

void Replacement_File::Write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot write");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Replacement_File::Write_At(std::string_view data, std::uint64_t offset) {
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("cannot write");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
}

void Replacement_File::Close() {
  if (fd_ >= 0) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ThrowErrno("cannot write");
  }
}

void Replacement_File::Sync() {
  if (fd_ < 0) {
    fd_ = ::open(temp_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) ThrowErrno("cannot reopen the temporary file");
  }
  if (::fsync(fd_) != 0) ThrowErrno("cannot write");
  Close();
  synced_ = true;
}

void Replacement_File::Commit() {
  if (!synced_) Sync();
  if (std::rename(temp_path_.c_str(), target_path_.c_str()) != 0) {
    ThrowErrno("cannot replace the result file");
  }
  Release();
  // Make the rename itself durable; a file system that cannot sync a folder
  // still has the complete file in place.
  const int dir =
      ::open(folder_.empty() ? "/" : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}
