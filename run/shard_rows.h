// The row files of a sharded alignment: every field of a peak exactly as read
// (doubles bit for bit, the shape in the form the result stores), with the
// peak's place in the study (SAMPLE_ID and its row in that input) and, once
// aligned, its Align_ID and Align_RT.
//
// A split writes one file per shard and input (the input's rows of that
// shard's mass range, in input order); a shard writes one file of its rows in
// the order of its result. A file is written under a temporary name and
// renamed when complete, so a stopped step leaves no file under the name.
// Files are not synced one by one (a split writes thousands): after a crash
// of the machine a renamed file may come back short or with holes, which the
// reader finds and names: the header, the trailer (which repeats the row
// count) and every row's length must agree with the file's size.
#ifndef VARNEL_RUN_SHARD_ROWS_H_
#define VARNEL_RUN_SHARD_ROWS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/peak.h"

// What a row file says about itself.
struct Row_File_Header {
  std::string plan_id;      // the plan it belongs to (32 hex digits)
  std::uint32_t owner = 0;  // SAMPLE_ID of a part, shard number of a shard's rows
  std::uint64_t rows = 0;
};

// One row as a row file holds it. record.Peak_shape is not used: the shape
// travels in its stored form.
struct Shard_Row {
  Chromatogram_Peak_Group_Compound_Align record;  // SAMPLE_NAME not stored
  std::uint32_t input_row = 0;                    // position in its input's peak list
  std::string shape;                              // stored form
};

class Row_File_Writer {
 public:
  // Starts Join_Path(folder, name) under a temporary name in folder. Throws
  // CppSQLite3Exception(1000) naming the folder when it cannot.
  Row_File_Writer(const std::string& folder, const std::string& name, std::string_view plan_id,
                  std::uint32_t owner);
  Row_File_Writer(const Row_File_Writer&) = delete;
  Row_File_Writer& operator=(const Row_File_Writer&) = delete;
  // Removes the temporary file unless Commit() succeeded.
  ~Row_File_Writer();

  void Append(const Chromatogram_Peak_Group_Compound_Align& record, std::uint32_t input_row,
              std::string_view shape);
  std::uint64_t Rows() const { return rows_; }
  // Writes the rest and the trailer and renames the file over the target.
  // Throws CppSQLite3Exception(1000) naming the file; the target is then
  // unchanged.
  void Commit();

 private:
  void Write_Out();

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
  int stop_ticket_ = -1;  // Remove_On_Stop's
  std::string pending_;
  std::uint64_t rows_ = 0;
};

// Reads a row file front to back, or rows at the offsets Next() reported.
class Row_File_Reader {
 public:
  // Opens path and checks its header and trailer. Throws std::runtime_error
  // "<path>: ..." when it cannot be read or is not a whole row file.
  explicit Row_File_Reader(const std::string& path);
  Row_File_Reader(const Row_File_Reader&) = delete;
  Row_File_Reader& operator=(const Row_File_Reader&) = delete;
  ~Row_File_Reader();

  const Row_File_Header& Header() const { return header_; }
  const std::string& Path() const { return path_; }

  // The next row in file order and its offset; false after the last row.
  // with_shape false leaves row.shape empty (it is still skipped over).
  bool Next(Shard_Row& row, bool with_shape = true, std::uint64_t* offset = nullptr);
  // The row at an offset Next() gave; does not move the reading position.
  void Read_At(std::uint64_t offset, Shard_Row& row, bool with_shape);

 private:
  void Fill(std::size_t bytes);

  std::string path_;
  int fd_ = -1;
  Row_File_Header header_;
  std::uint64_t end_ = 0;       // where the rows end (the trailer begins)
  std::uint64_t position_ = 0;  // file offset of buffer_[0]
  std::string buffer_;
  std::size_t used_ = 0;  // bytes of buffer_ consumed
  std::uint64_t rows_read_ = 0;
  std::string scratch_;
};

#endif  // VARNEL_RUN_SHARD_ROWS_H_
