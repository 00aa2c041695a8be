// The read-ahead hints reach the page cache for each range ahead of its
// reader, no further, and never fail.
#include "ui/grid/read_ahead_hints.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace {

constexpr off_t kMiB = off_t{1} << 20;

// Pages of [begin, end) of the file that the page cache holds.
double Resident(const std::string& path, off_t begin, off_t end) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  struct stat st {};
  ::fstat(fd, &st);
  void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  const long page = ::sysconf(_SC_PAGESIZE);
  std::vector<unsigned char> in(static_cast<std::size_t>((st.st_size + page - 1) / page));
  ::mincore(map, static_cast<std::size_t>(st.st_size), in.data());
  ::munmap(map, static_cast<std::size_t>(st.st_size));
  ::close(fd);
  std::size_t held = 0;
  for (off_t p = begin / page; p < end / page; ++p) held += in[static_cast<std::size_t>(p)] & 1;
  return static_cast<double>(held) / static_cast<double>((end - begin) / page);
}

bool Becomes_Resident(const std::string& path, off_t begin, off_t end) {
  for (int i = 0; i < 1000; ++i) {  // ten seconds at most
    if (Resident(path, begin, end) == 1.0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(ReadAheadHintsTest, EachRangeIsReadAheadOfItsReaderAndNoFurther) {
  Temp_Folder dir;
  const std::string path = dir.path() + "/data";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string block(static_cast<std::size_t>(kMiB), 'x');
    for (int i = 0; i < 48; ++i) ASSERT_EQ(::write(fd, block.data(), block.size()), kMiB);
    ::fsync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  if (Resident(path, 0, 48 * kMiB) > 0.1) GTEST_SKIP() << "the page cache keeps this file";

  Read_Ahead_Hints hints(path, {{0, 16 * kMiB}, {16 * kMiB, 48 * kMiB}}, 8 * kMiB);
  EXPECT_TRUE(Becomes_Resident(path, 0, 8 * kMiB));
  EXPECT_TRUE(Becomes_Resident(path, 16 * kMiB, 24 * kMiB));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Resident(path, 32 * kMiB, 48 * kMiB), 0.0);  // beyond `ahead` of its reader

  hints.Reached(1, 3, 3);  // the second reader at its end: the rest of its range
  EXPECT_TRUE(Becomes_Resident(path, 24 * kMiB, 48 * kMiB));
}

TEST(ReadAheadHintsTest, NothingThereOrNothingToDoNeverFailsNorWaits) {
  Temp_Folder dir;
  { Read_Ahead_Hints none(dir.path() + "/missing", {{0, 1 << 20}}, 1 << 20); }
  { Read_Ahead_Hints folder(dir.path(), {{0, 1 << 20}}, 1 << 20); }
  const std::string path = dir.path() + "/small";
  ::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0600));
  {
    // Ranges past the end of an empty file, readers that never move, odd
    // reports: the destructor still returns at once.
    Read_Ahead_Hints hints(path, {{0, 64 * kMiB}, {64 * kMiB, 1 << 30}}, 1 << 20);
    hints.Reached(5, 1, 2);
    hints.Reached(0, 1, 0);
  }
  { Read_Ahead_Hints empty(path, {}, 1 << 20); }
}

}  // namespace
