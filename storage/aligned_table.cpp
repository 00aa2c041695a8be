#include "storage/aligned_table.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "storage/path.h"

namespace {

constexpr std::array<const char*, kAlignedColumnCount> kColumnNames = {"EIC_ID",
                                                                       "Peak_ID",
                                                                       "Apex_MZ",
                                                                       "Apex_Pos",
                                                                       "Apex_Retention_Time",
                                                                       "Apex_Intensity",
                                                                       "Peak_Area",
                                                                       "Peak_SNR",
                                                                       "Left_Boundary",
                                                                       "Right_boundary",
                                                                       "Group_ID",
                                                                       "Adduct_Annotation",
                                                                       "Compound_ID",
                                                                       "Compound_MolecularMass",
                                                                       "Compound_Retention_Time",
                                                                       "Compound_Intensity",
                                                                       "SAMPLE_ID",
                                                                       "SAMPLE_NAME",
                                                                       "Align_ID",
                                                                       "Align_RT"};

constexpr Cell_Kind Kind_Of(int column) {
  switch (column) {
    case kCol_EIC_ID:
    case kCol_Peak_ID:
    case kCol_Apex_Pos:
    case kCol_Left_Boundary:
    case kCol_Right_Boundary:
    case kCol_Group_ID:
    case kCol_Compound_ID:
    case kCol_SAMPLE_ID:
    case kCol_Align_ID:
      return Cell_Kind::kInteger;
    case kCol_Adduct_Annotation:
    case kCol_SAMPLE_NAME:
      return Cell_Kind::kText;
    default:
      return Cell_Kind::kReal;
  }
}

struct Db_Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct Stmt_Finalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

[[noreturn]] void Fail(const std::string& file, std::string_view what) {
  throw Aligned_Table_Error(file + ": " + std::string(what));
}

// Transparent hashing so that interning looks up a string_view without
// building a std::string for every row.
struct Text_Hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The table's row count, to size the columns once; 0 when it cannot be had
// (the load itself then reports what is wrong).
std::size_t Count_Rows(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  std::size_t rows = 0;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM Align_Peaklist", -1, &stmt, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    rows = static_cast<std::size_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(stmt, 0)));
  }
  sqlite3_finalize(stmt);  // a null statement is a no-op
  return rows;
}

}  // namespace

const std::string& Aligned_Grid_Select() {
  static const std::string text = [] {
    std::string s = "SELECT ";
    for (int c = 0; c < kAlignedColumnCount; ++c) {
      if (c > 0) s += ",\t";
      s += kColumnNames[c];
    }
    s += " FROM Align_Peaklist Order by Align_ID";
    return s;
  }();
  return text;
}

constexpr int kBusyTimeoutMs = 60000;  // as CppSQLite3DB

// Interns the texts of one text column.
struct Aligned_Table::Loader {
  std::unordered_map<std::string, std::uint32_t, Text_Hash, std::equal_to<>> index;
  std::uint32_t last_id = 0;
  bool has_last = false;

  std::uint32_t Intern(std::string_view text, std::vector<std::string>& pool) {
    if (has_last && pool[last_id] == text) return last_id;
    auto it = index.find(text);
    if (it == index.end()) {
      pool.emplace_back(text);
      it = index.emplace(std::string(text), static_cast<std::uint32_t>(pool.size() - 1)).first;
    }
    last_id = it->second;
    has_last = true;
    return last_id;
  }
};

Aligned_Table Aligned_Table::Load(std::string_view Path, std::string_view FileName) {
  const std::string file = Join_Path(Path, FileName);
  sqlite3* raw_db = nullptr;
  const int open_rc =
      sqlite3_open_v2(file.c_str(), &raw_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, Db_Closer> db(raw_db);
  if (open_rc != SQLITE_OK) {
    Fail(file, raw_db != nullptr ? sqlite3_errmsg(raw_db) : sqlite3_errstr(open_rc));
  }
  // Wait for another program's write lock as every connection of the
  // storage layer does, instead of failing at once with "database is locked".
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // Read through a memory map instead of copying every page; a hint only,
  // so its result does not matter.
  sqlite3_exec(db.get(), "PRAGMA mmap_size=2147418112;", nullptr, nullptr, nullptr);
  const std::size_t expected_rows = Count_Rows(db.get());

  sqlite3_stmt* raw_stmt = nullptr;
  const std::string& sql = Aligned_Grid_Select();
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()) + 1, &raw_stmt,
                         nullptr) != SQLITE_OK) {
    Fail(file, sqlite3_errmsg(db.get()));  // no such table / column, not a database
  }
  std::unique_ptr<sqlite3_stmt, Stmt_Finalizer> stmt(raw_stmt);

  Aligned_Table table;
  int n_int = 0, n_real = 0, n_text = 0;
  for (int c = 0; c < kAlignedColumnCount; ++c) {
    const char* name = sqlite3_column_name(stmt.get(), c);
    table.names_[c] = name != nullptr ? name : kColumnNames[c];
    switch (Kind_Of(c)) {
      case Cell_Kind::kInteger:
        table.slot_[c] = n_int++;
        break;
      case Cell_Kind::kReal:
        table.slot_[c] = n_real++;
        break;
      default:
        table.slot_[c] = n_text++;
        break;
    }
  }
  table.ints_.resize(n_int);
  table.reals_.resize(n_real);
  table.text_ids_.resize(n_text);
  table.text_pools_.resize(n_text);
  std::vector<Loader> loaders(n_text);
  for (auto& v : table.ints_) v.reserve(expected_rows);
  for (auto& v : table.reals_) v.reserve(expected_rows);
  for (auto& v : table.text_ids_) v.reserve(expected_rows);

  std::uint32_t row = 0;
  for (;;) {
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) Fail(file, sqlite3_errmsg(db.get()));
    if (row == std::numeric_limits<std::uint32_t>::max()) Fail(file, "too many rows");
    for (int c = 0; c < kAlignedColumnCount; ++c) {
      const int type = sqlite3_column_type(stmt.get(), c);
      const int slot = table.slot_[c];
      Odd_Cell odd;
      bool regular = false;
      switch (Kind_Of(c)) {
        case Cell_Kind::kInteger: {
          std::int32_t value = 0;
          if (type == SQLITE_INTEGER) {
            const sqlite3_int64 v = sqlite3_column_int64(stmt.get(), c);
            if (v >= std::numeric_limits<std::int32_t>::min() &&
                v <= std::numeric_limits<std::int32_t>::max()) {
              value = static_cast<std::int32_t>(v);
              regular = true;
            }
          }
          table.ints_[slot].push_back(value);
          break;
        }
        case Cell_Kind::kReal:
          regular = type == SQLITE_FLOAT;
          table.reals_[slot].push_back(regular ? sqlite3_column_double(stmt.get(), c) : 0.0);
          break;
        default: {
          std::uint32_t id = 0;
          if (type == SQLITE_TEXT) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            const int n = sqlite3_column_bytes(stmt.get(), c);
            id = loaders[slot].Intern(std::string_view(p, static_cast<std::size_t>(n)),
                                      table.text_pools_[slot]);
            regular = true;
          } else {
            if (table.text_pools_[slot].empty()) table.text_pools_[slot].emplace_back();
          }
          table.text_ids_[slot].push_back(id);
          break;
        }
      }
      if (regular) continue;
      switch (type) {
        case SQLITE_NULL:
          odd.kind = Cell_Kind::kNull;
          break;
        case SQLITE_INTEGER:
          odd.kind = Cell_Kind::kInteger;
          odd.integer = sqlite3_column_int64(stmt.get(), c);
          break;
        case SQLITE_FLOAT:
          odd.kind = Cell_Kind::kReal;
          odd.real = sqlite3_column_double(stmt.get(), c);
          break;
        default: {  // text in a numeric column, or a blob
          odd.kind = Cell_Kind::kText;
          const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt.get(), c));
          const int n = sqlite3_column_bytes(stmt.get(), c);
          if (p != nullptr) odd.text.assign(p, static_cast<std::size_t>(n));
          break;
        }
      }
      table.odd_[c].emplace(row, std::move(odd));
    }
    ++row;
  }
  table.rows_ = row;
  return table;
}

Cell_Kind Aligned_Table::Column_Kind(int column) const { return Kind_Of(column); }

Cell_Kind Aligned_Table::Kind(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.kind;
  }
  return Kind_Of(column);
}

std::int64_t Aligned_Table::Integer(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.integer;
  }
  return Kind_Of(column) == Cell_Kind::kInteger ? ints_[slot_[column]][row] : 0;
}

double Aligned_Table::Real(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.real;
  }
  return Kind_Of(column) == Cell_Kind::kReal ? reals_[slot_[column]][row] : 0.0;
}

std::string_view Aligned_Table::Text(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.text;
  }
  if (Kind_Of(column) != Cell_Kind::kText) return {};
  const int slot = slot_[column];
  return text_pools_[slot][text_ids_[slot][row]];
}

namespace {
int Rank(Cell_Kind kind) {
  switch (kind) {
    case Cell_Kind::kNull:
      return 0;
    case Cell_Kind::kInteger:
    case Cell_Kind::kReal:
      return 1;
    default:
      return 2;
  }
}
template <typename T>
int Three_Way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

int Aligned_Table::Compare(std::size_t a, std::size_t b, int column) const {
  const Cell_Kind ka = Kind(a, column), kb = Kind(b, column);
  const int ra = Rank(ka), rb = Rank(kb);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case 0:
      return 0;
    case 1:
      if (ka == Cell_Kind::kInteger && kb == Cell_Kind::kInteger)
        return Three_Way(Integer(a, column), Integer(b, column));
      return Three_Way(
          ka == Cell_Kind::kInteger ? static_cast<double>(Integer(a, column)) : Real(a, column),
          kb == Cell_Kind::kInteger ? static_cast<double>(Integer(b, column)) : Real(b, column));
    default: {
      const int c = Text(a, column).compare(Text(b, column));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
  }
}

const std::vector<std::int32_t>& Aligned_Table::Int_Column(int column) const {
  return ints_[slot_[column]];
}
const std::vector<double>& Aligned_Table::Real_Column(int column) const {
  return reals_[slot_[column]];
}
const std::vector<std::uint32_t>& Aligned_Table::Text_Ids(int column) const {
  return text_ids_[slot_[column]];
}
const std::vector<std::string>& Aligned_Table::Text_Pool(int column) const {
  return text_pools_[slot_[column]];
}
