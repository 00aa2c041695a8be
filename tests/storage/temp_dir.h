// A fresh folder per test, removed with its contents afterwards.
#ifndef VARNEL_TESTS_STORAGE_TEMP_DIR_H_
#define VARNEL_TESTS_STORAGE_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "varnel-storage-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // VARNEL_TESTS_STORAGE_TEMP_DIR_H_
