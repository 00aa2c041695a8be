#include "storage/annotated_reader.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/peak_columns.h"

namespace {

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

template <typename Sink>
void Read_Into(const std::string& Path, const std::string& FileName, Sink& sink) {
  const std::string file = Join_Path(Path, FileName);
  try {
    // Without a name the path is the folder itself, which SQLite reports as
    // a "disk I/O error".
    if (FileName.empty()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "empty file name");
    CppSQLite3DB db;
    db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db.tableExists("Annotate_Peaklist")) return;
    // Tables are usually stored in EIC_ID order already. The stored order is
    // then a valid order of the ordered query (ties come in the order SQLite
    // returns them either way), and reading it spares SQLite a sort of every
    // row. Otherwise, or on any failure, the records read so far are dropped
    // and the ordered query runs, which also reports failures in EIC_ID order.
    const std::size_t before = sink.Size();
    bool done = false;
    try {
      done = ReadRows(db, kStoredOrderQuery, true, sink);
    } catch (...) {
      done = false;
    }
    if (!done) {
      sink.Truncate(before);
      ReadRows(db, kOrderedQuery, false, sink);
    }
    db.close();
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
