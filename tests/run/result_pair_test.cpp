// The result pair replaced as one, and the tidying of a result folder: every
// state a kill can leave (and some no kill makes) against what the next
// program finds after Recover_Result_Folder.
#include "run/result_pair.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kCsv = "pair.csv";
constexpr const char* kDb = "pair.aligndb";

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The id of a process that has ended.
long Dead_Pid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

std::string Temp_Name(long pid, const char* tail) {
  return ".varnel-part-" + std::to_string(pid) + "-" + tail;
}

TEST(ResultPairTest, TemporaryNamesAreRecognisedExactly) {
  long maker = 0;
  EXPECT_TRUE(Is_Own_Temporary_Name(".varnel-part-123-aB3xY9", &maker));
  EXPECT_EQ(maker, 123);
  EXPECT_TRUE(Is_Own_Temporary_Name(".varnel-part-7-abcdef-journal"));
  EXPECT_TRUE(Is_Own_Temporary_Name(".varnel-part-7-abcdef-wal"));
  for (const char* other :
       {"varnel-part-7-abcdef", ".varnel-part--abcdef", ".varnel-part-x-abcdef",
        ".varnel-part-7-abcde", ".varnel-part-7_abcdef", ".varnel-part-7-abc.ef",
        ".varnel-part-7-abcdef.csv", ".varnel-part-7-abcdef-journalx", ".varnel-pair-commit",
        ".aligned.csv.abcdef", "pair.csv"}) {
    EXPECT_FALSE(Is_Own_Temporary_Name(other)) << other;
  }
  const std::string pattern = Split_Path(Own_Temporary_Pattern("/d")).name;
  EXPECT_EQ(pattern, ".varnel-part-" + std::to_string(getpid()) + "-XXXXXX");
}

// A folder with the old pair, two new files under temporary names of a
// killed run, and a record; each row says which files a kill left and what
// the folder must hold afterwards.
TEST(ResultPairTest, RecoveryCompletesOrDropsWhatAKillLeft) {
  struct Case {
    const char* name;
    bool csv_waiting;  // the new CSV is still under its temporary name
    bool db_waiting;
    std::string record;  // "" none; "GOOD" the record of the two
    bool csv_new;        // expected afterwards
    bool db_new;
    bool finished;
    bool abandoned;
  };
  const long dead = Dead_Pid();
  const std::string csv_temp = Temp_Name(dead, "Csv001");
  const std::string db_temp = Temp_Name(dead, "Dbs001");
  const std::string good =
      "varnel result pair 1\n" + csv_temp + "\t" + kCsv + "\n" + db_temp + "\t" + kDb + "\nend\n";
  const std::vector<Case> cases = {
      {"killed before the record", true, true, "", false, false, false, false},
      {"killed before the first rename", true, true, "GOOD", true, true, true, false},
      {"killed between the renames", false, true, "GOOD", true, true, true, false},
      {"killed before removing the record", false, false, "GOOD", true, true, true, false},
      {"second file missing", true, false, "GOOD", false, false, false, true},
      {"record cut short", true, true, good.substr(0, good.size() - 4), false, false, false, true},
      {"record of another program", true, true, "hello\n", false, false, false, true},
      {"target outside the folder", true, true,
       "varnel result pair 1\n" + csv_temp + "\t../" + kCsv + "\nend\n", false, false, false, true},
      {"source not a temporary name", true, true,
       "varnel result pair 1\nnotes.txt\t" + std::string(kCsv) + "\nend\n", false, false, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Temp_Folder dir;
    const std::string& d = dir.path();
    Write(Join_Path(d, kCsv), c.csv_waiting ? "old csv" : "new csv");
    // A database no longer waiting was renamed, unless it went missing.
    Write(Join_Path(d, kDb), c.db_waiting || c.abandoned ? "old db" : "new db");
    Write(Join_Path(d, "notes.txt"), "kept");
    if (c.csv_waiting) Write(Join_Path(d, csv_temp), "new csv");
    if (c.db_waiting) Write(Join_Path(d, db_temp), "new db");
    if (!c.record.empty()) {
      Write(Join_Path(d, kCommitRecordName), c.record == "GOOD" ? good : c.record);
    }
    const Result_Folder_Recovery recovery = Recover_Result_Folder(d);
    EXPECT_EQ(recovery.finished, c.finished);
    EXPECT_EQ(recovery.abandoned, c.abandoned);
    EXPECT_EQ(recovery.problem, "");
    EXPECT_EQ(Read(Join_Path(d, kCsv)), c.csv_new ? "new csv" : "old csv");
    EXPECT_EQ(Read(Join_Path(d, kDb)), c.db_new ? "new db" : "old db");
    EXPECT_EQ(Names(d), (std::set<std::string>{kCsv, kDb, "notes.txt"}));
    EXPECT_EQ(Read(Join_Path(d, "notes.txt")), "kept");
  }
}

// Temporary files go only when their maker has ended and nobody holds their
// lock; nothing of another name is touched.
TEST(ResultPairTest, TidyingRemovesOnlyFilesOfEndedMakers) {
  Temp_Folder dir;
  const std::string& d = dir.path();
  const long dead = Dead_Pid();
  const std::vector<std::string> stale = {Temp_Name(dead, "aaaaaa"),
                                          Temp_Name(dead, "aaaaaa") + "-journal"};
  const std::vector<std::string> kept = {
      Temp_Name(getpid(), "bbbbbb"),        // a live maker: this process
      Temp_Name(dead, "cccccc"),            // locked (a maker elsewhere)
      Temp_Name(dead, "dddddd") + ".keep",  // not a temporary name
      ".varnel-part-" + std::to_string(dead) + "-abc",
      "varnel-part-" + std::to_string(dead) + "-eeeeee",
      ".hidden",
      "result.csv"};
  for (const std::string& name : stale) Write(Join_Path(d, name), "x");
  for (const std::string& name : kept) Write(Join_Path(d, name), "x");
  fs::create_directory(Join_Path(d, Temp_Name(dead, "ffffff")));  // a folder: not a file of ours
  const int locked = open(Join_Path(d, Temp_Name(dead, "cccccc")).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(locked, 0);
  // A lock of another open file description, as another process holds it.
  ASSERT_EQ(flock(locked, LOCK_EX), 0);

  const Result_Folder_Recovery recovery = Recover_Result_Folder(d);
  close(locked);
  EXPECT_EQ(recovery.temporaries_removed, stale.size());
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert(Temp_Name(dead, "ffffff"));
  EXPECT_EQ(Names(d), expected);
  // No folder at all: nothing to do, no failure.
  EXPECT_EQ(Recover_Result_Folder(Join_Path(d, "absent")).problem, "");
}

// The writers' pending files replaced together: both new, nothing else left;
// a rename that fails before the first file is in place leaves both old
// files, one that fails after it leaves the record, which the next recovery
// completes.
TEST(ResultPairTest, ReplaceTogetherAndItsFailures) {
  const std::vector<Chromatogram_Peak_Group_Compound_Align> rows(3);
  auto pending = [&rows](const std::string& d) {
    std::vector<Pending_Result_File> files;
    files.push_back(Write_Pending_Aligned_Csv(rows, d, kCsv));
    files.push_back(Write_Pending_Aligned_Database(rows, d, kDb));
    return files;
  };
  auto old_pair = [](const std::string& d) {
    Write(Join_Path(d, kCsv), "old csv");
    Write(Join_Path(d, kDb), "old db");
  };
  {
    Temp_Folder dir;
    old_pair(dir.path());
    std::vector<Pending_Result_File> files = pending(dir.path());
    Replace_Together(files);
    files.clear();
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{kCsv, kDb}));
    EXPECT_NE(Read(Join_Path(dir.path(), kCsv)), "old csv");
    // The database: a rollback-journal file (not WAL) of schema format 4 or
    // later, with no journal left beside it.
    const std::string db = Read(Join_Path(dir.path(), kDb));
    ASSERT_GE(db.size(), 100u);
    EXPECT_EQ(db.compare(0, 16, std::string("SQLite format 3\0", 16)), 0);
    EXPECT_EQ(db[18], 1);
    EXPECT_EQ(db[19], 1);
    EXPECT_GE(static_cast<unsigned char>(db[47]), 4);
    EXPECT_EQ(db.compare(44, 3, std::string(3, '\0')), 0);
  }
  {
    // The CSV's target is a folder that holds a file: its rename fails.
    Temp_Folder dir;
    const std::string& d = dir.path();
    fs::create_directory(Join_Path(d, kCsv));
    Write(Join_Path(Join_Path(d, kCsv), "inside"), "x");
    Write(Join_Path(d, kDb), "old db");
    {
      std::vector<Pending_Result_File> files = pending(d);
      EXPECT_THROW(Replace_Together(files), CppSQLite3Exception);
    }
    EXPECT_EQ(Names(d), (std::set<std::string>{kCsv, kDb}));
    EXPECT_EQ(Read(Join_Path(d, kDb)), "old db");
  }
  {
    // The database's target is such a folder: the CSV is new already.
    Temp_Folder dir;
    const std::string& d = dir.path();
    Write(Join_Path(d, kCsv), "old csv");
    fs::create_directory(Join_Path(d, kDb));
    Write(Join_Path(Join_Path(d, kDb), "inside"), "x");
    {
      std::vector<Pending_Result_File> files = pending(d);
      EXPECT_THROW(Replace_Together(files), CppSQLite3Exception);
    }
    EXPECT_TRUE(fs::exists(Join_Path(d, kCommitRecordName)));
    EXPECT_EQ(Recover_Result_Folder(d).temporaries_removed, 0u);  // the record keeps its file
    fs::remove_all(Join_Path(d, kDb));
    const Result_Folder_Recovery recovery = Recover_Result_Folder(d);
    EXPECT_TRUE(recovery.finished);
    EXPECT_EQ(Names(d), (std::set<std::string>{kCsv, kDb}));
    CppSQLite3DB db;
    db.open(Join_Path(d, kDb).c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_EQ(db.execScalar("select count(*) from Align_Peaklist;"), 3);
  }
}

}  // namespace
