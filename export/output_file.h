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

// Numbers are written with the precision a result carries: its reals are
// stored from six-decimal text, so a number is written as the shortest plain
// decimal (never exponent form) that reads back to it, rounded to at most six
// decimals. The rounding works on that text, half to even: a binary round-off
// tail goes ("645.5556475000001" gives "645.555648", "257.09431099999995"
// "257.094311"), and a value whose text ends in a 5 at the seventh decimal
// (the median of two values, Median_In_Place) goes to the even sixth decimal
// ("645.5556465" gives "645.555646", "645.5556475" "645.555648").
inline constexpr int kNumberDecimals = 6;
inline constexpr int kMaxDecimalChars = 400;

// Appends value as above, trailing zeros dropped, "-0" written as "0";
// nothing for NaN and infinity.
void Append_Number(double value, std::string& out);
// Appends value rounded the same way to exactly `decimals` decimals (zeros
// kept); "NA" for NaN and infinity. REQUIRES: 0 <= decimals <= 20.
void Append_Fixed(double value, int decimals, std::string& out);
void Append_Unsigned(std::uint64_t value, std::string& out);

#endif  // VARNEL_EXPORT_OUTPUT_FILE_H_
