// varnel-align end to end: the program is run as a user would run it.
// (Unreadable databases and unwritable results for every kind of bad input:
// tests/badinput.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "run/alignment_run.h"
#include "run/result_pair.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

const std::string kSuffix = kAnnotatedSuffix;
using Args = std::vector<std::string>;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

Args Concat(Args first, const Args& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class CliTest : public ::testing::Test {
 protected:
  Outcome Align(const Args& args) {
    std::string command = Quote(VARNEL_ALIGN_PROGRAM);
    for (const std::string& arg : args) command.append(" ").append(Quote(arg));
    const std::string out = Join_Path(scratch_.path(), "out.txt");
    const std::string err = Join_Path(scratch_.path(), "err.txt");
    command.append(" >").append(Quote(out)).append(" 2>").append(Quote(err)).append(" </dev/null");
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = Read_File(out);
    outcome.err = Read_File(err);
    return outcome;
  }

  std::string Db(const std::string& name) const { return Join_Path(folder_.path(), name); }
  std::string Result() const { return Join_Path(folder_.path(), "Result"); }
  std::string Csv() const { return Join_Path(Result(), kAlignedCsvName); }
  std::string Aligndb() const { return Join_Path(Result(), kAlignedDbName); }
  void Sample(const std::string& name, double mass, double rt, double intensity) {
    Write_Annotated_Database(Db(name), {Make_Annotated_Peak(1, mass, rt, intensity)});
  }

  // The three-sample study that fast and deep alignment group differently
  // with a deep window of 4 s (see RunTest's ModeTest).
  Args Split_Study() {
    Sample("a" + kSuffix, 200.0, 60.0, 10.0);
    Sample("b" + kSuffix, 200.0, 68.0, 5.0);
    Sample("c" + kSuffix, 200.0, 68.0, 4.0);
    return {Db("a" + kSuffix), Db("b" + kSuffix), Db("c" + kSuffix)};
  }

  Temp_Folder folder_;
  Temp_Folder scratch_;
};

TEST_F(CliTest, AlignsASimulatedStudyIntoResultBesideTheFirstDatabase) {
  const Simulation_Result study = Make_Study(folder_.path(), 4, 40);
  const Outcome outcome = Align(Study_Paths(folder_.path(), study));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");  // stderr is no terminal: no progress bar
  EXPECT_EQ(List_Folder(Result()), (Args{kAlignedDbName, kAlignedCsvName}));
  EXPECT_EQ(Read_Csv(Csv()).size(), study.peaks);
  for (const std::string& expected :
       {std::string("samples: 4\n"), "peaks: " + std::to_string(study.peaks) + "\n",
        std::string("groups: "), std::string("unaligned peaks: "), std::string("seconds: "), Csv(),
        Aligndb()}) {
    EXPECT_NE(outcome.out.find(expected), std::string::npos) << expected << " in " << outcome.out;
  }
  // Without --verbose the alignment's own lines stay out of stdout.
  EXPECT_EQ(outcome.out.find("Compound alignment, Align_ID="), std::string::npos);
}

TEST_F(CliTest, InputsWithoutTheAnnotatedTableAreNamedAndReadAsNoPeaks) {
  Sample("a" + kSuffix, 200.0, 60.0, 10.0);
  Exec_Sql(Db("b" + kSuffix), "create table Other (x integer)");
  Exec_Sql(Db("c" + kSuffix), "create table Other (x integer)");
  const Outcome outcome = Align({Db("a" + kSuffix), Db("b" + kSuffix), Db("c" + kSuffix)});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "varnel-align: " + Db("b" + kSuffix) + ": " + kNoAnnotatedTableNote +
                             "\nvarnel-align: " + Db("c" + kSuffix) + ": " + kNoAnnotatedTableNote +
                             "\n");
  EXPECT_NE(outcome.out.find("samples: 3\npeaks: 1\n"), std::string::npos) << outcome.out;
}

TEST_F(CliTest, SampleNumbersFollowTheCommandLine) {
  Sample("A" + kSuffix, 200.0, 60.0, 10.0);
  Exec_Sql(Db("empty" + kSuffix), "create table Other(x int); insert into Other values(1);");
  Sample("run7.db", 300.0, 60.0, 10.0);
  // Another file of the same name (in another folder): another sample, of
  // the same name.
  std::filesystem::create_directory(Db("again"));
  Copy_File(Db("A" + kSuffix), Db("again/A" + kSuffix));
  const Outcome outcome =
      Align({Db("A" + kSuffix), Db("empty" + kSuffix), Db("run7.db"), Db("again/A" + kSuffix)});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::set<std::pair<std::string, std::string>> samples;
  for (const Csv_Row& row : Read_Csv(Csv()))
    samples.insert({row.at("SAMPLE_ID"), row.at("SAMPLE_NAME")});
  const std::set<std::pair<std::string, std::string>> expected{
      {"0", "A"}, {"2", "run7.db"}, {"3", "A"}};
  EXPECT_EQ(samples, expected);
  EXPECT_NE(outcome.out.find("samples: 4\n"), std::string::npos);
}

// One file given twice, by any path, would be aligned against itself: it is
// refused naming both arguments, before anything is read or written; the
// same for --estimate and --scan.
TEST_F(CliTest, TheSameInputTwiceIsRefusedByAnyPath) {
  const Args study = Split_Study();
  const std::string a = study[0];
  std::filesystem::create_symlink(a, Db("link.db"));
  std::filesystem::create_hard_link(a, Db("hard.db"));
  const std::string dotted = folder_.path() + "/./" + Split_Path(a).name;
  for (const std::string& twin : {a, dotted, Db("link.db"), Db("hard.db")}) {
    for (const Args& mode : std::vector<Args>{{}, {"--estimate"}, {"--scan", Db("scan.json")}}) {
      const Outcome outcome = Align(Concat(mode, {a, study[1], twin}));
      const std::string label = twin + " " + ::testing::PrintToString(mode);
      EXPECT_EQ(outcome.status, 2) << label << outcome.err;
      EXPECT_EQ(outcome.err, "varnel-align: " + a + " and " + twin +
                                 " are the same file; give each input once\n")
          << label;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Result()));
  EXPECT_FALSE(std::filesystem::exists(Db("scan.json")));
  // Control: the three distinct files align.
  EXPECT_EQ(Align(study).status, 0);
}

// One writer per result folder: a run into a folder that another run holds
// fails at once naming that process and host, and leaves the folder as it
// was; the same run goes through once the folder is free.
TEST_F(CliTest, ASecondRunIntoAFolderInUseFailsAtOnce) {
  const Args study = Split_Study();
  ASSERT_EQ(Align(study).status, 0);
  const std::string csv = Read_File(Csv());
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  {
    const Result_Folder_Writer holder(Result());  // this process, as another run
    const Outcome outcome = Align(Concat({"--mode", "deep"}, study));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "varnel-align: " + Result() + ": in use by process " +
                               std::to_string(getpid()) + " on " + host +
                               " (its lock: " + kWriterLockName + ")\n");
    EXPECT_EQ(Read_File(Csv()), csv);
  }
  EXPECT_EQ(Align(Concat({"--mode", "deep"}, study)).status, 0);
  EXPECT_EQ(List_Folder(Result()), (Args{kAlignedDbName, kAlignedCsvName}));
}

// A file that is no database, and a peak list whose integer column holds
// text, are named in Varnel's words; a run that made its result folder for
// nothing takes it away again.
TEST_F(CliTest, BadInputsAreToldInVarnelsWords) {
  const Args study = Split_Study();
  Write_File(Db("notes.db"), std::string(2000, 'x'));
  Outcome outcome = Align({study[0], Db("notes.db")});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "varnel-align: " + Db("notes.db") +
                             ": is not a Varnel annotated peak-list database (file is not a "
                             "database)\n");
  EXPECT_FALSE(std::filesystem::exists(Result()));
  Copy_File(study[1], Db("text.db"));
  Exec_Sql(Db("text.db"), "update Annotate_Peaklist set Peak_ID = 'abc'");
  outcome = Align({study[0], Db("text.db")});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err.rfind("varnel-align: " + Db("text.db") + ": column Peak_ID", 0), 0u)
      << outcome.err;
  EXPECT_NE(outcome.err.find(": not a whole number (invalid stoi argument)"), std::string::npos)
      << outcome.err;
  EXPECT_FALSE(std::filesystem::exists(Result()));
  EXPECT_EQ(Align({study[0], study[1]}).status, 0);  // control
}

TEST_F(CliTest, DeepAndFastGroupDifferentlyAndVerbosePrintsTheLines) {
  const Args study = Split_Study();
  Outcome outcome = Align(Concat({"--verbose", "--deep-window", "4"}, study));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("groups: 1\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("Compound alignment, Align_ID=1\n"), std::string::npos);
  EXPECT_NE(outcome.out.find("Compound Alignment Finished, Totoally, 1Groups are generated!"),
            std::string::npos)
      << outcome.out;
  outcome = Align(Concat({"--mode", "deep", "--deep-window", "4"}, study));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("groups: 2\n"), std::string::npos) << outcome.out;
}

// The inputs read on the run's own thread or on several: the same files.
TEST_F(CliTest, ThreadsGiveTheSameResult) {
  const Simulation_Result study = Make_Study(folder_.path(), 5, 40);
  const Args inputs = Study_Paths(folder_.path(), study);
  std::string csv, db;
  for (const char* threads : {"", "1", "3"}) {
    const std::string out = Join_Path(scratch_.path(), std::string("t") + threads);
    Args args{"--rt-correction", "--result-dir", out};
    if (*threads != '\0') args = Concat({"--threads", threads}, args);
    const Outcome outcome = Align(Concat(args, inputs));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    if (csv.empty()) {
      csv = Read_File(Join_Path(out, kAlignedCsvName));
      db = Read_File(Join_Path(out, kAlignedDbName));
      continue;
    }
    EXPECT_EQ(Read_File(Join_Path(out, kAlignedCsvName)), csv) << threads;
    EXPECT_TRUE(Read_File(Join_Path(out, kAlignedDbName)) == db) << threads;
  }
  EXPECT_EQ(Align(Concat({"--threads", "0"}, inputs)).status, 2);
}

TEST_F(CliTest, ResultDirOptionIsCreatedWhenMissing) {
  const std::string elsewhere = Join_Path(scratch_.path(), "deep/er");
  const Outcome outcome = Align(Concat({"--result-dir", elsewhere}, Split_Study()));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(List_Folder(elsewhere), (Args{kAlignedDbName, kAlignedCsvName}));
  EXPECT_FALSE(std::filesystem::exists(Result()));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const Args study = Split_Study();
  for (const Args& args : std::vector<Args>{{},                              // no DATABASE
                                            {"--mode", "medium", study[0]},  // unknown mode
                                            {"--no-such-option", study[0]},  // unknown option
                                            {"--mass-tol"}}) {               // option without value
    const Outcome outcome = Align(args);
    EXPECT_EQ(outcome.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(outcome.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(Result()));
  // The member choice's first round of shards: one step at a time, no inputs.
  const std::string scan = Result() + ".json";
  for (const Args& args :
       std::vector<Args>{{"--plan", Result(), "--deviations", "0", "--spreads"},
                         {"--plan", Result(), "--shard", "1", "--deviations", "1"},
                         {"--plan", Result(), "--spreads", study[0]},
                         {"--plan", Result(), "--deviations", "0", study[0]},
                         {"--scan", scan, "--spreads", study[0]}}) {
    const Outcome outcome = Align(args);
    EXPECT_EQ(outcome.status, 2) << args[2];
    EXPECT_NE(outcome.err, "") << args[2];
  }
  EXPECT_FALSE(std::filesystem::exists(scan));
  EXPECT_FALSE(std::filesystem::exists(Result()));
  const Outcome help = Align({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--deep-window"), std::string::npos);
}

// Which texts are numbers is CliNumberTest's part (tests/tools); here the
// order of the checks, their messages, and the modes that read each box.
TEST_F(CliTest, MalformedNumbersGetTheWindowsMessagesInItsOrderAndWriteNothing) {
  const Args study = Split_Study();
  const std::string w2 = "You must configure a valid Align Window2!\n";
  const std::string mass = "You must configure a valid Align Mass Tolerance!\n";
  const std::string w1 = "You must configure a valid Align Window1!\n";
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--mode", "deep", "--deep-window", "x", "--mass-tol", "", "--fast-window", "y"}, w2},
      {{"--mode", "deep", "--deep-window", "nan"}, w2},
      {{"--mode", "deep", "--mass-tol", "1,5", "--fast-window", "y"}, mass},
      {{"--mass-tol", "abc", "--fast-window", "y"}, mass},
      {{"--mass-tol", "inf"}, mass},
      {{"--fast-window", "20s"}, w1},
      {{"--mass-tol", "-1", "--fast-window", "1e400"}, mass},
      {{"--mass-tol", "0", "--fast-window", "1e400"}, w1},
      {{"--fast-window", "-20"}, w1},
      {{"--mode", "deep", "--deep-window", "-0.5"}, w2},
      {{"--mode", "deep", "--fast-window", "1e"}, w1},
  };
  for (const auto& [options, message] : cases) {
    const Outcome outcome = Align(Concat(options, study));
    const std::string label = ::testing::PrintToString(options);
    EXPECT_EQ(outcome.status, 2) << label;
    EXPECT_EQ(outcome.err, message) << label;
    EXPECT_EQ(outcome.out, "") << label;
  }
  EXPECT_FALSE(std::filesystem::exists(Result()));
  // Fast mode never reads the deep window; blanks, signs and exponents pass.
  for (const Args& options : std::vector<Args>{{"--deep-window", "not a number"},
                                               {"--mass-tol", " 0.2 ", "--fast-window", "+2e1"},
                                               {"--mass-tol", "0", "--fast-window", "0"}}) {
    const Outcome outcome = Align(Concat(options, study));
    EXPECT_EQ(outcome.status, 0) << ::testing::PrintToString(options) << outcome.err;
  }
}

TEST_F(CliTest, FailedRunCreatesNeitherTheResultFolderNorTheMissingInput) {
  const std::string missing = Db("missing" + kSuffix);
  const std::string fresh = Join_Path(scratch_.path(), "fresh");
  const Outcome outcome = Align({"--result-dir", fresh, missing});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find(missing), std::string::npos) << outcome.err;
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST_F(CliTest, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  const Args study = Split_Study();
  auto on_tty = [&](const std::string& extra) {
    std::string inner = Quote(VARNEL_ALIGN_PROGRAM) + extra;
    for (const std::string& db : study) inner.append(" ").append(Quote(db));
    inner += " >/dev/null";  // only stderr reaches the terminal
    const std::string log = Join_Path(scratch_.path(), "tty.txt");
    const std::string command =
        std::string("script -qec ").append(Quote(inner)).append(" /dev/null >").append(Quote(log)) +
        " 2>&1 </dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Read_File(log);
  };
  EXPECT_NE(on_tty("").find("writing database ["), std::string::npos);
  EXPECT_EQ(on_tty(" --quiet").find('['), std::string::npos);
}

}  // namespace

// Ctrl+C, SIGTERM and SIGHUP stop a run while it aligns: exit 130 / 143 /
// 129, the earlier results byte for byte, no temporary file left.
TEST_F(CliTest, StopSignalsLeaveTheEarlierResults) {
  const Simulation_Result study = Make_Study(folder_.path(), 3, 1500);
  const Args databases = Study_Paths(folder_.path(), study);
  ASSERT_EQ(Align(databases).status, 0);
  const std::string old_csv = Read_File(Csv());
  const std::string old_db = Read_File(Aligndb());
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      // As a terminal gives them, whatever the test runner ignores.
      for (const int stop : {SIGINT, SIGTERM, SIGHUP}) ::signal(stop, SIG_DFL);
      std::vector<char*> argv{const_cast<char*>(VARNEL_ALIGN_PROGRAM),
                              const_cast<char*>("--verbose"), const_cast<char*>("--mode"),
                              const_cast<char*>("deep")};
      for (const std::string& db : databases) argv.push_back(const_cast<char*>(db.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    char byte = 0;
    ASSERT_EQ(read(out[0], &byte, 1), 1);  // the first progress line: it is aligning
    kill(pid, signal);
    while (read(out[0], &byte, 1) == 1) {
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(List_Folder(Result()), (Args{kAlignedDbName, kAlignedCsvName}));
    EXPECT_TRUE(Read_File(Csv()) == old_csv);
    EXPECT_TRUE(Read_File(Aligndb()) == old_db);
  }
}

// The options beyond the three numbers: the estimate's last line, ppm
// exclusive with Da, the correction's and the record's tables, and a rerun
// with the record giving the same bytes.
TEST_F(CliTest, EstimateCorrectionPpmAndRecord) {
  const Simulation_Result study = Make_Study(folder_.path(), 6, 300);
  const Args databases = Study_Paths(folder_.path(), study);

  const Outcome estimate = Align(Concat({"--estimate", "--rt-correction"}, databases));
  ASSERT_EQ(estimate.status, 0) << estimate.err;
  const std::string last =
      estimate.out.substr(estimate.out.rfind('\n', estimate.out.size() - 2) + 1);
  EXPECT_EQ(last.rfind("--mass-tol ", 0), 0u) << last;
  EXPECT_NE(last.find(" --fast-window "), std::string::npos) << last;
  EXPECT_NE(last.find(" --deep-window "), std::string::npos) << last;
  EXPECT_FALSE(std::filesystem::exists(Result()));
  // With the member choice the line carries it, so that it can be pasted
  // whole; the figures are those of the estimate without it.
  const Outcome scored = Align(
      Concat({"--estimate", "--rt-correction", "--pick", "scored", "--join-splits"}, databases));
  ASSERT_EQ(scored.status, 0) << scored.err;
  EXPECT_EQ(scored.out,
            estimate.out.substr(0, estimate.out.size() - 1) + " --pick scored --join-splits\n");
  const Outcome closest =
      Align(Concat({"--estimate", "--rt-correction", "--pick", "closest"}, databases));
  EXPECT_EQ(closest.out, estimate.out);
  EXPECT_FALSE(std::filesystem::exists(Result()));

  EXPECT_EQ(Align(Concat({"--mass-tol", "0.1", "--mass-tol-ppm", "5"}, databases)).status, 2);
  EXPECT_EQ(Align(Concat({"--mass-tol-ppm", "-5"}, databases)).status, 2);

  const Args options = {"--mass-tol-ppm", "10", "--rt-correction", "--record-run"};
  ASSERT_EQ(Align(Concat(options, databases)).status, 0);
  const std::string first_db = Read_File(Aligndb());
  const std::string first_csv = Read_File(Csv());
  ASSERT_EQ(Align(Concat(options, databases)).status, 0);
  EXPECT_TRUE(Read_File(Aligndb()) == first_db);
  EXPECT_TRUE(Read_File(Csv()) == first_csv);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Aligndb().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto count = [db](const char* sql) {
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &query, nullptr);
    const int n = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int(query, 0) : -1;
    sqlite3_finalize(query);
    return n;
  };
  EXPECT_GT(count("select count(*) from Align_RT_Correction"), 0);
  EXPECT_EQ(count("select count(*) from Align_Run_Input"), 6);
  EXPECT_EQ(count("select count(*) from Align_Run where Item = 'mass_tol_ppm' and Value = '10'"),
            1);
  sqlite3_close(db);
}
