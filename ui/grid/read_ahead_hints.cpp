#include "ui/grid/read_ahead_hints.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

// What one hint asks for: small enough that no range waits long for the
// others, large enough that the calls cost little.
constexpr off_t kStep = off_t{16} << 20;
// What one call asks for: the system reads at most the larger of the
// file's read-ahead size (the device's, doubled for a file read in order)
// and the device's best request size (often 1.25 MiB) at a time, and drops
// the rest of a longer request.
constexpr off_t kCall = off_t{1} << 20;

// Whether the page at `at` is in the page cache already, asked without
// waiting for the disk (false where that cannot be asked). A step whose
// first, middle and last pages are is taken for read: hinting pages the
// cache holds costs the system a lookup for each, about a second for a file
// of 18 GB, which a load from memory would wait for.
bool Cached(int fd, off_t at) {
#ifdef RWF_NOWAIT
  char byte;
  iovec v{&byte, 1};
  return ::preadv2(fd, &v, 1, at, RWF_NOWAIT) == 1;
#else
  (void)fd;
  (void)at;
  return false;
#endif
}

}  // namespace

Read_Ahead_Hints::Read_Ahead_Hints(const std::string& path, std::vector<Range> ranges, off_t ahead)
    : ranges_(std::move(ranges)), ahead_(ahead) {
#ifdef POSIX_FADV_WILLNEED
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
#endif
  if (fd_ < 0 || ranges_.empty()) return;
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead size
#endif
  places_ = std::make_unique<std::atomic<off_t>[]>(ranges_.size());
  for (std::size_t i = 0; i < ranges_.size(); ++i) places_[i] = ranges_[i].begin;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    // No thread: no hints.
  }
}

Read_Ahead_Hints::~Read_Ahead_Hints() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void Read_Ahead_Hints::Reached(std::size_t i, std::size_t done, std::size_t total) {
  if (!places_ || i >= ranges_.size() || total == 0) return;
  const Range& r = ranges_[i];
  const double part = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  places_[i].store(r.begin + static_cast<off_t>(part * static_cast<double>(r.end - r.begin)),
                   std::memory_order_relaxed);
}

void Read_Ahead_Hints::Run() {
  std::vector<off_t> hinted(ranges_.size());
  for (std::size_t i = 0; i < ranges_.size(); ++i) hinted[i] = ranges_[i].begin;
  for (;;) {
    bool asked = false;
    bool left = false;
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
      const off_t end = ranges_[i].end;
      const off_t target = std::min(end, places_[i].load(std::memory_order_relaxed) + ahead_);
      if (hinted[i] < target) {
        const off_t length = std::min(kStep, target - hinted[i]);
        const off_t at = hinted[i];
        if (!Cached(fd_, at) || !Cached(fd_, at + length / 2) || !Cached(fd_, at + length - 1)) {
#ifdef POSIX_FADV_WILLNEED
          for (off_t from = at; from < at + length; from += kCall) {
            ::posix_fadvise(fd_, from, std::min(kCall, at + length - from), POSIX_FADV_WILLNEED);
          }
#endif
        }
        hinted[i] += length;
        asked = true;
      }
      if (hinted[i] < end) left = true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_ || !left) return;
    if (!asked) wake_.wait_for(lock, std::chrono::milliseconds(2), [this] { return stop_; });
  }
}
