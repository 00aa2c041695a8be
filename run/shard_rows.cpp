#include "run/shard_rows.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr char kMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'R', '1'};
constexpr char kTrailerMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'R', 'E'};
constexpr std::size_t kPlanIdBytes = 32;

struct File_Head {
  char magic[8];
  std::uint32_t owner;
  std::uint32_t reserved;
  char plan_id[kPlanIdBytes];
};

struct File_Tail {
  char magic[8];
  std::uint64_t rows;
};

// A row's fixed part; the annotation and the shape follow it.
struct Row_Head {
  std::uint32_t adduct_bytes, shape_bytes;
  std::uint32_t input_row, SAMPLE_ID, Align_ID;
  std::uint32_t EIC_ID, Peak_ID, Apex_Pos, Left_Boundary, Right_Boundary, Group_ID, Compound_ID;
  double Apex_MZ, Apex_Retention_Time, Apex_Intensity, Peak_Area, Peak_SNR;
  double Compound_MolecularMass, Compound_Retention_Time, Compound_Intensity, Align_RT;
};

// A split keeps a writer open for every shard, a merge a reader of every
// shard in each of its writers: a quarter of a megabyte each keeps a job's
// memory small with many shards, and is still a large read or write.
constexpr std::size_t kWriteChunk = std::size_t{256} << 10;
constexpr std::size_t kReadChunk = std::size_t{256} << 10;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what);
}

}  // namespace

[[noreturn]] static void Throw_Errno(const std::string& path, const char* what) {
  const int error = errno;
  throw CppSQLite3Exception(CPPSQLITE_ERROR, path + ": " + what + ": " + std::strerror(error));
}

Row_File_Writer::Row_File_Writer(const std::string& folder, const std::string& name,
                                 std::string_view plan_id, std::uint32_t owner)
    : target_(Join_Path(folder, name)) {
  // A temporary name of this process, locked while it lives, so that a
  // later step removes what a killed one left (storage/replacement_file.h).
  Remove_Dead_Temporaries_Once(folder);
  std::string pattern = Own_Temporary_Pattern(folder);
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) Throw_Errno(target_, "cannot create a temporary file");
  temp_ = pattern;
  ::flock(fd_, LOCK_EX | LOCK_NB);
  stop_ticket_ = Remove_On_Stop(temp_);
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, static_cast<mode_t>(0666 & ~mask)) != 0) {
    Throw_Errno(temp_, "cannot set permissions");
  }
  File_Head head{};
  std::memcpy(head.magic, kMagic, sizeof kMagic);
  head.owner = owner;
  std::memcpy(head.plan_id, plan_id.data(), std::min(plan_id.size(), kPlanIdBytes));
  pending_.append(reinterpret_cast<const char*>(&head), sizeof head);
}

Row_File_Writer::~Row_File_Writer() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
  Keep_On_Stop(stop_ticket_);
}

void Row_File_Writer::Append(const Chromatogram_Peak_Group_Compound_Align& r,
                             std::uint32_t input_row, std::string_view shape) {
  const Row_Head head{static_cast<std::uint32_t>(r.Adduct_Annotation.size()),
                      static_cast<std::uint32_t>(shape.size()),
                      input_row,
                      r.SAMPLE_ID,
                      r.Align_ID,
                      r.EIC_ID,
                      r.Peak_ID,
                      r.Apex_Pos,
                      r.Left_Boundary,
                      r.Right_Boundary,
                      r.Group_ID,
                      r.Compound_ID,
                      r.Apex_MZ,
                      r.Apex_Retention_Time,
                      r.Apex_Intensity,
                      r.Peak_Area,
                      r.Peak_SNR,
                      r.Compound_MolecularMass,
                      r.Compound_Retention_Time,
                      r.Compound_Intensity,
                      r.Align_RT};
  pending_.append(reinterpret_cast<const char*>(&head), sizeof head);
  pending_ += r.Adduct_Annotation;
  pending_ += shape;
  ++rows_;
  if (pending_.size() >= kWriteChunk) Write_Out();
}

void Row_File_Writer::Write_Out() {
  std::string_view data = pending_;
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw_Errno(temp_, "cannot write");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  pending_.clear();
}

void Row_File_Writer::Commit() {
  File_Tail tail{};
  std::memcpy(tail.magic, kTrailerMagic, sizeof kTrailerMagic);
  tail.rows = rows_;
  pending_.append(reinterpret_cast<const char*>(&tail), sizeof tail);
  Write_Out();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Throw_Errno(temp_, "cannot write");
  if (::rename(temp_.c_str(), target_.c_str()) != 0) Throw_Errno(target_, "cannot rename");
  committed_ = true;
}

Row_File_Reader::Row_File_Reader(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0) Fail(path, std::string("cannot read: ") + std::strerror(errno));
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size < sizeof(File_Head) + sizeof(File_Tail)) Fail(path, "not a whole row file (too short)");
  File_Head head{};
  File_Tail tail{};
  if (::pread(fd_, &head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) ||
      ::pread(fd_, &tail, sizeof tail, static_cast<off_t>(size - sizeof tail)) !=
          static_cast<ssize_t>(sizeof tail)) {
    Fail(path, "cannot read");
  }
  if (std::memcmp(head.magic, kMagic, sizeof kMagic) != 0) Fail(path, "not a row file");
  if (std::memcmp(tail.magic, kTrailerMagic, sizeof kTrailerMagic) != 0) {
    Fail(path, "not a whole row file (no trailer: written only in part)");
  }
  header_.plan_id.assign(head.plan_id, strnlen(head.plan_id, kPlanIdBytes));
  header_.owner = head.owner;
  header_.rows = tail.rows;
  end_ = size - sizeof tail;
  position_ = sizeof head;
}

Row_File_Reader::~Row_File_Reader() {
  if (fd_ >= 0) ::close(fd_);
}

// Makes `bytes` bytes available from buffer_[used_], reading on from the file.
void Row_File_Reader::Fill(std::size_t bytes) {
  if (buffer_.size() - used_ >= bytes) return;
  buffer_.erase(0, used_);
  position_ += used_;
  used_ = 0;
  const std::uint64_t file_at = position_ + buffer_.size();
  const std::uint64_t left = end_ - file_at;
  const std::size_t want = bytes - buffer_.size();
  if (want > left) Fail(path_, "a row runs past the end of the rows (damaged file)");
  const std::size_t take = static_cast<std::size_t>(
      std::min<std::uint64_t>(left, std::max<std::uint64_t>(want, kReadChunk)));
  const std::size_t old = buffer_.size();
  buffer_.resize(old + take);
  std::size_t done = 0;
  while (done < take) {
    const ssize_t n =
        ::pread(fd_, buffer_.data() + old + done, take - done, static_cast<off_t>(file_at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(path_, std::string("cannot read: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

namespace {

void Fill_Row(const Row_Head& head, const char* text, bool with_shape, Shard_Row& row) {
  Chromatogram_Peak_Group_Compound_Align& r = row.record;
  r.EIC_ID = head.EIC_ID;
  r.Peak_ID = head.Peak_ID;
  r.Apex_MZ = head.Apex_MZ;
  r.Apex_Pos = head.Apex_Pos;
  r.Apex_Retention_Time = head.Apex_Retention_Time;
  r.Apex_Intensity = head.Apex_Intensity;
  r.Peak_Area = head.Peak_Area;
  r.Peak_SNR = head.Peak_SNR;
  r.Left_Boundary = head.Left_Boundary;
  r.Right_Boundary = head.Right_Boundary;
  r.Group_ID = head.Group_ID;
  r.Adduct_Annotation.assign(text, head.adduct_bytes);
  r.Compound_ID = head.Compound_ID;
  r.Compound_MolecularMass = head.Compound_MolecularMass;
  r.Compound_Retention_Time = head.Compound_Retention_Time;
  r.Compound_Intensity = head.Compound_Intensity;
  r.SAMPLE_ID = head.SAMPLE_ID;
  r.Align_ID = head.Align_ID;
  r.Align_RT = head.Align_RT;
  row.input_row = head.input_row;
  if (with_shape) {
    row.shape.assign(text + head.adduct_bytes, head.shape_bytes);
  } else {
    row.shape.clear();
  }
}

}  // namespace

bool Row_File_Reader::Next(Shard_Row& row, bool with_shape, std::uint64_t* offset) {
  if (rows_read_ == header_.rows) {
    if (position_ + used_ != end_) Fail(path_, "more rows than its trailer says (damaged file)");
    return false;
  }
  if (position_ + used_ >= end_) Fail(path_, "fewer rows than its trailer says (damaged file)");
  Fill(sizeof(Row_Head));
  Row_Head head;
  std::memcpy(&head, buffer_.data() + used_, sizeof head);
  const std::size_t length = sizeof head + head.adduct_bytes + std::size_t{head.shape_bytes};
  Fill(length);
  if (offset != nullptr) *offset = position_ + used_;
  Fill_Row(head, buffer_.data() + used_ + sizeof head, with_shape, row);
  used_ += length;
  ++rows_read_;
  return true;
}

void Row_File_Reader::Read_At(std::uint64_t offset, Shard_Row& row, bool with_shape) {
  auto read = [&](std::uint64_t at, std::size_t bytes) {
    if (at + bytes > end_) Fail(path_, "a row runs past the end of the rows (damaged file)");
    scratch_.resize(bytes);
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t n =
          ::pread(fd_, scratch_.data() + done, bytes - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(path_, std::string("cannot read: ") + std::strerror(errno));
      done += static_cast<std::size_t>(n);
    }
  };
  // The head and a usual annotation at once; a long one, or the shape, after.
  constexpr std::size_t kUsual = sizeof(Row_Head) + 64;
  read(offset, std::min<std::uint64_t>(kUsual, end_ - offset));
  if (scratch_.size() < sizeof(Row_Head)) Fail(path_, "damaged file");
  Row_Head head;
  std::memcpy(&head, scratch_.data(), sizeof head);
  const std::size_t need = sizeof head + head.adduct_bytes + (with_shape ? head.shape_bytes : 0);
  if (scratch_.size() < need) read(offset, need);
  Fill_Row(head, scratch_.data() + sizeof head, with_shape, row);
}
