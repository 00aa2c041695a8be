// varnel-export: its exit status, messages and the library's output.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

TEST_F(ExportProgramTest, CorrectionNeedsTheSheetAndSaysWhatItDid) {
  const std::string result = WriteStudy(Study());
  const std::string out = Join_Path(dir_.path(), "t.csv");
  EXPECT_EQ(Run(result + " --format table --correct-signal auto -o " + out), 2);
  EXPECT_EQ(Run(result + " --format table --correct-signal spline -o " + out), 2);
  const std::string sheet = Sheet("sample,class,batch\nS0,QC,1\nS1,A,1\nS2,QC,1\nS3,qc,1\n");
  ASSERT_EQ(Run(result + " --format table --groups " + sheet +
                " --correct-signal qc-median --keep-present 0.5 -o " + out),
            0);
  EXPECT_EQ(Stderr(),
            "varnel-export: signal: qc-median over 1 batch, 2 features: 1 cells by the QC median, "
            "0 by the curve, 1 with at most one QC value left uncorrected (flagged in " +
                out +
                ".signal.tsv)\n"
                "varnel-export: signal: dropped by --keep-present: 1 of 2 features\n");
}

}  // namespace

namespace {

// The id of a process that has ended.
long Ended_Process() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

// What a killed export left beside its output goes with the next export
// there; a temporary file of a running program and every other file stay.
TEST_F(ExportProgramTest, TheNextExportRemovesWhatAKilledOneLeft) {
  const std::string result = WriteStudy(Study());
  const std::string out = Join_Path(dir_.path(), "t.csv");
  const std::string left =
      Join_Path(dir_.path(), ".varnel-part-" + std::to_string(Ended_Process()) + "-a1b2c3");
  const std::string live =
      Join_Path(dir_.path(), ".varnel-part-" + std::to_string(getpid()) + "-d4e5f6");
  const std::string other = Join_Path(dir_.path(), ".t.csv.tmp");
  for (const std::string& path : {left, left + "-journal", live, other}) Write_File(path, "x");
  ASSERT_EQ(Run(result + " --format table -o " + out), 0) << Stderr();
  for (const std::string& path : {left, left + "-journal"}) {
    EXPECT_FALSE(std::filesystem::exists(path)) << path;
  }
  EXPECT_TRUE(std::filesystem::exists(live));
  EXPECT_TRUE(std::filesystem::exists(other));
}

}  // namespace
