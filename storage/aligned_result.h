// The one reader of an aligned result (.aligndb) for whoever needs its rows as
// a whole: the exports, the quality figures, the evaluator and the run record's
// readers. (The viewer's grid keeps its own column-packed load, and its
// per-click queries live in storage/aligned_queries.h.)
//
// Opening a result: the file opens read-only (never created) and must hold
// table Align_Peaklist. Every failure throws Aligned_Result_Error whose what()
// starts with the path:
//   "<path>: not an aligned result (<SQLite's message>)"  the file is missing,
//       is no SQLite database, lacks a chosen column ("no such column: X"), or
//       SQLite fails while reading;
//   "<path>: not an aligned result (it has no table Align_Peaklist)".
// Columns are checked when a pass that chooses them starts, so a table
// holding only the columns a caller reads is enough for that caller.
//
// Reading: a pass (Result_Rows) steps the rows with only the chosen columns in
// its statement, so what is not chosen (a shape above all) is neither read
// nor decoded. Cells are read as SQLite converts them: a NULL real as NaN, a
// NULL integer as 0, a NULL text as "". Memory: one row (a group for
// Result_Groups); cost: one pass over the table (Scan) or over the Align_ID
// index (Groups), which reads a table page again for each group whose rows
// are stored apart.
#ifndef VARNEL_STORAGE_ALIGNED_RESULT_H_
#define VARNEL_STORAGE_ALIGNED_RESULT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"
#include "storage/result_columns.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"

class CppSQLite3DB;
class CppSQLite3Statement;

class Aligned_Result_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A choice of Align_Peaklist's columns: bit c stands for kAlignColumns[c].
class Result_Columns {
 public:
  // The named columns; a name that is not a column does not compile.
  consteval Result_Columns(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) bits_ |= std::uint32_t{1} << Column_Of(name);
  }
  static constexpr Result_Columns All() {
    return Result_Columns((std::uint32_t{1} << kAlignColumnCount) - 1);
  }
  constexpr bool Has(std::size_t column) const { return (bits_ >> column) & 1U; }
  constexpr Result_Columns With(std::size_t column) const {
    return Result_Columns(bits_ | std::uint32_t{1} << column);
  }

 private:
  constexpr explicit Result_Columns(std::uint32_t bits) : bits_(bits) {}
  std::uint32_t bits_ = 0;
};

// A sample of the result: a SAMPLE_ID of Align_Peaklist, or of the run
// record's inputs (a file that gave no peak).
struct Result_Sample {
  std::uint32_t id = 0;
  std::string name;   // SAMPLE_NAME (of the sample's first row)
  std::string shown;  // name, or "name (id)" when several samples share name
};

// The samples of these SAMPLE_IDs and names, ascending: a name shared by
// several is shown as "name (id)" for each of them.
std::vector<Result_Sample> Shown_Samples(const std::map<std::uint32_t, std::string>& names);

// One forward pass over rows of Align_Peaklist. Cell accessors take a column
// position in kAlignColumns. REQUIRES: Next() returned true and the column is
// chosen; the Aligned_Result that made the pass outlives it.
class Result_Rows {
 public:
  Result_Rows(Result_Rows&&) noexcept;
  Result_Rows& operator=(Result_Rows&&) noexcept;
  ~Result_Rows();

  // Steps to the next row; false after the last.
  bool Next();
  bool Is_Null(std::size_t column) const;
  std::int64_t Int(std::size_t column) const;
  double Real(std::size_t column) const;
  // Valid until the next call on this pass.
  std::string_view Text(std::size_t column) const;
  // Copies the chosen columns of the row into record: integers cut to 32
  // bits, Peak_shape decoded into its points (a NULL shape gives none). The
  // fields not chosen are left as they are.
  void Fill(Chromatogram_Peak_Group_Compound_Align& record) const;

 private:
  friend class Aligned_Result;
  Result_Rows(const std::string& path, CppSQLite3DB& db, Result_Columns columns, const char* tail);

  std::string path_;
  std::unique_ptr<CppSQLite3Statement> stmt_;
  std::array<signed char, kAlignColumnCount> field_{};  // statement field, -1 when not chosen
  std::vector<unsigned char> chosen_;                   // the chosen columns, in field order
};

// An alignment group: its Align_ID and its rows, each as a record with the
// chosen columns filled.
struct Result_Group {
  std::uint32_t align_id = 0;
  std::vector<Chromatogram_Peak_Group_Compound_Align> records;
};

// The groups of Align_ID 1 and above in Align_ID order, rows of a group in
// the index's order (by rowid).
class Result_Groups {
 public:
  // Fills group with the next group (its records vector is reused); false
  // after the last.
  bool Next(Result_Group& group);

 private:
  friend class Aligned_Result;
  explicit Result_Groups(Result_Rows rows);

  Result_Rows rows_;
  bool pending_ = false;  // rows_ stands on the first row of the next group
};

class Aligned_Result {
 public:
  // Opens path read-only and checks for Align_Peaklist.
  explicit Aligned_Result(std::string path);
  Aligned_Result(Aligned_Result&&) noexcept;
  Aligned_Result& operator=(Aligned_Result&&) noexcept;
  ~Aligned_Result();

  const std::string& Path() const { return path_; }

  // Whether Align_Peaklist holds any row, and any row of Align_ID 1 or more.
  bool Has_Peaks();
  bool Has_Aligned_Peaks();

  // Every sample in ascending SAMPLE_ID: the SAMPLE_IDs of Align_Peaklist
  // (through its index) with those of the run record's inputs.
  std::vector<Result_Sample> Samples();

  // Every row in stored order.
  Result_Rows Scan(Result_Columns columns);
  // The rows of Align_ID 1 and above, in Align_ID order, by groups; Align_ID
  // is always filled.
  Result_Groups Groups(Result_Columns columns);

  // The side tables (storage/side_tables.h): nullopt when absent. The run
  // record throws as Read_Run_Record(db, path) does; the anchors throw
  // Aligned_Result_Error with Read_Rt_Anchors' message.
  std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Correction();
  std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Anchors();
  std::optional<Run_Record> Read_Run_Record();
  // The member choice (Align_Member_Choice); throws Aligned_Result_Error with
  // Read_Member_Choice's message.
  std::optional<Member_Choice_Record> Read_Member_Choice();
  Run_Record_Text Read_Run_Record_Text();
  // The samples whose gross shift was not applied (Align_RT_Gross_Shift);
  // throws Aligned_Result_Error with Read_Gross_Shift_Not_Applied's message.
  std::optional<std::vector<std::int64_t>> Read_Gross_Shift_Not_Applied();

 private:
  template <typename Body>
  auto Guard(Body body) -> decltype(body());

  std::string path_;
  std::unique_ptr<CppSQLite3DB> db_;
};

#endif  // VARNEL_STORAGE_ALIGNED_RESULT_H_
