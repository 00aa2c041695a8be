#include "storage/aligned_writers.h"
#include "storage/csv_field.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "storage/cppsqlite3.h"
#include "storage/early_writeback.h"
#include "storage/number_text.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/peak_shape.h"
#include "storage/replacement_file.h"
#include "storage/result_columns.h"
#include "storage/sorted_index.h"

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr std::size_t kProgressEvery = 10000;

// Binds what the formatted insert's "%f" would store: the value SQLite reads
// from its own "%f" text. The text itself is bound; the REAL affinity of the
// column turns it into that value with the same conversion as the literal.
// NaN is stored as NULL and +-infinity as REAL infinity (a "%f" literal of
// them would not be valid SQL).
class Real_Binder {
 public:
  void Bind(CppSQLite3Statement& insert, int param, double value) {
    if (std::isnan(value)) {
      insert.bindNull(param);
    } else if (std::isinf(value)) {
      insert.bind(param, value);
    } else {
      char* text = texts_[next_];
      next_ = (next_ + 1) % kSlots;
      const char* end = Write_Sqlite_Fixed6(value, text);
      insert.bindStatic(param, text, static_cast<int>(end - text));
    }
  }

 private:
  static constexpr int kSlots = [] {
    int reals = 0;
    for (const Peak_Column& c : kAlignColumns) reals += c.kind == Column_Kind::kReal;
    return reals;
  }();
  static constexpr int kTextSize = kMaxFixed6Chars;
  char texts_[kSlots][kTextSize];
  int next_ = 0;
};

// Binds the row's values in stored column order.
void BindRow(CppSQLite3Statement& insert, Real_Binder& reals, const Align& p,
             std::string_view shape_stored) {
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    const int param = static_cast<int>(c) + 1;
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:  // "%d": 32-bit signed
        insert.bind(param, static_cast<int>(Int_Field(p, c)));
        break;
      case Column_Kind::kReal:
        reals.Bind(insert, param, Real_Field(p, c));
        break;
      case Column_Kind::kText:
        insert.bindStatic(param, Text_Field(p, c).c_str(), -1);  // '%s' stops at a NUL too
        break;
      case Column_Kind::kShape:
        insert.bindStatic(param, shape_stored.data(), static_cast<int>(shape_stored.size()));
        break;
    }
  }
}

// The indexed columns of Align_Peaklist, in table order.
constexpr std::size_t kIndexedCount = [] {
  std::size_t n = 0;
  for (const Peak_Column& c : kAlignColumns) n += c.indexed;
  return n;
}();
static_assert(kIndexedCount ==
              std::tuple_size_v<std::remove_cvref_t<decltype(Align_Index_Statements())>>);
constexpr std::array<std::size_t, kIndexedCount> kIndexedColumns = [] {
  std::array<std::size_t, kIndexedCount> out{};
  std::size_t n = 0;
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    if (kAlignColumns[c].indexed) out[n++] = c;
  }
  return out;
}();

// The indexes of Align_Peaklist, as its index statements create them.
std::vector<Integer_Index> Align_Indexes() {
  std::vector<Integer_Index> out;
  for (std::size_t c : kIndexedColumns) {
    const Peak_Column& column = kAlignColumns[c];
    out.push_back({Align_Index_Name(column), "Align_Peaklist", column.name, column.sql_type});
  }
  return out;
}

void AppendUnsigned(std::uint32_t value, std::string& out) {
  char buf[16];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// The default form of an output stream: "%g", six significant digits.
void AppendGeneral(double value, std::string& out) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6).ptr);
}

void AppendCsvLine(const Align& p, std::string& out) {
  for (std::size_t c = 0; c < kShownColumnCount; ++c) {
    if (c > 0) out.push_back(',');
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        AppendUnsigned(Int_Field(p, c), out);
        break;
      case Column_Kind::kReal:
        AppendGeneral(Real_Field(p, c), out);
        break;
      case Column_Kind::kText:
        Append_Csv_Field(Text_Field(p, c), out);
        break;
      case Column_Kind::kShape:
        break;  // not shown
    }
  }
  out.push_back('\n');
}

}  // namespace

Pending_Result_File::Pending_Result_File() = default;
Pending_Result_File::Pending_Result_File(std::unique_ptr<Replacement_File> file, std::string target)
    : file_(std::move(file)), target_(std::move(target)) {}
Pending_Result_File::Pending_Result_File(Pending_Result_File&&) noexcept = default;
Pending_Result_File& Pending_Result_File::operator=(Pending_Result_File&&) noexcept = default;
Pending_Result_File::~Pending_Result_File() = default;

void Pending_Result_File::Sync() {
  if (!file_) return;
  try {
    file_->Sync();
  } catch (...) {
    Rethrow_With_Context(target_);
  }
}

void Pending_Result_File::Commit() {
  if (!file_) return;
  try {
    file_->Commit();
  } catch (...) {
    Rethrow_With_Context(target_);
  }
  file_.reset();
}

// Rows of a list, the shape formatted and encoded for each row.
Aligned_Row_Source Rows_Of(const std::vector<Align>& list) {
  return [&list, text = std::string(), stored = std::string()](
             std::size_t i, bool with_shape) mutable -> Aligned_Row {
    const Align& p = list[i];
    if (!with_shape) return {&p, {}};
    text.clear();
    Format_Peak_Shape_Text(p.Peak_shape, text);
    Encode_Peak_Shape(text, stored);
    return {&p, stored};
  };
}

Pending_Result_File Write_Pending_Aligned_Database(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned,
    const std::string& Path, const std::string& FileName, const Row_Progress& progress,
    const Extra_Tables& extra_tables) {
  return Write_Pending_Aligned_Database(peaklist_aligned.size(), Rows_Of(peaklist_aligned), Path,
                                        FileName, progress, extra_tables);
}

Pending_Result_File Write_Pending_Aligned_Csv(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned,
    const std::string& Path, const std::string& FileName, const Row_Progress& progress) {
  return Write_Pending_Aligned_Csv(peaklist_aligned.size(), Rows_Of(peaklist_aligned), Path,
                                   FileName, progress);
}

Pending_Result_File Write_Pending_Aligned_Database(
    std::size_t count, const Aligned_Row_Source& rows, const std::string& Path,
    const std::string& FileName, const Row_Progress& progress, const Extra_Tables& extra_tables) {
  const std::string file = Join_Path(Path, FileName);
  try {
    auto out = std::make_unique<Replacement_File>(Path, FileName);
    out->Close();
    {
      CppSQLite3DB db;
      db.open(out->temp_path().c_str(), CppSQLite3OpenMode::kReadWrite);
      // The file is private until renamed, and a failure discards it: no
      // journal is needed, and Commit() syncs the finished file once.
      // 64 KiB pages: a sixteenth of the page writes and about a quarter less
      // space than 4 KiB pages for rows of a kilobyte and more; what a reader
      // sees is the same.
      db.execDML("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
      db.execDML("begin transaction;");
      db.execDML(Align_Create_Statement().c_str());
      // The indexes are built from the values kept here rather than by
      // CREATE INDEX over the filled table (see storage/sorted_index.h); the
      // stored schema and every index entry are the same.
      Sorted_Index_Builder indexes(db, Align_Indexes());
      indexes.Reserve(count);
      Early_Writeback writeback(out->temp_path());
      CppSQLite3Statement insert = db.compileStatement(Align_Insert_Statement().c_str());
      Real_Binder reals;
      std::size_t written = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const Aligned_Row row = rows(i, true);
        BindRow(insert, reals, *row.record, row.written_shape);
        insert.execDML();
        std::array<std::int32_t, kIndexedCount> values;
        for (std::size_t j = 0; j < kIndexedCount; ++j) {
          values[j] = static_cast<std::int32_t>(Int_Field(*row.record, kIndexedColumns[j]));
        }
        indexes.Add_Row(values.data());
        if (++written % kProgressEvery == 0) {
          writeback.Grown();
          if (progress) progress(written);
        }
      }
      insert.finalize();
      indexes.Finish();
      if (extra_tables) extra_tables(db);
      db.execDML("commit transaction;");
      db.close();
      if (progress && (written == 0 || written % kProgressEvery != 0)) progress(written);
    }
    return Pending_Result_File(std::move(out), file);
  } catch (...) {
    Rethrow_With_Context(file);
  }
}

Pending_Result_File Write_Pending_Aligned_Csv(std::size_t count, const Aligned_Row_Source& rows,
                                              const std::string& Path, const std::string& FileName,
                                              const Row_Progress& progress) {
  constexpr std::size_t kChunk = 1 << 20;
  const std::string file = Join_Path(Path, FileName);
  try {
    auto out = std::make_unique<Replacement_File>(Path, FileName);
    std::string buffer;
    buffer.reserve(kChunk + 4096);
    buffer += Align_Csv_Header();
    Early_Writeback writeback(out->temp_path());
    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
      AppendCsvLine(*rows(i, false).record, buffer);
      if (buffer.size() >= kChunk) {
        out->Write(buffer);
        buffer.clear();
        writeback.Grown();
      }
      if (++written % kProgressEvery == 0 && progress) progress(written);
    }
    out->Write(buffer);
    if (progress && (written == 0 || written % kProgressEvery != 0)) progress(written);
    return Pending_Result_File(std::move(out), file);
  } catch (...) {
    Rethrow_With_Context(file);
  }
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress, const Extra_Tables& extra_tables) {
  Write_Pending_Aligned_Database(peaklist_aligned, Path, FileName, progress, extra_tables).Commit();
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress) {
  Write_Pending_Aligned_Csv(peaklist_aligned, Path, FileName, progress).Commit();
}
