// The rows of an aligned database's Align_Peaklist table without the shapes,
// held column by column for the result grid: one typed array per column, the
// two text columns as indexes into a pool of distinct strings.
//
// Each column has a kind (integer, real or text) fixed by its name. A cell
// whose stored value does not fit that kind (NULL, text in an integer column,
// an integer beyond 32 bits, ...) is kept aside in a small per-column map with
// the value as SQLite reported it, so nothing is lost and common rows cost no
// more than their typed slot.
#ifndef VARNEL_STORAGE_ALIGNED_TABLE_H_
#define VARNEL_STORAGE_ALIGNED_TABLE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CppSQLite3Statement;

// The 20 grid columns, in grid order.
enum Aligned_Column : int {
  kCol_EIC_ID = 0,
  kCol_Peak_ID,
  kCol_Apex_MZ,
  kCol_Apex_Pos,
  kCol_Apex_Retention_Time,
  kCol_Apex_Intensity,
  kCol_Peak_Area,
  kCol_Peak_SNR,
  kCol_Left_Boundary,
  kCol_Right_Boundary,
  kCol_Group_ID,
  kCol_Adduct_Annotation,
  kCol_Compound_ID,
  kCol_Compound_MolecularMass,
  kCol_Compound_Retention_Time,
  kCol_Compound_Intensity,
  kCol_SAMPLE_ID,
  kCol_SAMPLE_NAME,
  kCol_Align_ID,
  kCol_Align_RT,
};
inline constexpr int kAlignedColumnCount = 20;

// The statement that loads the grid: "SELECT " + the 20 names joined by ",\t"
// + " FROM Align_Peaklist Order by Align_ID" (Right_boundary with a small b;
// SQLite matches column names without regard to case).
const std::string& Aligned_Grid_Select();

// The type of one cell as SQLite reported it.
enum class Cell_Kind : std::uint8_t { kNull, kInteger, kReal, kText };

// A cell as SQLite reported it, for cells that do not fit their column.
struct Odd_Cell {
  Cell_Kind kind = Cell_Kind::kNull;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;
};

// Raised when the table cannot be loaded; what() names the file.
class Aligned_Table_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Aligned_Table {
 public:
  Aligned_Table() = default;
  Aligned_Table(Aligned_Table&&) noexcept = default;
  Aligned_Table& operator=(Aligned_Table&&) noexcept = default;

  // Loads every row of Join_Path(Path, FileName) with Aligned_Grid_Select(),
  // opening the file read-only. Throws Aligned_Table_Error naming the file when
  // it is missing, is no database, or lacks the table or one of the columns.
  static Aligned_Table Load(std::string_view Path, std::string_view FileName);

  std::size_t Row_Count() const { return rows_; }
  // Column names as SQLite reports them for the statement.
  const std::string& Column_Name(int column) const { return names_[column]; }
  // The kind every regular cell of a column has.
  Cell_Kind Column_Kind(int column) const;

  // The kind of one cell (REQUIRES: row < Row_Count(), 0 <= column < 20).
  Cell_Kind Kind(std::size_t row, int column) const;
  // The cell's value; meaningful when Kind() says so (0 / 0.0 / "" otherwise).
  std::int64_t Integer(std::size_t row, int column) const;
  double Real(std::size_t row, int column) const;
  std::string_view Text(std::size_t row, int column) const;

  // Three-way comparison of two rows by one column in SQLite's order: NULL
  // first, then numbers by value, then texts bytewise.
  int Compare(std::size_t a, std::size_t b, int column) const;
  // True when the column holds only regular cells (fast paths may skip Kind()).
  bool Column_Is_Regular(int column) const { return odd_[column].empty(); }

  // Direct access for fast loops over regular columns.
  const std::vector<std::int32_t>& Int_Column(int column) const;
  const std::vector<double>& Real_Column(int column) const;
  // Index into Text_Pool(column) for each row, and the pool itself.
  const std::vector<std::uint32_t>& Text_Ids(int column) const;
  const std::vector<std::string>& Text_Pool(int column) const;

 private:
  struct Loader;

  // Reads every row of stmt (the grid select); file names the file in errors.
  void Fill(CppSQLite3Statement& stmt, std::size_t expected_rows, const std::string& file);

  std::size_t rows_ = 0;
  std::array<std::string, kAlignedColumnCount> names_;
  std::array<int, kAlignedColumnCount> slot_{};
  std::vector<std::vector<std::int32_t>> ints_;
  std::vector<std::vector<double>> reals_;
  std::vector<std::vector<std::uint32_t>> text_ids_;
  std::vector<std::vector<std::string>> text_pools_;
  std::array<std::unordered_map<std::uint32_t, Odd_Cell>, kAlignedColumnCount> odd_;
};

#endif  // VARNEL_STORAGE_ALIGNED_TABLE_H_
