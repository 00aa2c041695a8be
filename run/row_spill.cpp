#include "run/row_spill.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

// A row's fixed part; the annotation and then the shape follow it.
struct Fixed_Part {
  std::uint32_t adduct_bytes;
  std::uint32_t EIC_ID, Peak_ID, Apex_Pos, Left_Boundary, Right_Boundary, Group_ID, Compound_ID;
  double Apex_MZ, Apex_Retention_Time, Apex_Intensity, Peak_Area, Peak_SNR;
  double Compound_MolecularMass, Compound_Retention_Time, Compound_Intensity;
};

// The longest annotation a row may hold.
constexpr std::size_t kMaxAnnotationBytes = 0x3fffffffu;

constexpr std::size_t kWriteChunk = std::size_t{4} << 20;
// What a reader reads at once when it needs no shape: the fixed part and an
// annotation of usual length.
constexpr std::size_t kHeadBytes = sizeof(Fixed_Part) + 64;

[[noreturn]] void Throw_Errno(const std::string& what) {
  const int error = errno;
  throw CppSQLite3Exception(CPPSQLITE_ERROR, what + ": " + std::strerror(error));
}

}  // namespace

Row_Spill::Row_Spill(const std::string& folder) : folder_(folder) {
  const std::string where = folder.empty() ? std::string("/") : folder;
#ifdef O_TMPFILE
  fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    // No unnamed files here: a named one, unlinked at once.
    std::string pattern = Own_Temporary_Pattern(folder);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) Throw_Errno(where + ": cannot create a temporary file");
    ::unlink(pattern.c_str());
  }
}

Row_Spill::~Row_Spill() {
  if (fd_ >= 0) ::close(fd_);
}

void Row_Spill::Append(const Annotated_Batch& batch) {
  std::uint64_t end = Bytes();
  for (std::size_t i = 0; i < batch.peaks.size(); ++i) {
    const Chromatogram_Peak_Group_Compound& p = batch.peaks[i];
    const std::string_view shape = batch.Shape(i);
    if (p.Adduct_Annotation.size() > kMaxAnnotationBytes) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, "an annotation of a gigabyte");
    }
    Fixed_Part fixed{static_cast<std::uint32_t>(p.Adduct_Annotation.size()),
                     p.EIC_ID,
                     p.Peak_ID,
                     p.Apex_Pos,
                     p.Left_Boundary,
                     p.Right_Boundary,
                     p.Group_ID,
                     p.Compound_ID,
                     p.Apex_MZ,
                     p.Apex_Retention_Time,
                     p.Apex_Intensity,
                     p.Peak_Area,
                     p.Peak_SNR,
                     p.Compound_MolecularMass,
                     p.Compound_Retention_Time,
                     p.Compound_Intensity};
    const std::size_t at = pending_.size();
    pending_.append(reinterpret_cast<const char*>(&fixed), sizeof fixed);
    pending_ += p.Adduct_Annotation;
    pending_ += shape;
    end += pending_.size() - at;
    ends_.push_back(end);
    if (pending_.size() >= kWriteChunk) Write_Out();
  }
}

void Row_Spill::Flush() { Write_Out(); }

void Row_Spill::Write_Out() {
  std::string_view data = pending_;
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw_Errno(folder_ + ": cannot write the run's temporary file");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  pending_.clear();
}

std::string_view Row_Spill::Reader::Read(std::size_t row, bool with_shape,
                                         Chromatogram_Peak_Group_Compound_Align& record) {
  const std::uint64_t begin = row == 0 ? 0 : spill_.ends_[row - 1];
  const std::size_t length = static_cast<std::size_t>(spill_.ends_[row] - begin);
  auto read = [&](std::size_t bytes) {
    buffer_.resize(bytes);
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pread(spill_.fd_, buffer_.data() + done, bytes - done,
                                static_cast<off_t>(begin + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Throw_Errno(spill_.folder_ + ": cannot read the run's temporary file");
      done += static_cast<std::size_t>(n);
    }
  };
  read(with_shape ? length : std::min(length, kHeadBytes));
  Fixed_Part fixed;
  std::memcpy(&fixed, buffer_.data(), sizeof fixed);
  const std::size_t head = sizeof fixed + fixed.adduct_bytes;
  if (buffer_.size() < head) read(head);
  record.EIC_ID = fixed.EIC_ID;
  record.Peak_ID = fixed.Peak_ID;
  record.Apex_MZ = fixed.Apex_MZ;
  record.Apex_Pos = fixed.Apex_Pos;
  record.Apex_Retention_Time = fixed.Apex_Retention_Time;
  record.Apex_Intensity = fixed.Apex_Intensity;
  record.Peak_Area = fixed.Peak_Area;
  record.Peak_SNR = fixed.Peak_SNR;
  record.Left_Boundary = fixed.Left_Boundary;
  record.Right_Boundary = fixed.Right_Boundary;
  record.Group_ID = fixed.Group_ID;
  record.Adduct_Annotation.assign(buffer_.data() + sizeof fixed, fixed.adduct_bytes);
  record.Compound_ID = fixed.Compound_ID;
  record.Compound_MolecularMass = fixed.Compound_MolecularMass;
  record.Compound_Retention_Time = fixed.Compound_Retention_Time;
  record.Compound_Intensity = fixed.Compound_Intensity;
  if (!with_shape) return {};
  return std::string_view(buffer_).substr(head, length - head);
}
