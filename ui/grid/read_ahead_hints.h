// Disk reads started ahead of readers that go through parts of a file front
// to back.
#ifndef VARNEL_UI_GRID_READ_AHEAD_HINTS_H_
#define VARNEL_UI_GRID_READ_AHEAD_HINTS_H_

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// While it lives, a thread of its own asks the system to read each range of
// the file into its page cache (posix_fadvise WILLNEED) ahead of the reader of
// that range, at most `ahead` bytes past the reader's place. A reader that
// faults its pages in itself waits for the disk a little at a time; with the
// hints the disk works on all ranges at once, with many requests under way.
// The page cache holds at most about `ahead` bytes per range that no reader
// has reached, so a file larger than the memory does not push out what the
// readers still need. Only a hint: it never fails, never changes the file,
// and does nothing when the file cannot be opened.
class Read_Ahead_Hints {
 public:
  struct Range {
    off_t begin, end;
  };
  Read_Ahead_Hints(const std::string& path, std::vector<Range> ranges, off_t ahead);
  Read_Ahead_Hints(const Read_Ahead_Hints&) = delete;
  Read_Ahead_Hints& operator=(const Read_Ahead_Hints&) = delete;
  ~Read_Ahead_Hints();  // stops the thread and waits for it

  // The reader of range i has read `done` of its `total` units (rows, say),
  // spread evenly over the range. Cheap; call it now and then.
  void Reached(std::size_t i, std::size_t done, std::size_t total);

 private:
  void Run();

  int fd_ = -1;
  std::vector<Range> ranges_;
  off_t ahead_;
  std::unique_ptr<std::atomic<off_t>[]> places_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

#endif  // VARNEL_UI_GRID_READ_AHEAD_HINTS_H_
