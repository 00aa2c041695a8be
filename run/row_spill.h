// The rows of a run kept on disk while it aligns: everything of a peak but
// what the alignment looks at, its shape in the form the result stores.
//
// A run holds only small records for the alignment (see Spill_Key); the rest
// of each peak (about 1.5 KB, most of it the shape) waits in one unnamed
// temporary file in the result folder and is read back row by row by the
// writers. The file has no name from the start, so it disappears with the
// run however the run ends (success, failure, a stop, a kill). It is a row
// file (storage/row_file.h) of a block per row, each row checked as read.
#ifndef VARNEL_RUN_ROW_SPILL_H_
#define VARNEL_RUN_ROW_SPILL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/row_file.h"

class Row_Spill {
 public:
  // Opens an unnamed file in folder. Throws CppSQLite3Exception(1000) naming
  // the folder when it cannot.
  explicit Row_Spill(const std::string& folder);
  Row_Spill(const Row_Spill&) = delete;
  Row_Spill& operator=(const Row_Spill&) = delete;
  ~Row_Spill();

  // Appends every peak of batch; row numbers continue from Rows(). Throws
  // CppSQLite3Exception(1000) on a write failure (a full disk included).
  void Append(const Annotated_Batch& batch);
  // Writes out what Append buffered. Call before reading.
  void Flush();
  std::size_t Rows() const { return ends_.size(); }

  // A reader of rows for one thread: fills `record` with every field of row
  // `row` as read (SAMPLE_NAME untouched, Peak_shape left empty; SAMPLE_ID,
  // Align_ID and Align_RT are 0 as a spill stores them) and returns the
  // shape's stored form (empty unless with_shape), valid until the next call.
  // Throws CppSQLite3Exception(1000) naming the file and the block when the
  // row does not read back as written.
  class Reader {
   public:
    explicit Reader(const Row_Spill& spill) : spill_(spill) {}
    std::string_view Read(std::size_t row, bool with_shape,
                          Chromatogram_Peak_Group_Compound_Align& record);

   private:
    const Row_Spill& spill_;
    std::string buffer_;
  };

 private:
  std::string name_;  // the folder, naming the file in messages
  int fd_ = -1;
  std::unique_ptr<Row_Block_Writer> writer_;
  std::vector<std::uint64_t> ends_;  // end offset of each row's block
};

#endif  // VARNEL_RUN_ROW_SPILL_H_
