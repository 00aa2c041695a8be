// Bad aligned databases given to what the visualization tab calls: the grid
// loader and the four queries of a redraw. Each failure names the file and
// the problem; nothing crashes; the file itself is never changed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "badinput_support.h"
#include "run/alignment_run.h"
#include "storage/aligned_queries.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/grid/aligned_table.h"

namespace badinput {
namespace {

namespace fs = std::filesystem;

struct Row_Keys {
  int align_id = 0, sample_id = 0, compound_id = 0, group_id = 0, eic_id = 0, peak_id = 0;
};

// An aligned database of a small study and the keys of its first row.
class Viewer_Template {
 public:
  static const Viewer_Template& Get() {
    static const Viewer_Template instance;
    return instance;
  }
  std::string aligndb;
  Row_Keys first;

 private:
  Viewer_Template() {
    std::vector<Annotated_File> files;
    for (const std::string& name : Make_Study(folder_.path(), 2, 20, 11).database_names) {
      files.push_back({folder_.path(), name});
    }
    std::ostream no_lines(nullptr);
    Alignment_Run_Observer observer;
    observer.align_lines = &no_lines;
    Run_Alignment(Request_For(One_Phase_Align, 0.1, 20, 10, files, folder_.path()), observer);
    aligndb = Join_Path(folder_.path(), kAlignedDbName);
    sqlite3* db = nullptr;
    sqlite3_open_v2(aligndb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "select Align_ID, SAMPLE_ID, Compound_ID, Group_ID, EIC_ID, Peak_ID "
                       "from Align_Peaklist where Align_ID > 0 order by rowid limit 1",
                       -1, &stmt, nullptr);
    if (sqlite3_step(stmt) != SQLITE_ROW) throw std::runtime_error("no aligned row");
    first = {sqlite3_column_int(stmt, 0), sqlite3_column_int(stmt, 1), sqlite3_column_int(stmt, 2),
             sqlite3_column_int(stmt, 3), sqlite3_column_int(stmt, 4), sqlite3_column_int(stmt, 5)};
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
  Temp_Folder folder_;
};

// The first aligned row, which the queries look up.
std::string First_Row(const char* set) {
  return std::string("update Align_Peaklist set ") + set +
         " where rowid = (select min(rowid) from Align_Peaklist where Align_ID > 0);";
}

struct Viewer_Case {
  const char* name;
  std::function<void(const std::string& path)> spoil;
  const char* load_problem;   // "" when the grid loads
  const char* query_problem;  // "" when the queries return without failing
};

// Test names and messages show the case's name only.
void PrintTo(const Viewer_Case& c, std::ostream* os) { *os << c.name; }

std::vector<Viewer_Case> All_Viewer_Cases() {
  auto sql = [](std::string statement) {
    return [statement](const std::string& path) { Exec_Sql(path, statement); };
  };
  return {
      {"NotSqlite", [](const std::string& p) { Write_File(p, std::string(3000, 'A')); },
       "not an aligned result (file is not a database)", "file is not a database"},
      {"EmptyFile", [](const std::string& p) { Write_File(p, ""); },
       "not an aligned result (it has no table Align_Peaklist)", ""},
      {"Truncated", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); },
       "malformed", "malformed"},
      {"Deleted", [](const std::string& p) { fs::remove(p); }, "unable to open database file",
       "unable to open database file"},
      {"NoTable", sql("drop table Align_Peaklist; create table Other(x int);"),
       "not an aligned result (it has no table Align_Peaklist)", ""},
      {"MissingGridColumn", sql("alter table Align_Peaklist drop column Align_RT;"),
       "no such column: Align_RT", "column Align_RT: Invalid field name requested"},
      {"MissingShapeColumn", sql("alter table Align_Peaklist drop column Peak_shape;"), "",
       "column Peak_shape: Invalid field name requested"},
      {"RenamedColumn", sql("alter table Align_Peaklist rename column SAMPLE_NAME to Sample;"),
       "no such column: SAMPLE_NAME", "column SAMPLE_NAME"},
      {"NullShape", sql(First_Row("Peak_shape = NULL")), "", "column Peak_shape"},
      {"NullInteger", sql(First_Row("Left_Boundary = NULL")), "", "column Left_Boundary"},
      {"NullSampleName", sql(First_Row("SAMPLE_NAME = NULL")), "", "column SAMPLE_NAME"},
      {"TextAbcInInteger", sql(First_Row("Right_Boundary = 'abc'")), "", "invalid stoi argument"},
      {"HugeInteger", sql(First_Row("Apex_Pos = 99999999999")), "", "stoi argument out of range"},
      {"ShapeWithBrokenEscape", sql(First_Row("Peak_shape = cast(x'01302B0104' as text)")), "",
       "Cannot decode binary"},
  };
}

class ViewerBadInputTest : public ::testing::TestWithParam<Viewer_Case> {
 protected:
  Temp_Folder folder_;
};

TEST_P(ViewerBadInputTest, GridAndQueriesNameTheFileAndTheProblem) {
  const Viewer_Case& c = GetParam();
  const Viewer_Template& t = Viewer_Template::Get();
  const std::string name = kAlignedDbName;
  const std::string path = Join_Path(folder_.path(), name);
  Copy_File(t.aligndb, path);
  c.spoil(path);
  const bool exists = fs::exists(path);
  const std::string bytes = exists ? Read_File(path) : "";

  const std::string load = Failure_Of([&] { (void)Aligned_Table::Load(folder_.path(), name); });
  if (std::string(c.load_problem).empty()) {
    EXPECT_EQ(load, "");
  } else {
    EXPECT_NE(load.find(path), std::string::npos) << load;
    EXPECT_NE(load.find(c.load_problem), std::string::npos) << load;
  }

  const Row_Keys& k = t.first;
  Align_Peak_List peaks;
  const std::vector<std::string> queries = {
      Failure_Of([&] {
        Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
            folder_.path(), name, k.align_id, peaks);
      }),
      Failure_Of([&] {
        Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
            folder_.path(), name, k.sample_id, k.compound_id, peaks);
      }),
      Failure_Of([&] {
        Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(folder_.path(), name,
                                                                    k.sample_id, k.group_id, peaks);
      }),
      Failure_Of([&] {
        Engine_Query_ChromatographPeak_FromAlignDataBase(folder_.path(), name, k.sample_id,
                                                         k.eic_id, k.peak_id, peaks);
      }),
  };
  for (const std::string& message : queries) {
    if (std::string(c.query_problem).empty()) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_NE(message.find(path), std::string::npos) << message;
      EXPECT_NE(message.find(c.query_problem), std::string::npos) << message;
    }
  }
  // Reading never changes the file, nor creates a missing one.
  EXPECT_EQ(fs::exists(path), exists);
  if (exists) {
    EXPECT_TRUE(Read_File(path) == bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ViewerBadInputTest, ::testing::ValuesIn(All_Viewer_Cases()),
                         [](const ::testing::TestParamInfo<Viewer_Case>& info) {
                           return std::string(info.param.name);
                         });

// Another program holding a write lock for a moment: the grid and the queries
// wait for it instead of failing.
TEST(ViewerLockTest, BriefWriteLockIsWaitedFor) {
  Temp_Folder folder;
  const std::string name = kAlignedDbName;
  Copy_File(Viewer_Template::Get().aligndb, Join_Path(folder.path(), name));
  const std::string path = Join_Path(folder.path(), name);
  for (const bool grid : {true, false}) {
    std::string failure;
    {
      const Brief_Lock lock(path, std::chrono::milliseconds(1000));
      failure = Failure_Of([&] {
        if (grid) {
          (void)Aligned_Table::Load(folder.path(), name);
        } else {
          Align_Peak_List peaks;
          Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
              folder.path(), name, Viewer_Template::Get().first.align_id, peaks);
          EXPECT_FALSE(peaks.empty());
        }
      });
    }
    EXPECT_EQ(failure, "") << (grid ? "grid" : "query");
  }
}

}  // namespace
}  // namespace badinput
