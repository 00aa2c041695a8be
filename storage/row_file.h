// The one format of Varnel's row files: a run's spill (run/row_spill.h), a
// split's parts and a shard's rows (cohort/). Every field of a peak exactly as
// read (doubles bit for bit, the shape in the form the result stores), with
// its place in the study (SAMPLE_ID, its row in that input) and, once aligned,
// its Align_ID and Align_RT. Written and read here only; docs/cohort.md
// describes the layout.
//
// All numbers are little-endian whatever the machine. A file is a header, a
// run of blocks and a trailer:
//
//   header   64 bytes: "VARNELRW", version (u32), kind (u32), owner (u32),
//            0 (u32), plan id (32 bytes, zero-padded), XXH3-64 of the 56
//            bytes before it (u64)
//   block    payload bytes (u32), rows (u32), checksum (u64), payload: whole
//            rows one after the other. The checksum is the XXH3-64 of the
//            payload seeded with the XXH3-64 of the block's first 8 bytes
//            seeded with the block's offset in the file, so a block changed,
//            cut, or moved elsewhere in the file fails it.
//   trailer  32 bytes: "VARNELRE", rows (u64), blocks (u64), XXH3-64 of the
//            24 bytes before it (u64)
//
// A row is 12 u32 (annotation bytes, shape bytes, input row, SAMPLE_ID,
// Align_ID, EIC_ID, Peak_ID, Apex_Pos, Left_Boundary, Right_Boundary,
// Group_ID, Compound_ID), 9 doubles (Apex_MZ, Apex_Retention_Time,
// Apex_Intensity, Peak_Area, Peak_SNR, Compound_MolecularMass,
// Compound_Retention_Time, Compound_Intensity, Align_RT), then the annotation
// and the shape's stored form.
//
// A reader refuses another version, a bad checksum or a block that does not
// frame its rows exactly, naming the file and the block.
#ifndef VARNEL_STORAGE_ROW_FILE_H_
#define VARNEL_STORAGE_ROW_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/peak.h"

inline constexpr std::uint32_t kRowFileVersion = 2;
inline constexpr std::size_t kRowFileHeaderBytes = 64;
inline constexpr std::size_t kRowFileTrailerBytes = 32;
inline constexpr std::size_t kRowBlockHeaderBytes = 16;
inline constexpr std::size_t kRowFixedBytes = 12 * 4 + 9 * 8;

enum class Row_File_Kind : std::uint32_t { kSpill = 0, kPart = 1, kShardRows = 2 };

// What a row file says about itself.
struct Row_File_Header {
  Row_File_Kind kind = Row_File_Kind::kSpill;
  std::string plan_id;      // the plan it belongs to (32 hex digits), "" for a spill
  std::uint32_t owner = 0;  // SAMPLE_ID of a part, shard number of a shard's rows
  std::uint64_t rows = 0;   // from the trailer
};

// Where a row stands in the study: stored beside its peak's fields.
struct Row_Place {
  std::uint32_t sample = 0;     // SAMPLE_ID
  std::uint32_t input_row = 0;  // position in its input's peak list
  std::uint32_t align_id = 0;
  double align_rt = 0.0;
};

// One row as a file holds it. record.Peak_shape and SAMPLE_NAME are not
// stored; the shape travels in its stored form.
struct Stored_Row {
  Chromatogram_Peak_Group_Compound_Align record;
  std::uint32_t input_row = 0;
  std::string shape;
};

// Writes a row file to a descriptor the caller owns, a block at a time.
class Row_Block_Writer {
 public:
  // `name` names the file in messages, `write_failure` says what failed.
  // Blocks close once they hold block_bytes of rows (0: a block per row, for
  // reading rows one by one).
  Row_Block_Writer(int fd, std::string name, Row_File_Kind kind, std::string_view plan_id,
                   std::uint32_t owner, std::size_t block_bytes,
                   std::string write_failure = "cannot write");
  Row_Block_Writer(const Row_Block_Writer&) = delete;
  Row_Block_Writer& operator=(const Row_Block_Writer&) = delete;
  ~Row_Block_Writer();

  // Appends a row; returns the file offset of the block it goes into. Throws
  // CppSQLite3Exception(1000) naming the file on a write failure.
  std::uint64_t Append(const Chromatogram_Peak_Group_Compound& peak, const Row_Place& place,
                       std::string_view shape);
  std::uint64_t Append(const Chromatogram_Peak_Group_Compound_Align& record,
                       std::uint32_t input_row, std::string_view shape);
  // Closes the open block and writes out everything appended.
  void Flush();
  // Flushes and writes the trailer; nothing may be appended after it.
  void Finish();

  std::uint64_t Rows() const { return rows_; }
  // Bytes of the file so far, the open block's included once it closes.
  std::uint64_t Bytes() const { return written_ + pending_.size(); }
  // XXH3-128 of every byte written (32 lowercase hex digits, canonical
  // order); the file's digest once Finish() returned.
  std::string Digest() const;

 private:
  template <class Record>
  std::uint64_t Append_Row(const Record& record, const Row_Place& place, std::string_view shape);
  void Close_Block();
  void Write_Out();

  struct Hash_State;
  int fd_;
  std::string name_;
  std::string write_failure_;
  std::size_t block_bytes_;
  std::string pending_;  // closed blocks not yet written
  std::string block_;    // the open block's payload
  std::uint32_t block_rows_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t rows_ = 0;
  std::uint64_t blocks_ = 0;
  std::unique_ptr<Hash_State> hash_;
};

// A row file under its name: written under a temporary name in the same
// folder and renamed over the target by Commit(), so a stopped writer leaves
// no file under the name.
class Row_File_Writer {
 public:
  // Starts Join_Path(folder, name) as "."+name+".XXXXXX" in folder. Throws
  // CppSQLite3Exception(1000) naming the folder when it cannot.
  Row_File_Writer(const std::string& folder, const std::string& name, Row_File_Kind kind,
                  std::string_view plan_id, std::uint32_t owner);
  Row_File_Writer(const Row_File_Writer&) = delete;
  Row_File_Writer& operator=(const Row_File_Writer&) = delete;
  // Removes the temporary file unless Commit() succeeded.
  ~Row_File_Writer();

  void Append(const Chromatogram_Peak_Group_Compound& peak, const Row_Place& place,
              std::string_view shape) {
    rows_->Append(peak, place, shape);
  }
  void Append(const Chromatogram_Peak_Group_Compound_Align& record, std::uint32_t input_row,
              std::string_view shape) {
    rows_->Append(record, input_row, shape);
  }
  std::uint64_t Rows() const { return rows_->Rows(); }
  // Writes the rest and the trailer; returns the file's XXH3-128. Finish()
  // is optional before Commit().
  std::string Finish();
  // Renames the file over the target. Throws CppSQLite3Exception(1000)
  // naming the file; the target is then unchanged.
  void Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool finished_ = false;
  bool committed_ = false;
  int stop_ticket_ = -1;  // Remove_On_Stop's
  std::unique_ptr<Row_Block_Writer> rows_;
};

// Reads a row file front to back.
class Row_File_Reader {
 public:
  // Opens path and checks its header and trailer. Throws std::runtime_error
  // "<path>: ..." when it cannot be read, is of another version, or is not a
  // whole row file.
  explicit Row_File_Reader(const std::string& path);
  Row_File_Reader(const Row_File_Reader&) = delete;
  Row_File_Reader& operator=(const Row_File_Reader&) = delete;
  ~Row_File_Reader();

  const Row_File_Header& Header() const { return header_; }
  const std::string& Path() const { return path_; }

  // The next row in file order; false after the last row. with_shape false
  // leaves row.shape empty (its block is checked all the same). Throws
  // std::runtime_error "<path>: block N at byte B: ..." for a damaged block.
  bool Next(Stored_Row& row, bool with_shape = true);

 private:
  bool Next_Block();

  std::string path_;
  int fd_ = -1;
  Row_File_Header header_;
  std::uint64_t end_ = 0;       // where the blocks end (the trailer begins)
  std::uint64_t next_at_ = 0;   // file offset of the next block
  std::uint64_t block_ = 0;     // number of the block in payload_ (1-based once read)
  std::uint64_t block_at_ = 0;  // its offset
  std::string payload_;
  std::size_t used_ = 0;               // bytes of payload_ decoded
  std::uint32_t block_rows_left_ = 0;  // rows of payload_ not yet decoded
  std::uint64_t rows_read_ = 0;
  std::uint64_t blocks_read_ = 0;
  std::uint64_t header_blocks_ = 0;  // blocks the trailer counts
};

// Reads the block at `offset` of `bytes` bytes (header included) from fd,
// checks it and decodes its one row into record (SAMPLE_NAME and Peak_shape
// untouched) and input_row. Returns the shape's stored form, a view into
// buffer valid until buffer changes; empty unless with_shape. Throws
// CppSQLite3Exception(1000) "<name>: <read_failure>: <reason>" when it cannot
// be read, "<name>: <read_failure>: block at byte B: ..." when it is damaged.
std::string_view Read_Row_Block(int fd, const std::string& name, const std::string& read_failure,
                                std::uint64_t offset, std::uint64_t bytes, bool with_shape,
                                std::string& buffer, Chromatogram_Peak_Group_Compound_Align& record,
                                std::uint32_t& input_row);

// Writes the 64-byte header of a row file to `out`.
void Append_Row_File_Header(std::string& out, Row_File_Kind kind, std::string_view plan_id,
                            std::uint32_t owner);

#endif  // VARNEL_STORAGE_ROW_FILE_H_
