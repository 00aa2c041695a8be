#include "export/output_file.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "storage/cppsqlite3.h"
#include "storage/path.h"

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

void Append_Number(double value, std::string& out) {
  if (!std::isfinite(value)) return;
  if (value == 0.0) value = 0.0;  // no "-0"
  char buf[400];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed).ptr);
}

void Append_Fixed(double value, int decimals, std::string& out) {
  if (!std::isfinite(value)) {
    out += "NA";
    return;
  }
  char buf[400];
  out.append(buf,
             std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr);
}

void Append_Unsigned(std::uint64_t value, std::string& out) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}
