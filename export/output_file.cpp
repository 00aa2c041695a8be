#include "export/output_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

[[noreturn]] void Fail(const std::string& path, const CppSQLite3Exception& e) {
  throw std::runtime_error(path + ": " + std::string(e.errorDetail()));
}

}  // namespace

Export_File::Export_File(const std::string& path, const std::string& scratch_suffix) : path_(path) {
  const Split_Path_Result where = Split_Path(path);
  try {
    file_.emplace(where.folder, where.name + scratch_suffix);
  } catch (const CppSQLite3Exception& e) {
    Fail(path_, e);
  }
  buffer_.reserve(kWriteChunk + 65536);
}

void Export_File::Flush_If_Full() {
  if (buffer_.size() >= kWriteChunk) Flush();
}

void Export_File::Commit() {
  Flush();
  try {
    file_->Commit();
  } catch (const CppSQLite3Exception& e) {
    Fail(path_, e);
  }
}

void Export_File::Append_To(Export_File& target) {
  Flush();
  std::ifstream in(file_->temp_path(), std::ios::binary);
  std::string& b = target.buffer();
  while (in) {
    const std::size_t old = b.size();
    b.resize(old + kWriteChunk);
    in.read(b.data() + old, static_cast<std::streamsize>(kWriteChunk));
    b.resize(old + static_cast<std::size_t>(in.gcount()));
    target.Flush_If_Full();
  }
  if (in.bad()) throw std::runtime_error(path_ + ": cannot read back a temporary file");
}

void Export_File::Flush() {
  try {
    file_->Write(buffer_);
  } catch (const CppSQLite3Exception& e) {
    Fail(path_, e);
  }
  buffer_.clear();
}

namespace {

// Writes value as its shortest plain decimal text that reads back, rounded
// (as text, half to even) to at most `decimals` decimals; with pad, zeros
// fill up to exactly `decimals`, without, trailing zeros and a bare point go.
// "-0" and the like lose their sign. Returns the end. REQUIRES: value finite.
char* Write_Decimal(double value, int decimals, bool pad, char* buf, char* buf_end) {
  char* end = std::to_chars(buf, buf_end, value, std::chars_format::fixed).ptr;
  char* const digits = buf + (buf[0] == '-' ? 1 : 0);
  char* point = std::find(digits, end, '.');
  if (point != end && end - point - 1 > decimals) {
    char* const cut = point + 1 + decimals;
    const char before = decimals > 0 ? cut[-1] : point[-1];
    const bool up =
        *cut > '5' ||
        (*cut == '5' && (std::find_if(cut + 1, end, [](char c) { return c != '0'; }) != end ||
                         (before - '0') % 2 == 1));
    end = decimals > 0 ? cut : point;
    if (up) {
      char* d = end;
      bool carry = true;
      while (carry && d != digits) {
        --d;
        if (*d == '.') continue;
        if (*d == '9') {
          *d = '0';
        } else {
          ++*d;
          carry = false;
        }
      }
      if (carry) {  // 9.99 -> 10.00: one more digit in front
        std::copy_backward(digits, end, end + 1);
        *digits = '1';
        ++end;
        ++point;
      }
    }
    if (decimals == 0) point = end;
  }
  if (pad) {
    if (decimals > 0 && point == end) *end++ = '.';
    const int have = point == end ? 0 : static_cast<int>(end - point - 1);
    end = std::fill_n(end, std::max(0, decimals - have), '0');
  } else if (point != end) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  if (digits != buf && std::all_of(digits, end, [](char c) { return c == '0' || c == '.'; })) {
    std::copy(digits, end, buf);
    --end;
  }
  return end;
}

}  // namespace

void Append_Number(double value, std::string& out) {
  if (!std::isfinite(value)) return;
  char buf[kMaxDecimalChars];
  out.append(buf, Write_Decimal(value, kNumberDecimals, false, buf, buf + sizeof buf));
}

void Append_Fixed(double value, int decimals, std::string& out) {
  if (!std::isfinite(value)) {
    out += "NA";
    return;
  }
  char buf[kMaxDecimalChars];
  out.append(buf, Write_Decimal(value, decimals, true, buf, buf + sizeof buf));
}

void Append_Unsigned(std::uint64_t value, std::string& out) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}
