// The result pair replaced as one, and the tidying of a result folder: every
// state a kill can leave (and some no kill makes) against what the next
// program finds after Recover_Result_Folder.
#include "run/result_pair.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/result_writers.h"
#include "storage/aligned_writers.h"
#include "storage/exit_on_stop.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kCsv = kAlignedCsvName;
constexpr const char* kDb = kAlignedDbName;

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
        ".aligned.csv.abcdef", kCsv}) {
    EXPECT_FALSE(Is_Own_Temporary_Name(other)) << other;
  }
  const std::string pattern = Split_Path(Own_Temporary_Pattern("/d")).name;
  EXPECT_EQ(pattern, ".varnel-part-" + std::to_string(getpid()) + "-XXXXXX");
}

// A folder with the old pair, two new files under temporary names of a
// killed run, and a record; each row says which files a kill left and what
// the folder must hold afterwards. Records of an earlier build (version 1,
// without the files' identities) are completed the same way.
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
    const char* problem;  // in the problem reported ("" none)
    bool record_kept;
  };
  const long dead = Dead_Pid();
  const std::string csv_temp = Temp_Name(dead, "Csv001");
  const std::string db_temp = Temp_Name(dead, "Dbs001");
  const std::string v1 =
      "varnel result pair 1\n" + csv_temp + "\t" + kCsv + "\n" + db_temp + "\t" + kDb + "\nend\n";
  const std::vector<Case> cases = {
      {"killed before the record", true, true, "", false, false, false, false, "", false},
      {"killed before the first rename", true, true, "GOOD", true, true, true, false, "", false},
      {"killed between the renames", false, true, "GOOD", true, true, true, false, "", false},
      {"killed before removing the record", false, false, "GOOD", true, true, true, false, "",
       false},
      {"version 1 between the renames", false, true, v1, true, true, true, false, "", false},
      {"second file missing", true, false, "GOOD", false, false, false, true,
       "is missing); the earlier result files are kept", false},
      {"record cut short", true, true, v1.substr(0, v1.size() - 4), false, false, false, false,
       "is not a commit record of Varnel's result files", true},
      {"record of another program", true, true, "hello\n", false, false, false, false,
       "is not a commit record", true},
      {"target outside the folder", true, true,
       "varnel result pair 1\n" + csv_temp + "\t../" + kCsv + "\nend\n", false, false, false, false,
       "is not a commit record", true},
      {"source not a temporary name", true, true,
       "varnel result pair 1\nnotes.txt\t" + std::string(kCsv) + "\nend\n", false, false, false,
       false, "is not a commit record", true},
      // A hand-made record naming the CSV alone, or another file of the
      // folder: refused, never carried out.
      {"only the CSV", true, true, "varnel result pair 1\n" + csv_temp + "\t" + kCsv + "\nend\n",
       false, false, false, false, "is not a commit record", true},
      {"a foreign target", true, true,
       "varnel result pair 1\n" + csv_temp + "\t" + kCsv + "\n" + db_temp + "\tnotes.txt\nend\n",
       false, false, false, false, "(it names notes.txt)", true},
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
    std::string record = c.record;
    if (record == "GOOD") {
      // The record names each new file's identity; a file renamed into
      // place keeps it.
      auto identity = [&d](const std::string& name) {
        struct stat st {};
        EXPECT_EQ(lstat(Join_Path(d, name).c_str(), &st), 0) << name;
        return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
      };
      const std::string csv_id = identity(c.csv_waiting ? csv_temp : kCsv);
      const std::string db_id = c.db_waiting  ? identity(db_temp)
                                : c.abandoned ? "1:1"
                                              : identity(kDb);
      record = "varnel result pair 2\n" + csv_temp + "\t" + kCsv + "\t" + csv_id + "\n" + db_temp +
               "\t" + kDb + "\t" + db_id + "\nend\n";
    }
    if (!record.empty()) Write(Join_Path(d, kCommitRecordName), record);
    for (int open = 0; open < 2; ++open) {  // a record kept is reported on every open
      const Result_Folder_Recovery recovery = Recover_Result_Folder(d);
      EXPECT_EQ(recovery.finished, c.finished && open == 0);
      EXPECT_EQ(recovery.abandoned, c.abandoned && open == 0);
      if (*c.problem == '\0' || (open == 1 && !c.record_kept)) {
        EXPECT_EQ(recovery.problem, "");
      } else {
        EXPECT_NE(recovery.problem.find(c.problem), std::string::npos) << recovery.problem;
      }
    }
    EXPECT_EQ(Read(Join_Path(d, kCsv)), c.csv_new ? "new csv" : "old csv");
    EXPECT_EQ(Read(Join_Path(d, kDb)), c.db_new ? "new db" : "old db");
    std::set<std::string> expected{kCsv, kDb, "notes.txt"};
    if (c.record_kept) expected.insert(kCommitRecordName);
    // A refused record's files stay with it (their maker's record is not
    // understood, so nothing of it is touched).
    if (c.record_kept && c.csv_waiting) expected.insert(csv_temp);
    if (c.record_kept && c.db_waiting) expected.insert(db_temp);
    EXPECT_EQ(Names(d), expected);
    EXPECT_EQ(Read(Join_Path(d, "notes.txt")), "kept");
  }
}

// The new database deleted after the CSV was renamed: the pair is mixed and
// cannot be mended. The record stays and every open says so, naming both
// files, until a new run replaces both and its record replaces the old one.
TEST(ResultPairTest, AMixedPairIsReportedOnEveryOpenUntilANewRun) {
  Temp_Folder dir;
  const std::string& d = dir.path();
  const long dead = Dead_Pid();
  const std::string csv_temp = Temp_Name(dead, "Csv001");
  const std::string db_temp = Temp_Name(dead, "Dbs001");
  Write(Join_Path(d, kCsv), "new csv");
  Write(Join_Path(d, kDb), "old db");
  struct stat st {};
  ASSERT_EQ(lstat(Join_Path(d, kCsv).c_str(), &st), 0);
  Write(Join_Path(d, kCommitRecordName),
        "varnel result pair 2\n" + csv_temp + "\t" + kCsv + "\t" + std::to_string(st.st_dev) + ":" +
            std::to_string(st.st_ino) + "\n" + db_temp + "\t" + kDb + "\t1:1\nend\n");
  for (int open = 0; open < 3; ++open) {
    const Result_Folder_Recovery recovery = Recover_Result_Folder(d);
    EXPECT_FALSE(recovery.finished);
    EXPECT_NE(recovery.problem.find(std::string(kCsv) + " is new, " + kDb + " is old"),
              std::string::npos)
        << recovery.problem;
    EXPECT_NE(recovery.problem.find(db_temp), std::string::npos) << recovery.problem;
  }
  EXPECT_EQ(Read(Join_Path(d, kDb)), "old db");
  // A new pair replaces both files and the record.
  const std::vector<Chromatogram_Peak_Group_Compound_Align> rows(2);
  std::vector<Pending_Result_File> files;
  files.push_back(Write_Pending_Aligned_Csv(rows, d, kCsv));
  files.push_back(Write_Pending_Aligned_Database(rows, d, kDb));
  Replace_Together(files);
  EXPECT_EQ(Names(d), (std::set<std::string>{kCsv, kDb}));
  EXPECT_EQ(Recover_Result_Folder(d).problem, "");
  EXPECT_NE(Read(Join_Path(d, kDb)), "old db");
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

// One writer per result folder: a second writer fails at once naming the
// holder; the lock goes with its holder; a lock of an ended process of this
// host is taken over (and tidied away), one of another host is respected.
TEST(ResultPairTest, OneWriterPerResultFolder) {
  Temp_Folder dir;
  const std::string& d = dir.path();
  const std::string lock = Join_Path(d, kWriterLockName);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string in_use = "in use by process " + std::to_string(getpid()) + " on " + host;
  {
    const Result_Folder_Writer first(d);
    EXPECT_TRUE(fs::exists(lock));
    try {
      const Result_Folder_Writer second(d);
      ADD_FAILURE() << "a second writer got the folder";
    } catch (const CppSQLite3Exception& e) {
      EXPECT_NE(std::string(e.errorDetail()).find(d + ": " + in_use), std::string::npos)
          << e.errorDetail();
    }
    // Tidying while a writer works leaves its lock.
    Recover_Result_Folder(d);
    EXPECT_TRUE(fs::exists(lock));
  }
  EXPECT_FALSE(fs::exists(lock));
  { const Result_Folder_Writer again(d); }  // control: free again

  const long dead = Dead_Pid();
  Write(lock, std::to_string(dead) + " " + host + " 0\n");
  EXPECT_NO_THROW({ const Result_Folder_Writer taken_over(d); });
  EXPECT_FALSE(fs::exists(lock));
  Write(lock, std::to_string(dead) + " " + host + " 0\n");
  Recover_Result_Folder(d);
  EXPECT_FALSE(fs::exists(lock));

  Write(lock, "4242 elsewhere.example 17\n");
  try {
    const Result_Folder_Writer blocked(d);
    ADD_FAILURE() << "a lock of another host was taken over";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_NE(std::string(e.errorDetail()).find("in use by process 4242 on elsewhere.example"),
              std::string::npos)
        << e.errorDetail();
  }
  Recover_Result_Folder(d);
  EXPECT_TRUE(fs::exists(lock));
}

// A program without a place to stop at ends at once on a stop signal: its
// temporary files go (their SQLite journals too), files a commit record
// names stay, and it exits with 128 + the signal, saying so on stderr.
TEST(ResultPairTest, AStopSignalRemovesTheProgramsOwnTemporaryFiles) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    Temp_Folder dir;
    const std::string& d = dir.path();
    const std::string err = Join_Path(d, "err.txt");
    const pid_t child = fork();
    if (child == 0) {
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDERR_FILENO);
      Install_Exit_Handlers("varnel-test");
      Replacement_File gone(d, "out.csv");
      gone.Write("partial");
      Write(gone.temp_path() + "-journal", "j");
      Replacement_File kept(d, "kept.csv");
      kept.Keep_On_Stop();
      raise(signal);
      _exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    const std::string name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
    EXPECT_EQ(Read(err), "varnel-test: stopped by " + name + "; earlier files are unchanged\n");
    std::set<std::string> names = Names(d);
    names.erase("err.txt");
    ASSERT_EQ(names.size(), 1u);  // the kept file alone
    EXPECT_TRUE(Is_Own_Temporary_Name(*names.begin()));
    // The next writer in the folder tidies it away: its maker has ended.
    { Replacement_File next(d, "next.csv"); }
    names = Names(d);
    EXPECT_EQ(names, (std::set<std::string>{"err.txt"}));
  }
}
