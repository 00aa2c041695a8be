// The rows of an aligned database's Align_Peaklist table without the shapes,
// held column by column for the result grid: one packed array per column, the
// two text columns as indexes into a pool of distinct strings.
//
// A column takes the narrowest form all its values fit exactly: integers in
// 1, 2 or 4 bytes a cell, reals as 4-byte unsigned micro-units while every
// value is exactly such a number divided by 1e6 (the writer's six decimals),
// otherwise as doubles. A column is re-packed wider when a value does not fit,
// so a table of 10M written rows needs about 70 bytes a row instead of 116.
//
// Each column has a kind (integer, real or text) fixed by its name. A cell
// whose stored value does not fit that kind (NULL, text in an integer column,
// an integer beyond 32 bits, ...) is kept aside in a small per-column map with
// the value as SQLite reported it, so nothing is lost and common rows cost no
// more than their typed slot.
#ifndef VARNEL_UI_GRID_ALIGNED_TABLE_H_
#define VARNEL_UI_GRID_ALIGNED_TABLE_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

class CppSQLite3DB;
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

// A column of 32-bit integers (T is std::int32_t or std::uint32_t) held in
// the narrowest of 1, 2 or 4 bytes a cell that every value so far fits.
template <typename T>
class Packed_Ints {
  static_assert(sizeof(T) == 4);

 public:
  // Room for n values at the present width (and at a wider one once widened).
  void Reserve(std::size_t n) {
    reserve_ = n;
    bytes_.reserve(n * width_);
  }
  void Push_Back(T value) {
    if (!Fits(value, width_)) Widen(Width_For(value));
    const std::size_t at = bytes_.size();
    bytes_.resize(at + width_);
    Store(bytes_.data() + at, value, width_);
  }
  T operator[](std::size_t i) const {
    switch (width_) {
      case 1:
        return static_cast<T>(static_cast<Narrow1>(bytes_[i]));
      case 2: {
        Narrow2 v;
        std::memcpy(&v, bytes_.data() + 2 * i, 2);
        return static_cast<T>(v);
      }
      default: {
        T v;
        std::memcpy(&v, bytes_.data() + 4 * i, 4);
        return v;
      }
    }
  }
  std::size_t size() const { return bytes_.size() / width_; }
  // Bytes a cell: 1, 2 or 4.
  int Width() const { return static_cast<int>(width_); }

 private:
  using Narrow1 = std::conditional_t<std::is_signed_v<T>, std::int8_t, std::uint8_t>;
  using Narrow2 = std::conditional_t<std::is_signed_v<T>, std::int16_t, std::uint16_t>;

  static bool Fits(T v, std::size_t width) {
    switch (width) {
      case 1:
        return static_cast<T>(static_cast<Narrow1>(v)) == v;
      case 2:
        return static_cast<T>(static_cast<Narrow2>(v)) == v;
      default:
        return true;
    }
  }
  static std::size_t Width_For(T v) { return Fits(v, 1) ? 1 : Fits(v, 2) ? 2 : 4; }
  static void Store(std::uint8_t* at, T v, std::size_t width) {
    if (width == 1) {
      *at = static_cast<std::uint8_t>(static_cast<Narrow1>(v));
    } else if (width == 2) {
      const Narrow2 n = static_cast<Narrow2>(v);
      std::memcpy(at, &n, 2);
    } else {
      std::memcpy(at, &v, 4);
    }
  }
  void Widen(std::size_t width) {
    const std::size_t n = size();
    std::vector<std::uint8_t> wider;
    wider.reserve(std::max(n, reserve_) * width);
    wider.resize(n * width);
    for (std::size_t i = 0; i < n; ++i) Store(wider.data() + i * width, (*this)[i], width);
    bytes_ = std::move(wider);
    width_ = width;
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t width_ = 1;
  std::size_t reserve_ = 0;
};

// A column of doubles held as 4-byte micro-units n (the value is exactly
// n / 1e6, n < 2^32 - 1) while nearly every value so far is one. The few that
// are not (SQLite's text-to-double parse is not always correctly rounded) are
// kept aside exactly; once more than one in 64 values is not one (more
// decimals, negatives, -0.0, 4294.967295 and up), the column is held as
// doubles.
class Packed_Reals {
 public:
  void Reserve(std::size_t n);
  void Push_Back(double value);
  double operator[](std::size_t i) const {
    if (wide_) return doubles_[i];
    const std::uint32_t m = micros_[i];
    return m != kAside ? static_cast<double>(m) / 1e6 : aside_.at(static_cast<std::uint32_t>(i));
  }
  std::size_t size() const { return wide_ ? doubles_.size() : micros_.size(); }
  // Bytes a cell: 4 or 8 (the values kept aside not counted).
  int Width() const { return wide_ ? 8 : 4; }

 private:
  static constexpr std::uint32_t kAside = 0xFFFFFFFFu;  // the value is in aside_
  void Widen();

  std::vector<std::uint32_t> micros_;
  std::unordered_map<std::uint32_t, double> aside_;
  std::vector<double> doubles_;
  std::size_t reserve_ = 0;
  bool wide_ = false;
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

  // Direct access for fast loops over regular columns (an odd cell reads as
  // 0, 0.0 or the pool's first text there).
  const Packed_Ints<std::int32_t>& Int_Column(int column) const;
  const Packed_Reals& Real_Column(int column) const;
  // Index into Text_Pool(column) for each row, and the pool itself.
  const Packed_Ints<std::uint32_t>& Text_Ids(int column) const;
  const std::vector<std::string>& Text_Pool(int column) const;

 private:
  struct Loader;

  // Reads every row of stmt (the grid select); file names the file in errors.
  // read (when given) hears the count of rows read now and then.
  void Fill(CppSQLite3Statement& stmt, std::size_t expected_rows, const std::string& file,
            const std::function<void(std::size_t)>& read = {});
  // Reads the rows with Align_ID below middle (and NULL) on db, the others on
  // other (a second connection to the same file) at the same time, and joins
  // them in that order.
  static Aligned_Table Load_Halves(CppSQLite3DB& db, CppSQLite3DB& other, const std::string& file,
                                   std::size_t expected_rows, long long middle);
  // Appends other's rows (read with the same select) after these.
  void Append(Aligned_Table&& other);

  std::size_t rows_ = 0;
  std::array<std::string, kAlignedColumnCount> names_;
  std::array<int, kAlignedColumnCount> slot_{};
  std::vector<Packed_Ints<std::int32_t>> ints_;
  std::vector<Packed_Reals> reals_;
  std::vector<Packed_Ints<std::uint32_t>> text_ids_;
  std::vector<std::vector<std::string>> text_pools_;
  std::array<std::unordered_map<std::uint32_t, Odd_Cell>, kAlignedColumnCount> odd_;
};

#endif  // VARNEL_UI_GRID_ALIGNED_TABLE_H_
