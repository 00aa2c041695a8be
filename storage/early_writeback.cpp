#include "storage/early_writeback.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Early_Writeback::Early_Writeback(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

Early_Writeback::~Early_Writeback() {
  if (fd_ >= 0) ::close(fd_);
}

void Early_Writeback::Grown() {
  if (fd_ < 0) return;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || st.st_size - started_ < kStep) return;
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(fd_, started_, st.st_size - started_, SYNC_FILE_RANGE_WRITE);
#endif
  started_ = st.st_size;
}
