#include "storage/peak_columns.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "storage/peak_shape.h"
#include "storage/sqlite/number_text.h"
#include "storage/stored_shape.h"

namespace {

constexpr std::size_t kEicId = Column_Of("EIC_ID");
constexpr std::size_t kPeakId = Column_Of("Peak_ID");

// Whether the record read from the table has the column (the annotated record
// has the 17 columns of Annotate_Peaklist).
bool Has_Column(std::size_t c, bool aligned) { return aligned || kAlignColumns[c].in_annotated; }

[[noreturn]] void ThrowNull() { throw CppSQLite3Exception(CPPSQLITE_ERROR, "NULL value"); }

std::string_view ColumnText(sqlite3_stmt* stmt, int index) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
  if (!text) return {};
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

}  // namespace

void Rethrow_With_Context(const std::string& context) {
  // The conversion's own words follow Varnel's, which say what is wrong.
  const auto told = [](std::string_view what) {
    if (what == kInvalidIntegerText) return "not a whole number (" + std::string(what) + ")";
    if (what == kIntegerRangeText) {
      return "a whole number beyond 32 bits (" + std::string(what) + ")";
    }
    return std::string(what);
  };
  try {
    throw;
  } catch (const CppSQLite3Exception& e) {
    throw CppSQLite3Exception(e.errorCode(), context + ": " + std::string(e.errorDetail()));
  } catch (const std::out_of_range& e) {
    throw std::out_of_range(context + ": " + told(e.what()));
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(context + ": " + told(e.what()));
  }
}

Peak_Row_Decoder::Peak_Row_Decoder(const CppSQLite3Statement& stmt, Null_Reals null_reals)
    : stmt_(stmt), null_reals_(null_reals) {}

// Peak_shape first, then the others in stored order.
void Peak_Row_Decoder::Resolve(bool aligned) {
  auto resolve = [&](std::size_t c) {
    index_[c] = stmt_.findField(kAlignColumns[c].name);
    if (index_[c] < 0) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, std::string("column ") + kAlignColumns[c].name +
                                                     ": Invalid field name requested");
    }
  };
  resolve(kShapeColumn);
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    if (c != kShapeColumn && Has_Column(c, aligned)) resolve(c);
  }
  resolved_count_ = static_cast<int>(aligned ? kAlignColumnCount : kAnnotateColumnCount);
}

int Peak_Row_Decoder::Int(Column c) {
  current_ = c;
  sqlite3_stmt* stmt = stmt_.handle();
  const int index = index_[c];
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER: {
      // The text of an integer value is its decimal: the range check is all
      // the strict conversion would do.
      const sqlite3_int64 value = sqlite3_column_int64(stmt, index);
      if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        throw std::out_of_range("stoi argument out of range");
      }
      return static_cast<int>(value);
    }
    case SQLITE_NULL:
      ThrowNull();
    default:
      return Strict_Int(ColumnText(stmt, index));
  }
}

double Peak_Row_Decoder::Real(Column c) {
  current_ = c;
  sqlite3_stmt* stmt = stmt_.handle();
  const int index = index_[c];
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_FLOAT:
      // The stored double itself. Its text would be SQLite's 15-digit
      // rendering, which gives the same value back for every double of up to
      // 15 significant digits and drops the digits beyond.
      return sqlite3_column_double(stmt, index);
    case SQLITE_NULL:
      if (null_reals_ == Null_Reals::kNaN) return std::numeric_limits<double>::quiet_NaN();
      ThrowNull();
    default:
      return Lenient_Real(ColumnText(stmt, index));
  }
}

std::string Peak_Row_Decoder::Text(Column c) {
  current_ = c;
  sqlite3_stmt* stmt = stmt_.handle();
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index_[c]));
  if (!text) ThrowNull();
  return std::string(text);  // up to its first NUL, as a C string
}

// Peak_shape first, then the others in stored order.
template <typename Peak>
void Peak_Row_Decoder::ReadColumns(Peak& peak, bool aligned, std::string* written_shape) {
  current_ = kShapeColumn;
  sqlite3_stmt* stmt = stmt_.handle();
  if (sqlite3_column_type(stmt, index_[kShapeColumn]) == SQLITE_NULL) ThrowNull();
  if (written_shape != nullptr) {
    Written_Form_Of(ColumnText(stmt, index_[kShapeColumn]), *written_shape, scratch_points_);
  } else {
    Decode_Peak_Shape(ColumnText(stmt, index_[kShapeColumn]), peak.Peak_shape);
  }
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    if (!Has_Column(c, aligned)) continue;
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        Int_Field(peak, c) = static_cast<std::uint32_t>(Int(c));
        break;
      case Column_Kind::kReal:
        Real_Field(peak, c) = Real(c);
        break;
      case Column_Kind::kText:
        Text_Field(peak, c) = Text(c);
        break;
      case Column_Kind::kShape:
        break;  // read first
    }
  }
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound& peak) {
  if (resolved_count_ < static_cast<int>(kAnnotateColumnCount)) Resolve(false);
  try {
    ReadColumns(peak, false);
  } catch (...) {
    Rethrow_With_Context(RowContext());
  }
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound& peak, std::string& written_shape) {
  if (resolved_count_ < static_cast<int>(kAnnotateColumnCount)) Resolve(false);
  try {
    ReadColumns(peak, false, &written_shape);
  } catch (...) {
    Rethrow_With_Context(RowContext());
  }
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound_Align& peak) {
  if (resolved_count_ < static_cast<int>(kAlignColumnCount)) Resolve(true);
  try {
    ReadColumns(peak, true);
  } catch (...) {
    Rethrow_With_Context(RowContext());
  }
}

std::string Peak_Row_Decoder::RowContext() const {
  constexpr std::size_t kMaxShown = 40;
  auto shown = [&](Column c) {
    sqlite3_stmt* stmt = stmt_.handle();
    if (sqlite3_column_type(stmt, index_[c]) == SQLITE_NULL) return std::string("NULL");
    std::string text(ColumnText(stmt, index_[c]).substr(0, kMaxShown));
    return text;
  };
  return std::string("column ") + kAlignColumns[current_].name + ", EIC_ID " + shown(kEicId) +
         " Peak_ID " + shown(kPeakId);
}
