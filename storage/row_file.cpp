#include "storage/row_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr char kMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'R', 'W'};
constexpr char kTrailerMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'R', 'E'};
// The first, unversioned layout (raw structures of the machine): refused by
// name.
constexpr char kFirstMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'R', '1'};
constexpr std::size_t kPlanIdBytes = 32;
// A block's payload never exceeds this (a row of a gigabyte is refused).
constexpr std::size_t kMaxPayloadBytes = 0x3fffffffu;
constexpr std::size_t kWriteChunk = std::size_t{256} << 10;

void Put32(std::string& out, std::uint32_t v) {
  char b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
  out.append(b, 4);
}

void Put64(std::string& out, std::uint64_t v) {
  char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
  out.append(b, 8);
}

void Put_Double(std::string& out, double d) {
  std::uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  Put64(out, v);
}

std::uint32_t Get32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::uint64_t Get64(const char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

double Get_Double(const char* p) {
  const std::uint64_t v = Get64(p);
  double d;
  std::memcpy(&d, &v, sizeof d);
  return d;
}

// The checksum of a block: its payload, seeded by its first 8 bytes and its
// offset.
std::uint64_t Block_Checksum(const char* head8, std::string_view payload, std::uint64_t offset) {
  const XXH64_hash_t seed = XXH3_64bits_withSeed(head8, 8, offset);
  return XXH3_64bits_withSeed(payload.data(), payload.size(), seed);
}

// Row encoding: the fields in the order the header comment lists them.
template <class Record>
void Encode_Row(std::string& out, const Record& r, const Row_Place& place, std::string_view shape) {
  Put32(out, static_cast<std::uint32_t>(r.Adduct_Annotation.size()));
  Put32(out, static_cast<std::uint32_t>(shape.size()));
  Put32(out, place.input_row);
  Put32(out, place.sample);
  Put32(out, place.align_id);
  Put32(out, r.EIC_ID);
  Put32(out, r.Peak_ID);
  Put32(out, r.Apex_Pos);
  Put32(out, r.Left_Boundary);
  Put32(out, r.Right_Boundary);
  Put32(out, r.Group_ID);
  Put32(out, r.Compound_ID);
  Put_Double(out, r.Apex_MZ);
  Put_Double(out, r.Apex_Retention_Time);
  Put_Double(out, r.Apex_Intensity);
  Put_Double(out, r.Peak_Area);
  Put_Double(out, r.Peak_SNR);
  Put_Double(out, r.Compound_MolecularMass);
  Put_Double(out, r.Compound_Retention_Time);
  Put_Double(out, r.Compound_Intensity);
  Put_Double(out, place.align_rt);
  out += r.Adduct_Annotation;
  out += shape;
}

// Decodes the row at payload[at]; returns false when it does not fit in the
// payload. Leaves `at` after the row.
bool Decode_Row(std::string_view payload, std::size_t& at,
                Chromatogram_Peak_Group_Compound_Align& r, std::uint32_t& input_row,
                std::string_view& shape) {
  if (payload.size() - at < kRowFixedBytes) return false;
  const char* p = payload.data() + at;
  const std::uint32_t adduct_bytes = Get32(p);
  const std::uint32_t shape_bytes = Get32(p + 4);
  if (payload.size() - at - kRowFixedBytes < std::uint64_t{adduct_bytes} + shape_bytes) {
    return false;
  }
  input_row = Get32(p + 8);
  r.SAMPLE_ID = Get32(p + 12);
  r.Align_ID = Get32(p + 16);
  r.EIC_ID = Get32(p + 20);
  r.Peak_ID = Get32(p + 24);
  r.Apex_Pos = Get32(p + 28);
  r.Left_Boundary = Get32(p + 32);
  r.Right_Boundary = Get32(p + 36);
  r.Group_ID = Get32(p + 40);
  r.Compound_ID = Get32(p + 44);
  p += 48;
  r.Apex_MZ = Get_Double(p);
  r.Apex_Retention_Time = Get_Double(p + 8);
  r.Apex_Intensity = Get_Double(p + 16);
  r.Peak_Area = Get_Double(p + 24);
  r.Peak_SNR = Get_Double(p + 32);
  r.Compound_MolecularMass = Get_Double(p + 40);
  r.Compound_Retention_Time = Get_Double(p + 48);
  r.Compound_Intensity = Get_Double(p + 56);
  r.Align_RT = Get_Double(p + 64);
  p += 72;
  r.Adduct_Annotation.assign(p, adduct_bytes);
  shape = std::string_view(p + adduct_bytes, shape_bytes);
  at += kRowFixedBytes + adduct_bytes + shape_bytes;
  return true;
}

std::string Block_Name(std::uint64_t number, std::uint64_t offset) {
  return (number > 0 ? "block " + std::to_string(number) + " at byte " : "block at byte ") +
         std::to_string(offset);
}

// Checks a block whose 16-byte header and payload are read; returns what is
// wrong or "".
std::string Check_Block(const char* head, std::string_view payload, std::uint64_t offset) {
  if (Get64(head + 8) != Block_Checksum(head, payload, offset)) {
    return "checksum mismatch (damaged file)";
  }
  return {};
}

[[noreturn]] void Throw_Errno(const std::string& path, const char* what) {
  const int error = errno;
  throw CppSQLite3Exception(CPPSQLITE_ERROR, path + ": " + what + ": " + std::strerror(error));
}

// Reads bytes at offset into out[0..bytes); false on a short read or a failure.
bool Read_Fully(int fd, char* out, std::size_t bytes, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::pread(fd, out + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void Append_Row_File_Header(std::string& out, Row_File_Kind kind, std::string_view plan_id,
                            std::uint32_t owner) {
  const std::size_t at = out.size();
  out.append(kMagic, sizeof kMagic);
  Put32(out, kRowFileVersion);
  Put32(out, static_cast<std::uint32_t>(kind));
  Put32(out, owner);
  Put32(out, 0);
  std::string id(plan_id.substr(0, kPlanIdBytes));
  id.resize(kPlanIdBytes, '\0');
  out += id;
  Put64(out, XXH3_64bits(out.data() + at, out.size() - at));
}

struct Row_Block_Writer::Hash_State {
  XXH3_state_t* state = XXH3_createState();
  Hash_State() {
    if (state == nullptr || XXH3_128bits_reset(state) == XXH_ERROR) throw std::bad_alloc();
  }
  ~Hash_State() { XXH3_freeState(state); }
};

Row_Block_Writer::Row_Block_Writer(int fd, std::string name, Row_File_Kind kind,
                                   std::string_view plan_id, std::uint32_t owner,
                                   std::size_t block_bytes, std::string write_failure)
    : fd_(fd),
      name_(std::move(name)),
      write_failure_(std::move(write_failure)),
      block_bytes_(block_bytes),
      hash_(std::make_unique<Hash_State>()) {
  Append_Row_File_Header(pending_, kind, plan_id, owner);
}

Row_Block_Writer::~Row_Block_Writer() = default;

template <class Record>
std::uint64_t Row_Block_Writer::Append_Row(const Record& record, const Row_Place& place,
                                           std::string_view shape) {
  if (record.Adduct_Annotation.size() + shape.size() > kMaxPayloadBytes - kRowFixedBytes) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, name_ + ": a row of a gigabyte");
  }
  if (!block_.empty() &&
      block_.size() + kRowFixedBytes + record.Adduct_Annotation.size() + shape.size() >
          kMaxPayloadBytes) {
    Close_Block();
  }
  const std::uint64_t at = written_ + pending_.size();
  Encode_Row(block_, record, place, shape);
  ++block_rows_;
  ++rows_;
  if (block_.size() >= block_bytes_) Close_Block();
  return at;
}

std::uint64_t Row_Block_Writer::Append(const Chromatogram_Peak_Group_Compound& peak,
                                       const Row_Place& place, std::string_view shape) {
  return Append_Row(peak, place, shape);
}

std::uint64_t Row_Block_Writer::Append(const Chromatogram_Peak_Group_Compound_Align& record,
                                       std::uint32_t input_row, std::string_view shape) {
  return Append_Row(record, {record.SAMPLE_ID, input_row, record.Align_ID, record.Align_RT}, shape);
}

void Row_Block_Writer::Close_Block() {
  if (block_rows_ == 0) return;
  const std::uint64_t offset = written_ + pending_.size();
  const std::size_t at = pending_.size();
  Put32(pending_, static_cast<std::uint32_t>(block_.size()));
  Put32(pending_, block_rows_);
  Put64(pending_, Block_Checksum(pending_.data() + at, block_, offset));
  pending_ += block_;
  block_.clear();
  block_rows_ = 0;
  ++blocks_;
  if (pending_.size() >= kWriteChunk) Write_Out();
}

void Row_Block_Writer::Write_Out() {
  XXH3_128bits_update(hash_->state, pending_.data(), pending_.size());
  std::string_view data = pending_;
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw_Errno(name_, write_failure_.c_str());
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  written_ += pending_.size();
  pending_.clear();
}

void Row_Block_Writer::Flush() {
  Close_Block();
  Write_Out();
}

void Row_Block_Writer::Finish() {
  Close_Block();
  const std::size_t at = pending_.size();
  pending_.append(kTrailerMagic, sizeof kTrailerMagic);
  Put64(pending_, rows_);
  Put64(pending_, blocks_);
  Put64(pending_, XXH3_64bits(pending_.data() + at, pending_.size() - at));
  Write_Out();
}

std::string Row_Block_Writer::Digest() const {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(hash_->state));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : canonical.digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

Row_File_Writer::Row_File_Writer(const std::string& folder, const std::string& name,
                                 Row_File_Kind kind, std::string_view plan_id, std::uint32_t owner)
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
  // Blocks of 64 KiB: a split keeps a writer open for every shard, so the
  // open blocks stay small; a block read is still a large read.
  rows_ =
      std::make_unique<Row_Block_Writer>(fd_, temp_, kind, plan_id, owner, std::size_t{64} << 10);
}

Row_File_Writer::~Row_File_Writer() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
  Keep_On_Stop(stop_ticket_);
}

std::string Row_File_Writer::Finish() {
  if (!finished_) {
    rows_->Finish();
    finished_ = true;
  }
  return rows_->Digest();
}

void Row_File_Writer::Commit() {
  Finish();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Throw_Errno(temp_, "cannot write");
  if (::rename(temp_.c_str(), target_.c_str()) != 0) Throw_Errno(target_, "cannot rename");
  committed_ = true;
}

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what);
}

}  // namespace

Row_File_Reader::Row_File_Reader(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0) Fail(path, std::string("cannot read: ") + std::strerror(errno));
  const auto size = static_cast<std::uint64_t>(info.st_size);
  char head[kRowFileHeaderBytes];
  char tail[kRowFileTrailerBytes];
  if (size >= sizeof kMagic && Read_Fully(fd_, head, sizeof kMagic, 0) &&
      std::memcmp(head, kFirstMagic, sizeof kFirstMagic) == 0) {
    Fail(path,
         "a row file of format version 1 (made by an older Varnel); this Varnel reads "
         "version " +
             std::to_string(kRowFileVersion) + ": make it again");
  }
  if (size < sizeof head + sizeof tail) Fail(path, "not a whole row file (too short)");
  if (!Read_Fully(fd_, head, sizeof head, 0) ||
      !Read_Fully(fd_, tail, sizeof tail, size - sizeof tail)) {
    Fail(path, std::string("cannot read: ") + std::strerror(errno));
  }
  if (std::memcmp(head, kMagic, sizeof kMagic) != 0) Fail(path, "not a row file");
  if (Get64(head + 56) != XXH3_64bits(head, 56)) {
    Fail(path, "the header: checksum mismatch (damaged file)");
  }
  const std::uint32_t version = Get32(head + 8);
  if (version != kRowFileVersion) {
    Fail(path, "a row file of format version " + std::to_string(version) +
                   "; this Varnel reads version " + std::to_string(kRowFileVersion));
  }
  if (std::memcmp(tail, kTrailerMagic, sizeof kTrailerMagic) != 0) {
    Fail(path, "not a whole row file (no trailer: written only in part)");
  }
  if (Get64(tail + 24) != XXH3_64bits(tail, 24)) {
    Fail(path, "the trailer: checksum mismatch (damaged file)");
  }
  header_.kind = static_cast<Row_File_Kind>(Get32(head + 12));
  header_.owner = Get32(head + 16);
  header_.plan_id.assign(head + 24, strnlen(head + 24, kPlanIdBytes));
  header_.rows = Get64(tail + 8);
  header_blocks_ = Get64(tail + 16);  // checked when the blocks run out
  end_ = size - sizeof tail;
  next_at_ = sizeof head;
}

Row_File_Reader::~Row_File_Reader() {
  if (fd_ >= 0) ::close(fd_);
}

bool Row_File_Reader::Next_Block() {
  if (next_at_ == end_) return false;
  const std::string where = path_ + ": " + Block_Name(blocks_read_ + 1, next_at_);
  char head[kRowBlockHeaderBytes];
  if (end_ - next_at_ < sizeof head) throw std::runtime_error(where + ": cut short (damaged file)");
  if (!Read_Fully(fd_, head, sizeof head, next_at_)) {
    throw std::runtime_error(where + ": cannot read: " + std::strerror(errno));
  }
  const std::uint32_t bytes = Get32(head);
  const std::uint32_t rows = Get32(head + 4);
  if (bytes > end_ - next_at_ - sizeof head) {
    throw std::runtime_error(where + ": runs past the end of the rows (damaged file)");
  }
  payload_.resize(bytes);
  if (!Read_Fully(fd_, payload_.data(), bytes, next_at_ + sizeof head)) {
    throw std::runtime_error(where + ": cannot read: " + std::strerror(errno));
  }
  const std::string problem = Check_Block(head, payload_, next_at_);
  if (!problem.empty()) throw std::runtime_error(where + ": " + problem);
  if (rows == 0) throw std::runtime_error(where + ": holds no rows (damaged file)");
  block_at_ = next_at_;
  next_at_ += sizeof head + bytes;
  ++blocks_read_;
  block_ = blocks_read_;
  used_ = 0;
  block_rows_left_ = rows;
  return true;
}

bool Row_File_Reader::Next(Stored_Row& row, bool with_shape) {
  if (block_rows_left_ == 0) {
    if (block_ > 0 && used_ != payload_.size()) {
      Fail(path_, Block_Name(block_, block_at_) + ": more bytes than its rows (damaged file)");
    }
    if (!Next_Block()) {
      if (rows_read_ != header_.rows || blocks_read_ != header_blocks_) {
        Fail(path_, "the trailer says " + std::to_string(header_.rows) + " rows in " +
                        std::to_string(header_blocks_) + " blocks, the file holds " +
                        std::to_string(rows_read_) + " in " + std::to_string(blocks_read_) +
                        " (damaged file)");
      }
      return false;
    }
  }
  std::string_view shape;
  if (!Decode_Row(payload_, used_, row.record, row.input_row, shape)) {
    Fail(path_, Block_Name(block_, block_at_) + ": a row runs past its block (damaged file)");
  }
  if (with_shape) {
    row.shape.assign(shape);
  } else {
    row.shape.clear();
  }
  --block_rows_left_;
  ++rows_read_;
  return true;
}

std::string_view Read_Row_Block(int fd, const std::string& name, const std::string& read_failure,
                                std::uint64_t offset, std::uint64_t bytes, bool with_shape,
                                std::string& buffer, Chromatogram_Peak_Group_Compound_Align& record,
                                std::uint32_t& input_row) {
  auto fail = [&](const std::string& what) {
    throw CppSQLite3Exception(
        CPPSQLITE_ERROR, name + ": " + read_failure + ": " + Block_Name(0, offset) + ": " + what);
  };
  if (bytes < kRowBlockHeaderBytes || bytes > kMaxPayloadBytes + kRowBlockHeaderBytes) {
    fail("not a block");
  }
  buffer.resize(static_cast<std::size_t>(bytes));
  if (!Read_Fully(fd, buffer.data(), buffer.size(), offset)) {
    const int error = errno;
    throw CppSQLite3Exception(CPPSQLITE_ERROR,
                              name + ": " + read_failure + ": " + std::strerror(error));
  }
  const std::string_view payload = std::string_view(buffer).substr(kRowBlockHeaderBytes);
  if (Get32(buffer.data()) != payload.size() || Get32(buffer.data() + 4) != 1) {
    fail("not the block of one row (damaged file)");
  }
  const std::string problem = Check_Block(buffer.data(), payload, offset);
  if (!problem.empty()) fail(problem);
  std::size_t at = 0;
  std::string_view shape;
  if (!Decode_Row(payload, at, record, input_row, shape) || at != payload.size()) {
    fail("a row that does not fill its block (damaged file)");
  }
  return with_shape ? shape : std::string_view();
}
