#include "storage/aligned_queries.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <utility>

#include "model/peak_order.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

// One equality condition of a query: a column and the key it is compared with.
struct Key_Condition {
  const char* column;
  int key;
};

// Index entries counted at most per condition when steering a query.
constexpr int kMaxCounted = 1 << 20;

// Number of rows with `column` = 'key' (the query's own comparison), counted
// through `index` and stopping at `limit`.
int Count_Through(CppSQLite3DB& db, const std::string& index, const char* column, int key,
                  int limit) {
  CppSQLite3Buffer sql;
  sql.format(
      "SELECT count(*) FROM (SELECT 1 FROM main.Align_Peaklist INDEXED BY \"%w\" "
      "WHERE \"%w\" = '%d' LIMIT %d)",
      index.c_str(), column, key, limit);
  return db.execScalar(sql);
}

// Without statistics SQLite rates every one-column index alike and takes the
// SAMPLE_ID index, which walks a whole sample (every row of it a seek into the
// table) where EIC_ID, Group_ID or Compound_ID would select a few rows. The
// result file is not ours to add statistics to, so this counts, through each
// condition's index, the rows it selects (stopping at the best count so far)
// and puts a TEMP view named Align_Peaklist, bound to the index that selects
// the fewest, in front of the table for this connection only: the query's
// text stays as it is and resolves to the view. With one-column indexes only
// (as the writer makes them), every plan for these queries yields the
// matching rows in rowid order, so the rows and their order do not change.
// Returns whether the view was made; a file with other indexes, or whose
// indexes cannot be read, is queried as it is.
bool Steer_To_Fewest_Rows(CppSQLite3DB& db, std::initializer_list<Key_Condition> conditions) {
  try {
    // Column (lower case) -> index, for indexes on one column each. Any other
    // index (several columns, an expression, a WHERE clause) could order a
    // plan's rows otherwise, so such a table is left to SQLite.
    std::vector<std::pair<std::string, std::string>> indexes;
    CppSQLite3Statement list = db.compileStatement(
        "SELECT il.name, il.partial, (SELECT count(*) FROM pragma_index_info(il.name, 'main')),"
        " (SELECT lower(name) FROM pragma_index_info(il.name, 'main'))"
        " FROM pragma_index_list('Align_Peaklist', 'main') il ORDER BY il.seq DESC");
    while (list.step()) {
      const char* column = list.fieldText(3);
      if (list.fieldInt64(1) != 0 || list.fieldInt64(2) != 1 || column == nullptr) return false;
      indexes.emplace_back(column, list.fieldText(0));
    }
    list.finalize();

    const std::string* best_index = nullptr;
    int best_count = kMaxCounted;
    for (const Key_Condition& condition : conditions) {
      std::string column = condition.column;
      for (char& ch : column) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      auto it = std::find_if(indexes.begin(), indexes.end(),
                             [&column](const auto& entry) { return entry.first == column; });
      if (it == indexes.end()) continue;
      const int count = Count_Through(db, it->second, condition.column, condition.key, best_count);
      if (best_index == nullptr || count < best_count) {
        best_index = &it->second;
        best_count = count;
      }
    }
    if (best_index == nullptr) return false;
    CppSQLite3Buffer view;
    view.format(
        "CREATE TEMP VIEW Align_Peaklist AS SELECT * FROM main.Align_Peaklist INDEXED BY \"%w\"",
        best_index->c_str());
    db.execDML("PRAGMA temp_store=MEMORY;");
    db.execDML(view);
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

// Appends the rows of sql (a "select *" on Align_Peaklist) as records. A NULL
// real (the writer's NaN) reads as NaN. With conditions, the statement is
// steered to the index of the condition that selects the fewest rows.
void QueryAligned(const std::string& Path, const std::string& FileName, const char* sql,
                  Align_Peak_List& peaklist, std::initializer_list<Key_Condition> conditions = {}) {
  const std::string file = Join_Path(Path, FileName);
  try {
    CppSQLite3DB db;
    db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db.tableExists("Align_Peaklist")) return;
    CppSQLite3Statement query;
    if (conditions.size() > 0 && Steer_To_Fewest_Rows(db, conditions)) {
      try {
        query = db.compileStatement(sql);
      } catch (const CppSQLite3Exception&) {
        // Whatever fails through the view is reported by the bare table.
        db.execDML("DROP VIEW IF EXISTS temp.Align_Peaklist;");
      }
    }
    if (query.handle() == nullptr) query = db.compileStatement(sql);
    Peak_Row_Decoder decoder(query, Peak_Row_Decoder::Null_Reals::kNaN);
    while (query.step()) {
      Chromatogram_Peak_Group_Compound_Align peak;
      decoder.Read(peak);
      peaklist.push_back(std::move(peak));
    }
    query.finalize();
    db.close();
  } catch (...) {
    Rethrow_With_Context(file);
  }
}

}  // namespace

void Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format("select * from Align_Peaklist where Align_ID = '%d';", Align_ID);
  QueryAligned(Path, FileName, sql, peaklist);
}

void Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(std::string Path,
                                                                   std::string FileName,
                                                                   int Sample_ID, int Compound_ID,
                                                                   Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format("select * from Align_Peaklist where SAMPLE_ID = '%d' and Compound_ID='%d';", Sample_ID,
             Compound_ID);
  QueryAligned(Path, FileName, sql, peaklist,
               {{"Compound_ID", Compound_ID}, {"SAMPLE_ID", Sample_ID}});
}

void Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path, std::string FileName,
                                                          int Sample_ID, int Group_ID,
                                                          Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format("select * from Align_Peaklist where SAMPLE_ID = '%d' and Group_ID='%d';", Sample_ID,
             Group_ID);
  QueryAligned(Path, FileName, sql, peaklist, {{"Group_ID", Group_ID}, {"SAMPLE_ID", Sample_ID}});
}

void Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName,
                                               int Sample_ID, int EIC_ID, int Peak_ID,
                                               Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format(
      "select * from Align_Peaklist where SAMPLE_ID = '%d' and EIC_ID='%d' and Peak_ID ='%d';",
      Sample_ID, EIC_ID, Peak_ID);
  QueryAligned(Path, FileName, sql, peaklist,
               {{"EIC_ID", EIC_ID}, {"Peak_ID", Peak_ID}, {"SAMPLE_ID", Sample_ID}});
}

void Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, Align_Peak_List& peaklist) {
  Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(Path, FileName, Align_ID,
                                                                       peaklist);
  std::sort(peaklist.begin(), peaklist.end(), Comp_Alignpeak_by_Sample_ID);
}

void Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
    Align_Peak_List& peaklist) {
  Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(Path, FileName, Sample_ID,
                                                                Compound_ID, peaklist);
}

void Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path,
                                                                 std::string FileName,
                                                                 int Sample_ID, int Group_ID,
                                                                 Align_Peak_List& peaklist) {
  Query_GroupedChromatographPeaklist_FromAlignDataBase(Path, FileName, Sample_ID, Group_ID,
                                                       peaklist);
}

void Engine_Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName,
                                                      int Sample_ID, int EIC_ID, int Peak_ID,
                                                      Align_Peak_List& peaklist) {
  Query_ChromatographPeak_FromAlignDataBase(Path, FileName, Sample_ID, EIC_ID, Peak_ID, peaklist);
}
