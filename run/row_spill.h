// The rows of a run kept on disk while it aligns: everything of a peak but
// what the alignment looks at, its shape in the form the result stores.
//
// A run holds only small records for the alignment (see Spill_Key); the rest
// of each peak (about 1.5 KB, most of it the shape) waits in one unnamed
// temporary file in the result folder and is read back row by row by the
// writers. The file has no name from the start, so it disappears with the
// run however the run ends (success, failure, a stop, a kill).
#ifndef VARNEL_RUN_ROW_SPILL_H_
#define VARNEL_RUN_ROW_SPILL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"

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
  std::uint64_t Bytes() const { return ends_.empty() ? 0 : ends_.back(); }

  // A reader of rows for one thread: fills `record` with every field of row
  // `row` as read (SAMPLE_ID, SAMPLE_NAME, Align_ID and Align_RT untouched,
  // Peak_shape left empty) and returns the shape's stored form (empty unless
  // with_shape), valid until the next call.
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
  void Write_Out();

  std::string folder_;
  int fd_ = -1;
  std::string pending_;              // appended, not yet written
  std::vector<std::uint64_t> ends_;  // end offset of each row
};

#endif  // VARNEL_RUN_ROW_SPILL_H_
