#include "storage/aligned_queries.h"

#include <algorithm>
#include <utility>

#include "model/peak_order.h"
#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/peak_columns.h"

namespace {

// Appends the rows of sql (a "select *" on Align_Peaklist) as records. A NULL
// real (the writer's NaN) reads as NaN.
void QueryAligned(const std::string& Path, const std::string& FileName, const char* sql,
                  Align_Peak_List& peaklist) {
  const std::string file = Join_Path(Path, FileName);
  try {
    CppSQLite3DB db;
    db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db.tableExists("Align_Peaklist")) return;
    CppSQLite3Statement query = db.compileStatement(sql);
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
  QueryAligned(Path, FileName, sql, peaklist);
}

void Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path, std::string FileName,
                                                          int Sample_ID, int Group_ID,
                                                          Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format("select * from Align_Peaklist where SAMPLE_ID = '%d' and Group_ID='%d';", Sample_ID,
             Group_ID);
  QueryAligned(Path, FileName, sql, peaklist);
}

void Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName,
                                               int Sample_ID, int EIC_ID, int Peak_ID,
                                               Align_Peak_List& peaklist) {
  CppSQLite3Buffer sql;
  sql.format(
      "select * from Align_Peaklist where SAMPLE_ID = '%d' and EIC_ID='%d' and Peak_ID ='%d';",
      Sample_ID, EIC_ID, Peak_ID);
  QueryAligned(Path, FileName, sql, peaklist);
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
