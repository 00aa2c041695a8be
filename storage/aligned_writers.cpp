#include "storage/aligned_writers.h"
#include "storage/csv_field.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>
#include <vector>

#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/peak_shape.h"
#include "storage/replacement_file.h"
#include "storage/result_columns.h"
#include "storage/sqlite/btree_writer.h"
#include "storage/sqlite/cppsqlite3.h"
#include "storage/sqlite/number_text.h"

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr std::size_t kProgressEvery = 10000;

// The stored value of a real column: what the formatted insert's "%f" text
// becomes in a column of REAL affinity. NaN is stored as NULL and
// +-infinity as REAL infinity (a "%f" literal of them would not be valid SQL).
void Add_Real_Column(Sqlite_Record& record, double value) {
  if (std::isnan(value)) {
    record.Add_Null();
  } else if (std::isinf(value)) {
    record.Add_Real(value);
  } else {
    record.Add_Real(Sqlite_Fixed6_Real(value));
  }
}

// The row's values in stored column order, as the formatted insert stores
// them: "%d" 32-bit signed, '%s' texts up to a NUL, the shape's stored form
// as TEXT.
void Make_Record(Sqlite_Record& record, const Align& p, std::string_view shape_stored) {
  record.Clear();
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        record.Add_Integer(static_cast<std::int32_t>(Int_Field(p, c)));
        break;
      case Column_Kind::kReal:
        Add_Real_Column(record, Real_Field(p, c));
        break;
      case Column_Kind::kText:
        record.Add_Text(std::string_view(Text_Field(p, c).c_str()));
        break;
      case Column_Kind::kShape:
        record.Add_Text(shape_stored);
        break;
    }
  }
}

// Whether the rows go in through SQLite's own prepared inserts instead of as
// written pages: VARNEL_SQLITE_INSERTS=1. Slower, the same result for SQL.
bool Use_Sqlite_Inserts() {
  const char* value = std::getenv("VARNEL_SQLITE_INSERTS");
  return value != nullptr && std::string_view(value) == "1";
}

// Inserts the rows with one prepared statement, in one transaction, each
// value bound as the formatted insert writes it: "%d" 32-bit signed, a real
// as SQLite's own "%f" text (which the column's REAL affinity converts),
// texts up to a NUL, the shape's stored form as TEXT.
std::size_t Insert_Rows(CppSQLite3DB& db, std::size_t count, const Aligned_Row_Source& rows,
                        const Row_Progress& progress) {
  std::string sql = "insert into Align_Peaklist values(";
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    sql += (c ? ",?" : "?") + std::to_string(c + 1);
  }
  sql += ");";
  db.execDML("begin transaction;");
  CppSQLite3Statement insert = db.compileStatement(sql.c_str());
  char real[kMaxFixed6Chars];
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Aligned_Row row = rows(i, true);
    const Align& p = *row.record;
    for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
      const int n = static_cast<int>(c + 1);
      switch (kAlignColumns[c].kind) {
        case Column_Kind::kInteger:
          insert.bind(n, static_cast<std::int32_t>(Int_Field(p, c)));
          break;
        case Column_Kind::kReal: {
          const double v = Real_Field(p, c);
          if (std::isnan(v)) {
            insert.bindNull(n);
          } else if (std::isinf(v)) {
            insert.bind(n, v);
          } else {
            sqlite3_snprintf(kMaxFixed6Chars, real, "%f", v);
            insert.bind(n, real);
          }
          break;
        }
        case Column_Kind::kText:
          insert.bind(n, Text_Field(p, c).c_str());
          break;
        case Column_Kind::kShape:
          insert.bind(n, row.written_shape.data(), static_cast<int>(row.written_shape.size()));
          break;
      }
    }
    insert.execDML();
    insert.reset();
    if (++written % kProgressEvery == 0 && progress) progress(written);
  }
  insert.finalize();
  db.execDML("commit transaction;");
  return written;
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

// The rows whose index entries are sorted in memory at once: up to
// VARNEL_INDEX_RUN_ROWS when set (a positive number), else the sorter's
// default. More rows are sorted in runs of that many through a temporary
// file beside the database; the file's bytes are the same.
std::size_t Index_Run_Rows() {
  const char* value = std::getenv("VARNEL_INDEX_RUN_ROWS");
  if (value != nullptr) {
    char* end = nullptr;
    const unsigned long long rows = std::strtoull(value, &end, 10);
    if (end != value && *end == '\0' && rows > 0) return static_cast<std::size_t>(rows);
  }
  return Index_Entry_Sorter::kDefaultRunRows;
}

// Fills the empty table and indexes of the fresh database at path with the
// rows, written as pages (see storage/sqlite/btree_writer.h). The indexed values go
// to a sorter (24 bytes a row of a run in memory, see Index_Run_Rows) and
// come back in index order for each index.
std::size_t Write_Pages(const std::string& path, std::size_t count, const Aligned_Row_Source& rows,
                        const Row_Progress& progress) {
  std::uint32_t table_root = 0;
  std::array<std::uint32_t, kIndexedCount> index_roots{};
  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
    CppSQLite3Statement root =
        db.compileStatement("select rootpage from sqlite_master where name = ?1;");
    auto root_of = [&root](const std::string& name) {
      root.bind(1, name.c_str());
      if (!root.step()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "no tree for " + name);
      const auto page = static_cast<std::uint32_t>(root.fieldInt64(0));
      root.reset();
      return page;
    };
    table_root = root_of("Align_Peaklist");
    for (std::size_t j = 0; j < kIndexedCount; ++j) {
      index_roots[j] = root_of(Align_Index_Name(kAlignColumns[kIndexedColumns[j]]));
    }
    root.finalize();
    db.close();
  }
  std::size_t written = 0;
  Btree_Writer tree(path);
  Index_Entry_Sorter entries(kIndexedCount, Own_Temporary_Pattern(Split_Path(path).folder),
                             Index_Run_Rows());
  std::array<std::int32_t, kIndexedCount> values;
  Sqlite_Record record;
  for (std::size_t i = 0; i < count; ++i) {
    const Aligned_Row row = rows(i, true);
    Make_Record(record, *row.record, row.written_shape);
    tree.Append_Row(table_root, record);
    for (std::size_t j = 0; j < kIndexedCount; ++j) {
      values[j] = static_cast<std::int32_t>(Int_Field(*row.record, kIndexedColumns[j]));
    }
    entries.Add_Row(values);
    if (++written % kProgressEvery == 0 && progress) progress(written);
  }
  tree.Finish_Table();
  for (std::size_t j = 0; j < kIndexedCount; ++j) {
    tree.Write_Index(index_roots[j], entries.Entries(j));
  }
  tree.Finish();
  return written;
}

void AppendUnsigned(std::uint32_t value, std::string& out) {
  char buf[16];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// The default form of an output stream: "%g", six significant digits.
void AppendGeneral(double value, std::string& out) {
  char buf[kMaxGeneral6Chars];
  out.append(buf, Write_General6(value, buf));
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

// The CSV file's bytes on their way out: lines gather in buffer(); whole
// chunks of kChunk bytes go to the disk past the page cache (O_DIRECT) where
// the file system allows it, as the database's pages do, so that writing the
// file costs no kernel copy and leaves no dirty pages behind for the sync;
// the last, partial chunk goes through the page cache. With
// VARNEL_BUFFERED_CSV=1 in the environment every byte goes through the page
// cache (the way to measure what this saves). The same bytes either way.
class Csv_Output {
 public:
  static constexpr std::size_t kChunk = std::size_t{4} << 20;

  explicit Csv_Output(Replacement_File& file) : file_(file) {
    buffer_.reserve(kChunk + 4096);
    const char* buffered = std::getenv("VARNEL_BUFFERED_CSV");
    if (buffered != nullptr && std::string_view(buffered) == "1") return;
    direct_fd_ = ::open(file.temp_path().c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (direct_fd_ < 0) return;
    chunk_ = static_cast<char*>(std::aligned_alloc(4096, kChunk));
    if (chunk_ == nullptr) Stop_Direct();
  }
  Csv_Output(const Csv_Output&) = delete;
  Csv_Output& operator=(const Csv_Output&) = delete;
  ~Csv_Output() { Stop_Direct(); }

  std::string& buffer() { return buffer_; }

  // Writes out every whole chunk of the buffer.
  void Write_Chunks() {
    std::size_t at = 0;
    while (buffer_.size() - at >= kChunk) {
      Write(std::string_view(buffer_).substr(at, kChunk));
      at += kChunk;
    }
    buffer_.erase(0, at);
  }

  // Writes out the rest.
  void Finish() {
    Write_Chunks();
    if (!buffer_.empty()) file_.Write_At(buffer_, offset_);
    offset_ += buffer_.size();
    buffer_.clear();
  }

 private:
  void Write(std::string_view chunk) {
    if (direct_fd_ >= 0) {
      std::memcpy(chunk_, chunk.data(), chunk.size());
      std::size_t done = 0;
      while (done < chunk.size()) {
        const ssize_t n = ::pwrite(direct_fd_, chunk_ + done, chunk.size() - done,
                                   static_cast<off_t>(offset_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EINVAL && done == 0) {
          Stop_Direct();  // this file system wants other alignments
          break;
        }
        if (n < 0) Fail_Errno("cannot write");
        if (n == 0) {
          errno = EIO;
          Fail_Errno("cannot write");
        }
        done += static_cast<std::size_t>(n);
      }
      if (done == chunk.size()) {
        offset_ += chunk.size();
        return;
      }
    }
    file_.Write_At(chunk, offset_);
    offset_ += chunk.size();
  }

  void Stop_Direct() {
    if (direct_fd_ >= 0) ::close(direct_fd_);
    direct_fd_ = -1;
    std::free(chunk_);
    chunk_ = nullptr;
  }

  [[noreturn]] static void Fail_Errno(const char* what) {
    const int error = errno;
    throw CppSQLite3Exception(CPPSQLITE_ERROR, std::string(what) + ": " + std::strerror(error));
  }

  Replacement_File& file_;
  std::string buffer_;
  int direct_fd_ = -1;
  char* chunk_ = nullptr;  // 4096-aligned, kChunk bytes, while direct
  std::uint64_t offset_ = 0;
};

}  // namespace

Pending_Result_File::Pending_Result_File() = default;
Pending_Result_File::Pending_Result_File(std::unique_ptr<Replacement_File> file, std::string target)
    : file_(std::move(file)), target_(std::move(target)) {}
Pending_Result_File::Pending_Result_File(Pending_Result_File&&) noexcept = default;
Pending_Result_File& Pending_Result_File::operator=(Pending_Result_File&&) noexcept = default;
Pending_Result_File::~Pending_Result_File() = default;

const std::string& Pending_Result_File::temp_path() const { return file_->temp_path(); }

void Pending_Result_File::Release() {
  if (!file_) return;
  file_->Release();
  file_.reset();
}

void Pending_Result_File::Keep_On_Stop() {
  if (file_) file_->Keep_On_Stop();
}

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
    if (count > std::numeric_limits<std::uint32_t>::max()) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, "too many rows for one result");
    }
    auto out = std::make_unique<Replacement_File>(Path, FileName);
    out->Close();
    // SQLite makes the schema: the table and its indexes, all empty. The
    // file is private until renamed, and a failure discards it: no journal
    // is needed, and Commit() syncs the finished file once. 64 KiB pages: a
    // sixteenth of the page writes and about a quarter less space than 4 KiB
    // pages for rows of a kilobyte and more; what a reader sees is the same.
    std::size_t written = 0;
    {
      CppSQLite3DB db;
      db.open(out->temp_path().c_str(), CppSQLite3OpenMode::kReadWrite);
      db.execDML("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
      db.execDML("begin transaction;");
      db.execDML(Align_Create_Statement().c_str());
      for (const std::string& index : Align_Index_Statements()) db.execDML(index.c_str());
      db.execDML("commit transaction;");
      if (Use_Sqlite_Inserts()) written = Insert_Rows(db, count, rows, progress);
      db.close();
    }
    if (!Use_Sqlite_Inserts()) written = Write_Pages(out->temp_path(), count, rows, progress);
    if (extra_tables) {
      CppSQLite3DB db;
      db.open(out->temp_path().c_str(), CppSQLite3OpenMode::kReadWrite);
      db.execDML("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
      db.execDML("begin transaction;");
      extra_tables(db);
      db.execDML("commit transaction;");
      db.close();
    }
    if (progress && (written == 0 || written % kProgressEvery != 0)) progress(written);
    return Pending_Result_File(std::move(out), file);
  } catch (...) {
    Rethrow_With_Context(file);
  }
}

Pending_Result_File Write_Pending_Aligned_Csv(std::size_t count, const Aligned_Row_Source& rows,
                                              const std::string& Path, const std::string& FileName,
                                              const Row_Progress& progress) {
  const std::string file = Join_Path(Path, FileName);
  try {
    auto out = std::make_unique<Replacement_File>(Path, FileName);
    Csv_Output csv(*out);
    std::string& buffer = csv.buffer();
    buffer += Align_Csv_Header();
    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
      AppendCsvLine(*rows(i, false).record, buffer);
      if (buffer.size() >= Csv_Output::kChunk) csv.Write_Chunks();
      if (++written % kProgressEvery == 0 && progress) progress(written);
    }
    csv.Finish();
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

void To_Stored_Values(Chromatogram_Peak_Group_Compound_Align& record) {
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kReal: {
        double& value = Real_Field(record, c);
        if (std::isfinite(value)) value = Sqlite_Fixed6_Real(value);
        break;
      }
      case Column_Kind::kText: {
        std::string& text = Text_Field(record, c);
        text.resize(std::strlen(text.c_str()));
        break;
      }
      default:
        break;
    }
  }
}
