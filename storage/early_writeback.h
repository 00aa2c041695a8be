// Disk writes of a file started while it is still being written.
#ifndef VARNEL_STORAGE_EARLY_WRITEBACK_H_
#define VARNEL_STORAGE_EARLY_WRITEBACK_H_

#include <sys/types.h>

#include <string>

// Asks the system to start writing a growing file to disk in steps of
// kStep bytes as it grows, so that the writes overlap the rest of the work
// and the final sync finds little left to do; it also keeps the dirty pages
// of a large result from crowding out what the run still reads. Only a hint:
// it never fails and never changes the file; without a way to give it (the
// file cannot be opened), it does nothing.
class Early_Writeback {
 public:
  static constexpr off_t kStep = off_t{64} << 20;

  explicit Early_Writeback(const std::string& path);
  Early_Writeback(const Early_Writeback&) = delete;
  Early_Writeback& operator=(const Early_Writeback&) = delete;
  ~Early_Writeback();

  // Call now and then while the file grows (cheap between steps).
  void Grown();

 private:
  int fd_ = -1;
  off_t started_ = 0;  // writes are under way up to here
};

#endif  // VARNEL_STORAGE_EARLY_WRITEBACK_H_
