#include "storage/annotated_reader.h"

#include <utility>

#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/peak_columns.h"

void Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName,
    std::vector<Chromatogram_Peak_Group_Compound>& peaklist) {
  const std::string file = Join_Path(Path, FileName);
  try {
    CppSQLite3DB db;
    db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db.tableExists("Annotate_Peaklist")) return;
    CppSQLite3Statement query =
        db.compileStatement("select * from Annotate_Peaklist Order by EIC_ID");
    Peak_Row_Decoder decoder(query, Peak_Row_Decoder::Null_Reals::kError);
    while (query.step()) {
      Chromatogram_Peak_Group_Compound peak;
      decoder.Read(peak);
      peaklist.push_back(std::move(peak));
    }
    query.finalize();
    db.close();
  } catch (...) {
    Rethrow_With_Context(file);
  }
}
