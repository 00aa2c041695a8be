// varnel-export: its exit status, messages and the library's output.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/export/export_support.h"
#include "tests/export/mztab_check.h"

namespace {

class ExportProgramTest : public ExportTest {
 protected:
  int Run(const std::string& arguments) {
    const std::string command = std::string(VARNEL_EXPORT_PROGRAM) + " " + arguments + " >" +
                                Join_Path(dir_.path(), "stdout") + " 2>" +
                                Join_Path(dir_.path(), "stderr");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Stdout() { return Read_File(Join_Path(dir_.path(), "stdout")); }
  std::string Stderr() { return Read_File(Join_Path(dir_.path(), "stderr")); }
};

TEST_F(ExportProgramTest, ExitStatusTellsUsageFromFailure) {
  const std::string result = WriteStudy(Study());
  const std::string out = Join_Path(dir_.path(), "t.csv");
  EXPECT_EQ(Run(""), 2);
  EXPECT_EQ(Run(result + " --format xml -o " + out), 2);
  EXPECT_EQ(Run(result + " --format metaboanalyst -o " + out), 2);
  EXPECT_EQ(Run(out + " --format table -o " + out), 1);
  EXPECT_EQ(Stderr(),
            "varnel-export: " + out + ": not an aligned result (unable to open database file)\n");
  EXPECT_EQ(Run(result + " --format mztab --quantity area -o " + out), 0);
  EXPECT_EQ(Check_MzTab(Read_File(out)), std::vector<std::string>());
  EXPECT_EQ(Run("--info " + result), 0);
  EXPECT_EQ(Stdout(), result + ": no run record (the run was not asked to record itself)\n");
}

TEST_F(ExportProgramTest, WritesTheCorrectedTimesOfTheLibrary) {
  const std::string result = WriteStudy(Study());
  {
    CppSQLite3DB db;
    db.open(result.c_str());
    Write_Rt_Correction(db, {{1, 0, 0.5}});
  }
  const std::string out = Join_Path(dir_.path(), "t.csv");
  ASSERT_EQ(Run(result + " --format table -o " + out), 0);
  EXPECT_EQ(Read_File(out).substr(0, Read_File(out).find('\n', 120) + 1),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,RT_Min_Original,RT_Max_Original,Adducts,"
            "Samples_Present,S0,S1,S2,S3\n"
            "1,100.5,60,59,61.5,59,61,[M+H]+;[M+Na]+,2,12,8,,\n");
}

}  // namespace
