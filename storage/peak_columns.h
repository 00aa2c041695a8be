// Internal to the storage library: decoding the rows of Annotate_Peaklist and
// Align_Peaklist into peak records, and naming the file in every error.
#ifndef VARNEL_STORAGE_PEAK_COLUMNS_H_
#define VARNEL_STORAGE_PEAK_COLUMNS_H_

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "model/peak.h"
#include "storage/result_columns.h"
#include "storage/sqlite/cppsqlite3.h"

// Rethrows the exception being handled with "context: " put in front of its
// message. CppSQLite3Exception keeps its code; std::invalid_argument and
// std::out_of_range keep their type (the standard text stays at the end).
// Other exceptions pass unchanged. REQUIRES: called inside a catch block.
[[noreturn]] void Rethrow_With_Context(const std::string& context);

// Reads the peak columns of the rows of one "select *" statement, by column
// name (exact, case-sensitive). Each value is taken from the column's text as
// SQLite gives it: integers as strict integers (32 bits kept in the unsigned
// fields), reals as lenient reals, Peak_shape in the Peak_shape format. Two
// shortcuts give the same results: an INTEGER value is range-checked directly,
// and a REAL value in a real column is taken as stored (not through SQLite's
// 15-digit text, which would drop any further digits).
inline constexpr std::size_t kShapeColumn = Column_Of("Peak_shape");

class Peak_Row_Decoder {
 public:
  enum class Null_Reals { kError, kNaN };

  // REQUIRES: stmt outlives the decoder.
  Peak_Row_Decoder(const CppSQLite3Statement& stmt, Null_Reals null_reals);

  // Fills every field of peak from the current row. Throws
  // CppSQLite3Exception(1000) "column X: Invalid field name requested" for a
  // missing column (checked at the first row), and, with "column X, EIC_ID a
  // Peak_ID b: " in front, CppSQLite3Exception(1000) for a NULL value (in a
  // real column only under Null_Reals::kError; otherwise NaN), an empty or
  // undecodable Peak_shape, and std::invalid_argument / std::out_of_range for
  // integer texts.
  void Read(Chromatogram_Peak_Group_Compound& peak);
  void Read(Chromatogram_Peak_Group_Compound_Align& peak);
  // Same, but the shape is not decoded into peak.Peak_shape (left as it is):
  // its written form (storage/stored_shape.h) goes to written_shape. Errors
  // as above.
  void Read(Chromatogram_Peak_Group_Compound& peak, std::string& written_shape);

 private:
  // Columns are positions in kAlignColumns.
  using Column = std::size_t;

  template <typename Peak>
  void ReadColumns(Peak& peak, bool aligned, std::string* written_shape = nullptr);
  void Resolve(bool aligned);
  int Int(Column c);
  double Real(Column c);
  std::string Text(Column c);
  std::string RowContext() const;

  const CppSQLite3Statement& stmt_;
  Null_Reals null_reals_;
  int resolved_count_ = 0;  // columns resolved (17 or 21)
  std::array<int, kAlignColumnCount> index_{};
  Column current_ = kShapeColumn;
  std::vector<Data_Point> scratch_points_;
};

#endif  // VARNEL_STORAGE_PEAK_COLUMNS_H_
