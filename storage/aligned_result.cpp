#include "storage/aligned_result.h"

#include <sqlite3.h>

#include <limits>
#include <map>
#include <set>
#include <utility>

#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr std::size_t kAlignId = Column_Of("Align_ID");

[[noreturn]] void Fail(const std::string& path, std::string_view detail) {
  throw Aligned_Result_Error(path + ": not an aligned result (" + std::string(detail) + ")");
}

// Runs body, turning what SQLite and the shape decoder throw into
// Aligned_Result_Error naming path.
template <typename Body>
auto Guarded(const std::string& path, Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const CppSQLite3Exception& e) {
    Fail(path, e.errorDetail());
  } catch (const std::invalid_argument& e) {
    Fail(path, e.what());
  } catch (const std::out_of_range& e) {
    Fail(path, e.what());
  }
}

}  // namespace

// ---------------------------------------------------------------- Result_Rows

Result_Rows::Result_Rows(const std::string& path, CppSQLite3DB& db, Result_Columns columns,
                         const char* tail)
    : path_(path) {
  field_.fill(-1);
  std::string sql = "SELECT ";
  signed char n = 0;
  // Last stored column first: SQLite then reads the row's header once and
  // finds each further column in what it has read.
  for (std::size_t c = kAlignColumnCount; c-- > 0;) {
    if (!columns.Has(c)) continue;
    if (n > 0) sql += ", ";
    sql += kAlignColumns[c].name;
    field_[c] = n++;
    chosen_.push_back(static_cast<unsigned char>(c));
  }
  sql += " FROM Align_Peaklist";
  sql += tail;
  stmt_ = std::make_unique<CppSQLite3Statement>(
      Guarded(path_, [&] { return db.compileStatement(sql.c_str()); }));
}

Result_Rows::Result_Rows(Result_Rows&&) noexcept = default;
Result_Rows& Result_Rows::operator=(Result_Rows&&) noexcept = default;
Result_Rows::~Result_Rows() = default;

bool Result_Rows::Next() {
  return Guarded(path_, [&] { return stmt_->step(); });
}

bool Result_Rows::Is_Null(std::size_t column) const {
  return sqlite3_column_type(stmt_->handle(), field_[column]) == SQLITE_NULL;
}

std::int64_t Result_Rows::Int(std::size_t column) const {
  return sqlite3_column_int64(stmt_->handle(), field_[column]);
}

double Result_Rows::Real(std::size_t column) const {
  sqlite3_stmt* stmt = stmt_->handle();
  const int field = field_[column];
  return sqlite3_column_type(stmt, field) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                         : sqlite3_column_double(stmt, field);
}

std::string_view Result_Rows::Text(std::size_t column) const {
  sqlite3_stmt* stmt = stmt_->handle();
  const int field = field_[column];
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, field));
  if (text == nullptr) return {};
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, field)));
}

void Result_Rows::Fill(Chromatogram_Peak_Group_Compound_Align& record) const {
  sqlite3_stmt* stmt = stmt_->handle();
  for (const std::size_t c : chosen_) {
    const int field = field_[c];
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        Int_Field(record, c) = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, field));
        break;
      case Column_Kind::kReal:
        Real_Field(record, c) = sqlite3_column_type(stmt, field) == SQLITE_NULL
                                    ? std::numeric_limits<double>::quiet_NaN()
                                    : sqlite3_column_double(stmt, field);
        break;
      case Column_Kind::kText:
        Text_Field(record, c).assign(Text(c));
        break;
      case Column_Kind::kShape:
        record.Peak_shape.clear();
        if (!Is_Null(c)) {
          Guarded(path_, [&] { Decode_Peak_Shape(Text(c), record.Peak_shape); });
        }
        break;
    }
  }
}

// ---------------------------------------------------------------- Result_Groups

Result_Groups::Result_Groups(Result_Rows rows) : rows_(std::move(rows)) { pending_ = rows_.Next(); }

bool Result_Groups::Next(Result_Group& group) {
  if (!pending_) return false;
  group.align_id = static_cast<std::uint32_t>(rows_.Int(kAlignId));
  std::size_t n = 0;
  do {
    if (n == group.records.size()) group.records.emplace_back();
    rows_.Fill(group.records[n++]);
    pending_ = rows_.Next();
  } while (pending_ && static_cast<std::uint32_t>(rows_.Int(kAlignId)) == group.align_id);
  group.records.resize(n);
  return true;
}

// ---------------------------------------------------------------- Aligned_Result

template <typename Body>
auto Aligned_Result::Guard(Body body) -> decltype(body()) {
  return Guarded(path_, body);
}

Aligned_Result::Aligned_Result(std::string path)
    : path_(std::move(path)), db_(std::make_unique<CppSQLite3DB>()) {
  Guard([&] {
    db_->open(path_.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db_->tableExists("Align_Peaklist")) Fail(path_, "it has no table Align_Peaklist");
  });
}

Aligned_Result::Aligned_Result(Aligned_Result&&) noexcept = default;
Aligned_Result& Aligned_Result::operator=(Aligned_Result&&) noexcept = default;
Aligned_Result::~Aligned_Result() = default;

bool Aligned_Result::Has_Peaks() {
  return Guard(
      [&] { return db_->execScalar("SELECT EXISTS (SELECT 1 FROM Align_Peaklist)") != 0; });
}

bool Aligned_Result::Has_Aligned_Peaks() {
  return Guard([&] {
    return db_->execScalar("SELECT EXISTS (SELECT 1 FROM Align_Peaklist WHERE Align_ID >= 1)") != 0;
  });
}

std::vector<Result_Sample> Shown_Samples(const std::map<std::uint32_t, std::string>& names) {
  std::map<std::string, int> uses;
  for (const auto& [id, name] : names) ++uses[name];
  std::vector<Result_Sample> samples;
  for (const auto& [id, name] : names) {
    Result_Sample s{id, name, name};
    if (uses[s.name] > 1) s.shown += " (" + std::to_string(id) + ")";
    samples.push_back(std::move(s));
  }
  return samples;
}

std::vector<Result_Sample> Aligned_Result::Samples() {
  std::set<std::uint32_t> ids;
  std::map<std::uint32_t, std::string> names;
  Guard([&] {
    CppSQLite3Statement distinct =
        db_->compileStatement("SELECT DISTINCT SAMPLE_ID FROM Align_Peaklist");
    while (distinct.step()) ids.insert(static_cast<std::uint32_t>(distinct.fieldInt64(0)));
    CppSQLite3Statement name = db_->compileStatement(
        "SELECT SAMPLE_NAME FROM Align_Peaklist WHERE SAMPLE_ID = ?1 LIMIT 1");
    for (std::uint32_t id : ids) {
      name.bind(1, static_cast<int>(id));
      if (name.step() && name.fieldText(0)) names[id] = name.fieldText(0);
      name.reset();
    }
  });
  if (const std::optional<Run_Record> record = Read_Run_Record()) {
    for (const Run_Input& in : record->inputs) {
      if (ids.insert(in.sample_id).second) names[in.sample_id] = in.sample_name;
    }
  }
  for (std::uint32_t id : ids) names[id];  // "" for a sample without a name
  return Shown_Samples(names);
}

Result_Rows Aligned_Result::Scan(Result_Columns columns) {
  return Result_Rows(path_, *db_, columns, "");
}

Result_Groups Aligned_Result::Groups(Result_Columns columns) {
  return Result_Groups(
      Result_Rows(path_, *db_, columns.With(kAlignId), " WHERE Align_ID >= 1 ORDER BY Align_ID"));
}

std::optional<std::vector<Rt_Shift_Point>> Aligned_Result::Read_Rt_Correction() {
  return Guard([&] { return ::Read_Rt_Correction(*db_); });
}

std::optional<std::vector<Rt_Shift_Point>> Aligned_Result::Read_Rt_Anchors() {
  try {
    return ::Read_Rt_Anchors(*db_, path_);
  } catch (const std::runtime_error& e) {
    throw Aligned_Result_Error(e.what());
  }
}

std::optional<Run_Record> Aligned_Result::Read_Run_Record() {
  return ::Read_Run_Record(*db_, path_);
}

std::optional<Member_Choice_Record> Aligned_Result::Read_Member_Choice() {
  try {
    return ::Read_Member_Choice(*db_, path_);
  } catch (const std::runtime_error& e) {
    throw Aligned_Result_Error(e.what());
  }
}

std::optional<std::vector<std::int64_t>> Aligned_Result::Read_Gross_Shift_Not_Applied() {
  try {
    return ::Read_Gross_Shift_Not_Applied(*db_, path_);
  } catch (const std::runtime_error& e) {
    throw Aligned_Result_Error(e.what());
  }
}

Run_Record_Text Aligned_Result::Read_Run_Record_Text() {
  return Guard([&] { return ::Read_Run_Record_Text(*db_); });
}
