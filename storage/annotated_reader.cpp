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

// Appends the rows of sql to peaklist. With check_order, gives up (returning
// false) at the first row whose EIC_ID is not an integer value or is below
// the one before it.
bool ReadRows(CppSQLite3DB& db, const char* sql, bool check_order, std::vector<Peak>& peaklist) {
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
    Peak peak;
    decoder.Read(peak);
    peaklist.push_back(std::move(peak));
  }
  query.finalize();
  return true;
}

}  // namespace

void Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, std::vector<Peak>& peaklist) {
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
    const std::size_t before = peaklist.size();
    bool done = false;
    try {
      done = ReadRows(db, kStoredOrderQuery, true, peaklist);
    } catch (...) {
      done = false;
    }
    if (!done) {
      peaklist.erase(peaklist.begin() + static_cast<std::ptrdiff_t>(before), peaklist.end());
      ReadRows(db, kOrderedQuery, false, peaklist);
    }
    db.close();
  } catch (...) {
    Rethrow_With_Context(file);
  }
}
