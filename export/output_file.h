// The file an export writes, and how numbers are written into it.
#ifndef VARNEL_EXPORT_OUTPUT_FILE_H_
#define VARNEL_EXPORT_OUTPUT_FILE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "storage/replacement_file.h"

// An output file filled through buffer() in chunks of about 1 MiB, written
// under a temporary name beside path and renamed over path by Commit() only,
// so a failure leaves no partial file and any old file untouched. A scratch
// file (scratch_suffix not empty) is a temporary file beside path that is
// never renamed: Append_To copies it into another file, and it goes away with
// the object. Every failure throws std::runtime_error "<path>: ...".
class Export_File {
 public:
  explicit Export_File(const std::string& path, const std::string& scratch_suffix = "");
  std::string& buffer() { return buffer_; }
  // Writes the buffer out once it holds a chunk.
  void Flush_If_Full();
  void Commit();
  // Copies everything written so far to the end of target.
  void Append_To(Export_File& target);

 private:
  void Flush();

  std::string path_;
  std::optional<Replacement_File> file_;
  std::string buffer_;
};

// Appends the shortest plain decimal (never exponent form) that reads back to
// value, "-0" written as "0"; nothing for NaN and infinity.
void Append_Number(double value, std::string& out);
// Appends value with `decimals` decimals; "NA" for NaN and infinity.
void Append_Fixed(double value, int decimals, std::string& out);
void Append_Unsigned(std::uint64_t value, std::string& out);

#endif  // VARNEL_EXPORT_OUTPUT_FILE_H_
