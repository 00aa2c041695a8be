#include "storage/annotated_reader.h"

#include <sqlite3.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

namespace fs = std::filesystem;
using Peak = Chromatogram_Peak_Group_Compound;

constexpr const char* kOrderedQuery = "select * from Annotate_Peaklist Order by EIC_ID";
constexpr const char* kStoredOrderQuery = "select * from Annotate_Peaklist";

// What the reader fills: a list of decoded peaks, or a batch.
struct Peak_Sink {
  std::vector<Peak>& peaklist;
  std::size_t Size() const { return peaklist.size(); }
  void Truncate(std::size_t n) {
    peaklist.erase(peaklist.begin() + static_cast<std::ptrdiff_t>(n), peaklist.end());
  }
  void No_Table() {}
  void Add(Peak_Row_Decoder& decoder) {
    Peak peak;
    decoder.Read(peak);
    peaklist.push_back(std::move(peak));
  }
};

struct Batch_Sink {
  Annotated_Batch& batch;
  std::string shape;
  std::size_t Size() const { return batch.peaks.size(); }
  void Truncate(std::size_t n) {
    batch.peaks.resize(n);
    batch.shape_end.resize(n);
    batch.shapes.resize(n == 0 ? 0 : batch.shape_end[n - 1]);
  }
  void No_Table() { batch.has_table = false; }
  void Add(Peak_Row_Decoder& decoder) {
    Peak peak;
    decoder.Read(peak, shape);
    batch.peaks.push_back(std::move(peak));
    batch.shapes += shape;
    batch.shape_end.push_back(batch.shapes.size());
  }
};

// Appends the rows of sql to sink. With check_order, gives up (returning
// false) at the first row whose EIC_ID is not an integer value or is below
// the one before it.
template <typename Sink>
bool ReadRows(CppSQLite3DB& db, const char* sql, bool check_order, Sink& sink) {
  CppSQLite3Statement query = db.compileStatement(sql);
  Peak_Row_Decoder decoder(query, Peak_Row_Decoder::Null_Reals::kError);
  const int eic = check_order ? query.findField("EIC_ID") : -1;
  if (check_order && eic < 0) return false;
  sqlite3_int64 last = std::numeric_limits<sqlite3_int64>::min();
  while (query.step()) {
    if (check_order) {
      if (sqlite3_column_type(query.handle(), eic) != SQLITE_INTEGER) return false;
      const sqlite3_int64 value = sqlite3_column_int64(query.handle(), eic);
      if (value < last) return false;
      last = value;
    }
    sink.Add(decoder);
  }
  query.finalize();
  return true;
}

// Reads the rows of the database at file (opened with mode) into peaklist;
// nothing without the table.
template <typename Sink>
void ReadDatabase(const std::string& file, CppSQLite3OpenMode mode, Sink& peaklist) {
  CppSQLite3DB db;
  db.open(file.c_str(), mode);
  // The first 128 MiB of the file (all of a usual input) are read through a
  // memory map rather than copied page by page through read(): about a sixth
  // less time for the whole read. The map holds at most that much memory and
  // only while the file is read.
  db.execDML("PRAGMA mmap_size=134217728;");
  if (!db.tableExists("Annotate_Peaklist")) {
    peaklist.No_Table();
    return;
  }
  // Tables are usually stored in EIC_ID order already. The stored order is
  // then a valid order of the ordered query (ties come in the order SQLite
  // returns them either way), and reading it spares SQLite a sort of every
  // row. Otherwise, or on any failure, the records read so far are dropped
  // and the ordered query runs, which also reports failures in EIC_ID order.
  const std::size_t before = peaklist.Size();
  bool done = false;
  try {
    done = ReadRows(db, kStoredOrderQuery, true, peaklist);
  } catch (...) {
    done = false;
  }
  if (!done) {
    peaklist.Truncate(before);
    ReadRows(db, kOrderedQuery, false, peaklist);
  }
  db.close();
}

// The detail of a failure without a leading "<file>: ".
std::string Detail_After(std::string_view detail, const std::string& file) {
  if (detail.starts_with(file + ": ")) detail.remove_prefix(file.size() + 2);
  return std::string(detail);
}

// The rollback journal SQLite keeps beside a database in rollback mode, and
// the log beside one in WAL mode.
constexpr const char* kJournal = "-journal";
constexpr const char* kWal = "-wal";

bool HasSideFile(const std::string& file, const char* suffix) {
  std::error_code ec;
  const std::string side = file + suffix;
  return fs::is_regular_file(side, ec) && fs::file_size(side, ec) > 0 && !ec;
}

bool HasJournal(const std::string& file) { return HasSideFile(file, kJournal); }

// True when the file's header marks a database in WAL mode (file format
// write and read versions 2). A read-only connection to one would make -wal
// and -shm files beside it (and fail where it may not).
bool IsWalDatabase(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  char header[20] = {};
  if (!in.read(header, sizeof header)) return false;
  return std::string_view(header, 16) == std::string_view("SQLite format 3\0", 16) &&
         header[18] == 2 && header[19] == 2;
}

// A fresh private folder under the temporary folder, removed with its
// contents when the object goes.
class Private_Folder {
 public:
  Private_Folder() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "varnel-recover-XXXXXX").string();
    if (ec || mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
  }
  Private_Folder(const Private_Folder&) = delete;
  Private_Folder& operator=(const Private_Folder&) = delete;
  ~Private_Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Reads a database whose hot journal (the trace of a writer that stopped in
// the middle of a transaction) a read-only connection cannot roll back: the
// database and its journal are copied into a private folder, the copy is
// opened read-write so that SQLite rolls it back to its last committed state,
// and that is read. The user's files are only read. Throws
// CppSQLite3Exception naming the cause when the copy cannot be made or read.
// The same for a WAL-mode database whose log (suffix kWal) still holds
// committed rows: the copy takes them in.
template <typename Sink>
void ReadThroughPrivateCopy(const std::string& file, Sink& peaklist, const char* side = kJournal) {
  const std::string cause =
      side == kWal ? "the database keeps rows in its log " + file + side
                   : "the database has an unfinished transaction (hot journal " + file + side + ")";
  try {
    Private_Folder folder;
    const std::string copy = Join_Path(folder.path(), "recovered.db");
    fs::copy_file(file, copy);
    fs::copy_file(file + side, copy + side);
    ReadDatabase(copy, CppSQLite3OpenMode::kReadWrite, peaklist);
  } catch (const CppSQLite3Exception& e) {
    throw CppSQLite3Exception(
        e.errorCode(),
        cause + "; rolling it back in a private copy failed: " + std::string(e.errorDetail()));
  } catch (const std::exception& e) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR,
                              cause + "; rolling it back in a private copy failed: " + e.what());
  }
}

// Reads Join_Path(Path, FileName) into sink, through a private copy when a
// hot journal keeps a read-only connection from reading it.
template <typename Sink>
void Read_Into(const std::string& Path, const std::string& FileName, Sink& peaklist) {
  const std::string file = Join_Path(Path, FileName);
  // A folder an import was killed in may hold old and new databases side
  // by side, or only part of its samples: none of them is taken.
  if (const std::string interrupted = Interrupted_Import(Path); !interrupted.empty()) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, file + ": not read: " + interrupted);
  }
  try {
    // Without a name the path is the folder itself, which SQLite reports as
    // a "disk I/O error".
    if (FileName.empty()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "empty file name");
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, "is a folder, not a database");
    }
    const std::size_t before = peaklist.Size();
    if (IsWalDatabase(file)) {
      // Read without side files: as it is when its log is empty, else
      // through a private copy that takes the log in.
      if (HasSideFile(file, kWal)) {
        ReadThroughPrivateCopy(file, peaklist, kWal);
      } else {
        ReadDatabase(file, CppSQLite3OpenMode::kReadOnlyImmutable, peaklist);
      }
      return;
    }
    try {
      ReadDatabase(file, CppSQLite3OpenMode::kReadOnly, peaklist);
    } catch (const CppSQLite3Exception& e) {
      // A read-only connection reports a hot journal it may not roll back as
      // "attempt to write a readonly database".
      if (e.errorCode() != SQLITE_READONLY || !HasJournal(file)) throw;
      peaklist.Truncate(before);
      ReadThroughPrivateCopy(file, peaklist);
    }
  } catch (const CppSQLite3Exception& e) {
    if (e.errorCode() != SQLITE_NOTADB) Rethrow_With_Context(file);
    // SQLite's words alone ("file is not a database") do not say what the
    // file was taken for.
    throw CppSQLite3Exception(e.errorCode(), file + ": " + kNotAnnotatedDatabase + " (" +
                                                 Detail_After(e.errorDetail(), file) + ")");
  } catch (...) {
    Rethrow_With_Context(file);
  }
}

}  // namespace

void Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, std::vector<Peak>& peaklist) {
  Peak_Sink sink{peaklist};
  Read_Into(Path, FileName, sink);
}

void Read_Annotated_Batch(const std::string& Path, const std::string& FileName,
                          Annotated_Batch& batch) {
  batch.clear();
  Batch_Sink sink{batch, {}};
  Read_Into(Path, FileName, sink);
}
