// An import into a folder that already holds databases, killed at every step
// of renaming its databases in: afterwards the folder holds every earlier
// database, or a record that readers refuse and the next import (or
// `varnel-import --finish`) carries out; never old and new mixed unreported,
// and nothing is lost or left behind once the folder is next touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "import/feature_import.h"
#include "storage/annotated_reader.h"
#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"

namespace {

std::string Db(const std::string& sample) { return sample + kAnnotatedSuffix; }

// Samples whose databases hold `features` features each: 1 marks the
// earlier import, 2 the new one.
std::vector<Imported_Sample> Samples(const std::vector<std::string>& names, int features) {
  Imported_Feature feature;
  feature.mz = feature.mass = 100.0;
  feature.rt = 60.0;
  feature.height = 1.0;
  std::vector<Imported_Sample> samples;
  for (const std::string& name : names) {
    samples.push_back({name, "in.csv", std::vector<Imported_Feature>(features, feature)});
  }
  return samples;
}

class ImportCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The earlier import: a, b and c; then a note of the user's.
    Write_Imported_Samples(Samples({"a", "b", "c"}, 1), out());
    Write_File(Join_Path(out(), "notes.txt"), "mine");
  }
  std::string out() const { return Join_Path(folder_.path(), "out"); }
  std::string Record() const { return Join_Path(out(), kImportRecordName); }

  // Imports a, b and the new d in a child killed at step (-1: not killed);
  // true when the child was killed.
  bool Import_Killed_At(int step, const std::vector<std::string>& names = {"a", "b", "d"}) {
    const pid_t child = ::fork();
    if (child == 0) {
      if (step >= 0) ::setenv("VARNEL_TEST_KILL_AT_IMPORT_STEP", std::to_string(step).c_str(), 1);
      try {
        Write_Imported_Samples(Samples(names, 2), out());
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGKILL;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    return false;
  }

  // Features per database in the folder (-1: refused), and the names of any
  // other file but the user's note.
  std::map<std::string, int> Contents(std::vector<std::string>* others = nullptr) const {
    std::map<std::string, int> contents;
    for (const std::string& name : List_Folder(out())) {
      if (!name.ends_with(kAnnotatedSuffix)) {
        if (others != nullptr && name != "notes.txt") others->push_back(name);
        continue;
      }
      std::vector<Chromatogram_Peak_Group_Compound> peaks;
      try {
        Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(out(), name, peaks);
        contents[name] = static_cast<int>(peaks.size());
      } catch (const CppSQLite3Exception&) {
        contents[name] = -1;
      }
    }
    return contents;
  }

  Temp_Folder folder_;
};

const std::map<std::string, int> kEarlier = {{Db("a"), 1}, {Db("b"), 1}, {Db("c"), 1}};
const std::map<std::string, int> kNew = {{Db("a"), 2}, {Db("b"), 2}, {Db("c"), 1}, {Db("d"), 2}};

TEST_F(ImportCommitTest, KilledAtEveryStepLeavesEarlierOrRecordThatCompletes) {
  // Steps: 0 record written but not in place, 1 in place, 2..4 after each
  // of the three renames, 5 beyond the last step (not killed).
  for (int step = 0; step <= 5; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    std::filesystem::remove_all(out());
    SetUp();  // the earlier import again
    const bool killed = Import_Killed_At(step);
    EXPECT_EQ(killed, step <= 4);
    const bool recorded = std::filesystem::exists(Record());
    EXPECT_EQ(recorded, step >= 1 && step <= 4);
    if (!recorded) {
      EXPECT_EQ(Contents(), step == 0 ? kEarlier : kNew);
    } else {
      // Whatever is renamed already, no database of the folder is read.
      for (const auto& [name, features] : Contents()) EXPECT_EQ(features, -1) << name;
      std::vector<Chromatogram_Peak_Group_Compound> peaks;
      try {
        Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(out(), Db("c"), peaks);
        ADD_FAILURE() << "read";
      } catch (const CppSQLite3Exception& e) {
        const std::string message(e.errorDetail());
        EXPECT_NE(message.find("interrupted"), std::string::npos) << message;
        EXPECT_NE(message.find(Record()), std::string::npos) << message;
      }
    }
    // The next import into the folder, of another sample, completes the
    // killed one first and tidies up.
    Write_Imported_Samples(Samples({"e"}, 2), out());
    std::vector<std::string> others;
    std::map<std::string, int> expected = step == 0 ? kEarlier : kNew;
    expected[Db("e")] = 2;
    EXPECT_EQ(Contents(&others), expected);
    EXPECT_TRUE(others.empty()) << others.front();
    EXPECT_EQ(Read_File(Join_Path(out(), "notes.txt")), "mine");
  }
}

TEST_F(ImportCommitTest, RecoveryAloneCompletesAndIsQuietOtherwise) {
  EXPECT_TRUE(Recover_Import_Folder(out()).problem.empty());
  ASSERT_TRUE(Import_Killed_At(3));  // a and b new, d waiting
  const Import_Folder_Recovery recovery = Recover_Import_Folder(out());
  EXPECT_TRUE(recovery.finished);
  EXPECT_TRUE(recovery.problem.empty()) << recovery.problem;
  std::vector<std::string> others;
  EXPECT_EQ(Contents(&others), kNew);
  EXPECT_TRUE(others.empty());
  EXPECT_FALSE(Recover_Import_Folder(out()).finished);
}

TEST_F(ImportCommitTest, NewFileGoneBeforeAnyRenameDropsTheRecord) {
  ASSERT_TRUE(Import_Killed_At(1));
  for (const std::string& name : List_Folder(out())) {
    if (name.starts_with(".varnel-part-")) {
      std::filesystem::remove(Join_Path(out(), name));
      break;
    }
  }
  const Import_Folder_Recovery recovery = Recover_Import_Folder(out());
  EXPECT_TRUE(recovery.abandoned);
  EXPECT_NE(recovery.problem.find("dropped"), std::string::npos) << recovery.problem;
  std::vector<std::string> others;
  EXPECT_EQ(Contents(&others), kEarlier);
  EXPECT_TRUE(others.empty()) << others.front();
}

TEST_F(ImportCommitTest, NewFileGoneAfterARenameIsReportedUntilReimported) {
  ASSERT_TRUE(Import_Killed_At(2));  // a new; b and d waiting
  // The record names b's new file second: remove it.
  const std::string record = Read_File(Record());
  const std::size_t line = record.find('\n') + 1;
  const std::size_t second = record.find('\n', line) + 1;
  std::filesystem::remove(
      Join_Path(out(), record.substr(second, record.find('\t', second) - second)));

  const Import_Folder_Recovery recovery = Recover_Import_Folder(out());
  EXPECT_EQ(recovery.left_old, std::vector<std::string>{Db("b")});
  EXPECT_NE(recovery.problem.find("side by side"), std::string::npos) << recovery.problem;
  EXPECT_NE(recovery.problem.find(Db("b")), std::string::npos) << recovery.problem;
  EXPECT_TRUE(std::filesystem::exists(Record()));
  // d's new file was renamed in all the same. An import that leaves b old
  // is refused; one that renews b replaces the record.
  EXPECT_THROW(Write_Imported_Samples(Samples({"e"}, 2), out()), std::runtime_error);
  EXPECT_EQ(Contents().at(Db("a")), -1);
  Write_Imported_Samples(Samples({"b"}, 2), out());
  std::vector<std::string> others;
  EXPECT_EQ(Contents(&others),
            (std::map<std::string, int>{{Db("a"), 2}, {Db("b"), 2}, {Db("c"), 1}, {Db("d"), 2}}));
  EXPECT_TRUE(others.empty()) << others.front();
}

TEST_F(ImportCommitTest, ForeignRecordIsRefusedAndNothingRenamed) {
  const std::string temp = ".varnel-part-999999-abcdef";
  Write_File(Join_Path(out(), temp), "x");
  const std::vector<std::string> records = {
      "varnel import 1\n" + temp + "\tnotes.txt\t1:2\nend\n",         // not a database
      "varnel import 1\n" + temp + "\t" + Db("a") + "\t1:2\n",        // cut short
      "varnel import 1\nnotes.txt\t" + Db("a") + "\t1:2\nend\n",      // not a temporary
      "varnel import 1\n" + temp + "\t" + Db("a") + "\t1:2\nend\n"};  // another file
  for (const std::string& text : records) {
    SCOPED_TRACE(text);
    Write_File(Record(), text);
    const Import_Folder_Recovery recovery = Recover_Import_Folder(out());
    EXPECT_TRUE(recovery.refused);
    EXPECT_NE(recovery.problem.find(Record()), std::string::npos) << recovery.problem;
    EXPECT_NE(recovery.problem.find("nothing was renamed"), std::string::npos);
    try {
      Write_Imported_Samples(Samples({"a"}, 2), out());
      ADD_FAILURE() << "imported";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(Record()), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read_File(Join_Path(out(), "notes.txt")), "mine");
    EXPECT_EQ(Read_File(Join_Path(out(), temp)), "x");
  }
  // Control: once the record is removed the folder is read and written.
  std::filesystem::remove(Record());
  Write_Imported_Samples(Samples({"a"}, 2), out());
  EXPECT_EQ(Contents().at(Db("a")), 2);
}

// The program: a killed import is named by the readers' refusal, and
// --finish completes it.
TEST_F(ImportCommitTest, FinishOptionCompletesAKilledImport) {
  const std::string input = Join_Path(folder_.path(), "d.csv");
  Write_File(input, "mz,rt,height\n100,60,5\n101,61,5\n");
  auto run = [&](const std::vector<std::string>& args, const char* kill_step) {
    const pid_t child = ::fork();
    if (child == 0) {
      if (kill_step != nullptr) ::setenv("VARNEL_TEST_KILL_AT_IMPORT_STEP", kill_step, 1);
      std::vector<char*> argv{const_cast<char*>(VARNEL_IMPORT_PROGRAM)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      const std::string log = Join_Path(folder_.path(), "log");
      freopen(log.c_str(), "w", stdout);
      ::execv(VARNEL_IMPORT_PROGRAM, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  };
  EXPECT_EQ(run({"--format", "table", input, "-o", out()}, "1"), 128 + SIGKILL);
  EXPECT_EQ(Contents().at(Db("a")), -1);
  EXPECT_EQ(run({"--finish", "-o", out()}, nullptr), 0);
  EXPECT_NE(Read_File(Join_Path(folder_.path(), "log")).find("completed"), std::string::npos);
  std::vector<std::string> others;
  std::map<std::string, int> expected = kEarlier;
  expected[Db("d")] = 2;
  EXPECT_EQ(Contents(&others), expected);
  EXPECT_TRUE(others.empty());
  EXPECT_EQ(run({"--finish", "-o", out()}, nullptr), 0);
  EXPECT_NE(Read_File(Join_Path(folder_.path(), "log")).find("no interrupted import"),
            std::string::npos);
  EXPECT_EQ(run({"--finish", input, "-o", out()}, nullptr), 2);
}

}  // namespace
