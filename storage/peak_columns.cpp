#include "storage/peak_columns.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "storage/number_text.h"
#include "storage/peak_shape.h"
#include "storage/stored_shape.h"

namespace {

constexpr const char* kColumnNames[] = {"Peak_shape",
                                        "EIC_ID",
                                        "Peak_ID",
                                        "Apex_MZ",
                                        "Apex_Pos",
                                        "Apex_Retention_Time",
                                        "Apex_Intensity",
                                        "Peak_Area",
                                        "Peak_SNR",
                                        "Left_Boundary",
                                        "Right_Boundary",
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
constexpr int kAnnotatedColumns = 17;
constexpr int kAlignedColumns = 21;

[[noreturn]] void ThrowNull() { throw CppSQLite3Exception(CPPSQLITE_ERROR, "NULL value"); }

std::string_view ColumnText(sqlite3_stmt* stmt, int index) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
  if (!text) return {};
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

}  // namespace

void Rethrow_With_Context(const std::string& context) {
  try {
    throw;
  } catch (const CppSQLite3Exception& e) {
    throw CppSQLite3Exception(e.errorCode(), context + ": " + std::string(e.errorDetail()));
  } catch (const std::out_of_range& e) {
    throw std::out_of_range(context + ": " + e.what());
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(context + ": " + e.what());
  }
}

Peak_Row_Decoder::Peak_Row_Decoder(const CppSQLite3Statement& stmt, Null_Reals null_reals)
    : stmt_(stmt), null_reals_(null_reals) {}

void Peak_Row_Decoder::Resolve(int column_count) {
  for (int c = 0; c < column_count; ++c) {
    index_[c] = stmt_.findField(kColumnNames[c]);
    if (index_[c] < 0) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, std::string("column ") + kColumnNames[c] +
                                                     ": Invalid field name requested");
    }
  }
  resolved_count_ = column_count;
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

template <typename Peak>
void Peak_Row_Decoder::ReadShared(Peak& peak, std::string* written_shape) {
  current_ = kPeakShape;
  sqlite3_stmt* stmt = stmt_.handle();
  if (sqlite3_column_type(stmt, index_[kPeakShape]) == SQLITE_NULL) ThrowNull();
  if (written_shape != nullptr) {
    Written_Form_Of(ColumnText(stmt, index_[kPeakShape]), *written_shape, scratch_points_);
  } else {
    Decode_Peak_Shape(ColumnText(stmt, index_[kPeakShape]), peak.Peak_shape);
  }
  peak.EIC_ID = static_cast<std::uint32_t>(Int(kEicId));
  peak.Peak_ID = static_cast<std::uint32_t>(Int(kPeakId));
  peak.Apex_MZ = Real(kApexMz);
  peak.Apex_Pos = static_cast<std::uint32_t>(Int(kApexPos));
  peak.Apex_Retention_Time = Real(kApexRetentionTime);
  peak.Apex_Intensity = Real(kApexIntensity);
  peak.Peak_Area = Real(kPeakArea);
  peak.Peak_SNR = Real(kPeakSnr);
  peak.Left_Boundary = static_cast<std::uint32_t>(Int(kLeftBoundary));
  peak.Right_Boundary = static_cast<std::uint32_t>(Int(kRightBoundary));
  peak.Group_ID = static_cast<std::uint32_t>(Int(kGroupId));
  peak.Adduct_Annotation = Text(kAdductAnnotation);
  peak.Compound_ID = static_cast<std::uint32_t>(Int(kCompoundId));
  peak.Compound_MolecularMass = Real(kCompoundMolecularMass);
  peak.Compound_Retention_Time = Real(kCompoundRetentionTime);
  peak.Compound_Intensity = Real(kCompoundIntensity);
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound& peak) {
  if (resolved_count_ < kAnnotatedColumns) Resolve(kAnnotatedColumns);
  try {
    ReadShared(peak);
  } catch (...) {
    Rethrow_With_Context(RowContext());
  }
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound& peak, std::string& written_shape) {
  if (resolved_count_ < kAnnotatedColumns) Resolve(kAnnotatedColumns);
  try {
    ReadShared(peak, &written_shape);
  } catch (...) {
    Rethrow_With_Context(RowContext());
  }
}

void Peak_Row_Decoder::Read(Chromatogram_Peak_Group_Compound_Align& peak) {
  if (resolved_count_ < kAlignedColumns) Resolve(kAlignedColumns);
  try {
    ReadShared(peak);
    peak.SAMPLE_ID = static_cast<std::uint32_t>(Int(kSampleId));
    peak.SAMPLE_NAME = Text(kSampleName);
    peak.Align_ID = static_cast<std::uint32_t>(Int(kAlignId));
    peak.Align_RT = Real(kAlignRt);
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
  return std::string("column ") + kColumnNames[current_] + ", EIC_ID " + shown(kEicId) +
         " Peak_ID " + shown(kPeakId);
}
