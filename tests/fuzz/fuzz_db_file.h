// Shared by the fuzz targets that read database files: each input is written
// to one file in a private folder, with every SQLite side file of the previous
// input removed, so inputs never see each other's journals.
#ifndef VARNEL_TESTS_FUZZ_FUZZ_DB_FILE_H_
#define VARNEL_TESTS_FUZZ_FUZZ_DB_FILE_H_

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "storage/path.h"

namespace fuzz {

// SQLite's heap ceiling while fuzzing: a corrupt database that makes SQLite
// ask for more gets SQLITE_NOMEM (an exception), not an out-of-memory kill.
inline constexpr sqlite3_int64 kSqliteHeapLimit = 256LL << 20;

class Db_File {
 public:
  explicit Db_File(const char* name) : name_(name) {
    std::string pattern = "/tmp/varnel-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    sqlite3_hard_heap_limit64(kSqliteHeapLimit);
  }
  ~Db_File() {
    Remove_All();
    rmdir(folder_.c_str());
  }

  const std::string& folder() const { return folder_; }
  const std::string& name() const { return name_; }

  // Replaces the file with the bytes (and drops its journals).
  void Write(const std::uint8_t* data, std::size_t size) {
    Remove_All();
    const std::string path = Join_Path(folder_, name_);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }

 private:
  void Remove_All() {
    const std::string path = Join_Path(folder_, name_);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      std::remove((path + suffix).c_str());
    }
  }

  std::string name_;
  std::string folder_;
};

}  // namespace fuzz

#endif  // VARNEL_TESTS_FUZZ_FUZZ_DB_FILE_H_
