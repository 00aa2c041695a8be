#include "storage/aligned_writers.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "storage/cppsqlite3.h"
#include "storage/number_text.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/peak_shape.h"
#include "storage/replacement_file.h"

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr const char* kCreateTable =
    "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
    "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
    "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), "
    "Compound_ID int, Compound_MolecularMass double, Compound_Retention_Time double, "
    "Compound_Intensity double, SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, "
    "Align_RT double, Peak_shape blob);";

constexpr const char* kCreateIndexes[] = {
    "CREATE INDEX if not exists Align_Peaklist_EIC_ID_index ON Align_Peaklist(EIC_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Peak_ID_index ON Align_Peaklist(Peak_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Group_ID_index ON Align_Peaklist(Group_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Compound_ID_index ON Align_Peaklist(Compound_ID);",
    "CREATE INDEX if not exists Align_Peaklist_SAMPLE_ID_index ON Align_Peaklist(SAMPLE_ID);",
    "CREATE INDEX if not exists Align_Peaklist_Align_ID_index ON Align_Peaklist(Align_ID);",
};

constexpr const char* kInsert =
    "insert into Align_Peaklist values(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
    "?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21);";

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
  static constexpr int kSlots = 9;  // doubles per row
  static constexpr int kTextSize = kMaxFixed6Chars;
  char texts_[kSlots][kTextSize];
  int next_ = 0;
};

void BindRow(CppSQLite3Statement& insert, Real_Binder& reals, const Align& p,
             std::string_view shape_stored) {
  auto as_int = [](std::uint32_t v) { return static_cast<int>(v); };  // "%d": 32-bit signed
  insert.bind(1, as_int(p.EIC_ID));
  insert.bind(2, as_int(p.Peak_ID));
  reals.Bind(insert, 3, p.Apex_MZ);
  insert.bind(4, as_int(p.Apex_Pos));
  reals.Bind(insert, 5, p.Apex_Retention_Time);
  reals.Bind(insert, 6, p.Apex_Intensity);
  reals.Bind(insert, 7, p.Peak_Area);
  reals.Bind(insert, 8, p.Peak_SNR);
  insert.bind(9, as_int(p.Left_Boundary));
  insert.bind(10, as_int(p.Right_Boundary));
  insert.bind(11, as_int(p.Group_ID));
  insert.bindStatic(12, p.Adduct_Annotation.c_str(), -1);  // '%s' stops at a NUL too
  insert.bind(13, as_int(p.Compound_ID));
  reals.Bind(insert, 14, p.Compound_MolecularMass);
  reals.Bind(insert, 15, p.Compound_Retention_Time);
  reals.Bind(insert, 16, p.Compound_Intensity);
  insert.bind(17, as_int(p.SAMPLE_ID));
  insert.bindStatic(18, p.SAMPLE_NAME.c_str(), -1);
  insert.bind(19, as_int(p.Align_ID));
  reals.Bind(insert, 20, p.Align_RT);
  insert.bindStatic(21, shape_stored.data(), static_cast<int>(shape_stored.size()));
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

// A text holding a comma, a double quote or a line break is quoted (RFC 4180).
void AppendText(const std::string& text, std::string& out) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendCsvLine(const Align& p, std::string& out) {
  AppendUnsigned(p.EIC_ID, out);
  out.push_back(',');
  AppendUnsigned(p.Peak_ID, out);
  out.push_back(',');
  AppendGeneral(p.Apex_MZ, out);
  out.push_back(',');
  AppendUnsigned(p.Apex_Pos, out);
  out.push_back(',');
  AppendGeneral(p.Apex_Retention_Time, out);
  out.push_back(',');
  AppendGeneral(p.Apex_Intensity, out);
  out.push_back(',');
  AppendGeneral(p.Peak_Area, out);
  out.push_back(',');
  AppendGeneral(p.Peak_SNR, out);
  out.push_back(',');
  AppendUnsigned(p.Left_Boundary, out);
  out.push_back(',');
  AppendUnsigned(p.Right_Boundary, out);
  out.push_back(',');
  AppendUnsigned(p.Group_ID, out);
  out.push_back(',');
  AppendText(p.Adduct_Annotation, out);
  out.push_back(',');
  AppendUnsigned(p.Compound_ID, out);
  out.push_back(',');
  AppendGeneral(p.Compound_MolecularMass, out);
  out.push_back(',');
  AppendGeneral(p.Compound_Retention_Time, out);
  out.push_back(',');
  AppendGeneral(p.Compound_Intensity, out);
  out.push_back(',');
  AppendUnsigned(p.SAMPLE_ID, out);
  out.push_back(',');
  AppendText(p.SAMPLE_NAME, out);
  out.push_back(',');
  AppendUnsigned(p.Align_ID, out);
  out.push_back(',');
  AppendGeneral(p.Align_RT, out);
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
    const std::string& Path, const std::string& FileName, const Row_Progress& progress) {
  return Write_Pending_Aligned_Database(peaklist_aligned.size(), Rows_Of(peaklist_aligned), Path,
                                        FileName, progress);
}

Pending_Result_File Write_Pending_Aligned_Csv(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned,
    const std::string& Path, const std::string& FileName, const Row_Progress& progress) {
  return Write_Pending_Aligned_Csv(peaklist_aligned.size(), Rows_Of(peaklist_aligned), Path,
                                   FileName, progress);
}

Pending_Result_File Write_Pending_Aligned_Database(std::size_t count,
                                                   const Aligned_Row_Source& rows,
                                                   const std::string& Path,
                                                   const std::string& FileName,
                                                   const Row_Progress& progress) {
  const std::string file = Join_Path(Path, FileName);
  try {
    auto out = std::make_unique<Replacement_File>(Path, FileName);
    out->Close();
    {
      CppSQLite3DB db;
      db.open(out->temp_path().c_str(), CppSQLite3OpenMode::kReadWrite);
      // The file is private until renamed, and a failure discards it: no
      // journal is needed, and Commit() syncs the finished file once.
      db.execDML("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
      db.execDML("begin transaction;");
      db.execDML(kCreateTable);
      CppSQLite3Statement insert = db.compileStatement(kInsert);
      Real_Binder reals;
      std::size_t written = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const Aligned_Row row = rows(i, true);
        BindRow(insert, reals, *row.record, row.written_shape);
        insert.execDML();
        if (++written % kProgressEvery == 0 && progress) progress(written);
      }
      insert.finalize();
      // Building the indexes over the filled table is faster than keeping
      // them up to date row by row; the stored schema is the same.
      for (const char* index : kCreateIndexes) db.execDML(index);
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
    buffer +=
        "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,"
        "Left_Boundary,Right_boundary,Group_ID,Adduct_Annotation,Compound_ID,"
        "Compound_MolecularMass,Compound_Retention_Time,Compound_Intensity,SAMPLE_ID,SAMPLE_NAME,"
        "Align_ID,Align_RT\n";
    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
      AppendCsvLine(*rows(i, false).record, buffer);
      if (buffer.size() >= kChunk) {
        out->Write(buffer);
        buffer.clear();
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
    std::string FileName, const Row_Progress& progress) {
  Write_Pending_Aligned_Database(peaklist_aligned, Path, FileName, progress).Commit();
}

void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress) {
  Write_Pending_Aligned_Csv(peaklist_aligned, Path, FileName, progress).Commit();
}
