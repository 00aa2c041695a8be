#include "storage/replacement_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace

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
  std::string pattern = Own_Temporary_Pattern(folder);
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) ThrowErrno("cannot create a temporary file");
  temp_path_ = pattern;
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
}

void Replacement_File::Release() {
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
