#include "storage/output_folder.h"

#include <filesystem>
#include <system_error>
#include <utility>

Output_Folder::Output_Folder(std::string folder, const char* what) : folder_(std::move(folder)) {
  std::error_code error;
  try {
    made_ = std::filesystem::create_directories(folder_, error);
    if (!error && !std::filesystem::is_directory(folder_, error)) {
      error_ = folder_ + ": cannot create the " + what + ": not a folder";
    }
  } catch (const std::exception& e) {  // out of memory
    error_ = folder_ + ": cannot create the " + what + ": " + e.what();
  }
  if (error && error_.empty()) {
    error_ = folder_ + ": cannot create the " + what + ": " + error.message();
  }
}

void Output_Folder::Discard_If_Empty() const {
  std::error_code ignored;
  if (made_ && std::filesystem::is_empty(folder_, ignored) && !ignored) {
    std::filesystem::remove(folder_, ignored);
  }
}
