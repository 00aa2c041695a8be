// varnel-align end to end: the program is run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "align/alignment_run.h"
#include "run_support.h"
#include "storage/path.h"
#include "tools/simulate.h"

namespace {

const std::string kSuffix = kAnnotatedSuffix;

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

class CliTest : public ::testing::Test {
 protected:
  Outcome Align(const std::vector<std::string>& args) {
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

  // The three-sample study that fast and deep alignment group differently
  // with a deep window of 4 s (see RunTest's ModeTest).
  std::vector<std::string> Split_Study() {
    Write_Sample(folder_.path(), "a" + kSuffix, {Make_Peak(1, 200.0, 60.0, 10.0)});
    Write_Sample(folder_.path(), "b" + kSuffix, {Make_Peak(1, 200.0, 68.0, 5.0)});
    Write_Sample(folder_.path(), "c" + kSuffix, {Make_Peak(1, 200.0, 68.0, 4.0)});
    return {Db("a" + kSuffix), Db("b" + kSuffix), Db("c" + kSuffix)};
  }

  static std::size_t Count_Lines(const std::string& text) {
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
  }

  Temp_Folder folder_;
  Temp_Folder scratch_;
};

TEST_F(CliTest, AlignsASimulatedStudyIntoResultBesideTheFirstDatabase) {
  Simulation_Options options;
  options.samples = 4;
  options.compounds = 40;
  const Simulation_Result study = Simulate_Study(options, folder_.path());
  std::vector<std::string> args;
  for (const std::string& name : study.database_names) args.push_back(Db(name));
  const Outcome outcome = Align(args);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");  // stderr is no terminal: no progress bar
  EXPECT_EQ(List_Folder(Result()), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
  EXPECT_EQ(Read_Csv(Csv()).size(), study.peaks);
  EXPECT_NE(outcome.out.find("samples: 4\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find(std::string("peaks: ").append(std::to_string(study.peaks)) + "\n"),
            std::string::npos);
  EXPECT_NE(outcome.out.find("groups: "), std::string::npos);
  EXPECT_NE(outcome.out.find("unaligned peaks: "), std::string::npos);
  EXPECT_NE(outcome.out.find("seconds: "), std::string::npos);
  EXPECT_NE(outcome.out.find(Csv()), std::string::npos);
  EXPECT_NE(outcome.out.find(Aligndb()), std::string::npos);
  // Without --verbose the alignment's own lines stay out of stdout.
  EXPECT_EQ(outcome.out.find("Compound alignment, Align_ID="), std::string::npos);
}

TEST_F(CliTest, VerbosePrintsTheAlignmentLines) {
  const Outcome outcome = Align([&] {
    auto args = Split_Study();
    args.insert(args.begin(), "--verbose");
    return args;
  }());
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Compound alignment, Align_ID=1\n"), std::string::npos);
  EXPECT_NE(outcome.out.find("Compound Alignment Finished, Totoally, 1Groups are generated!"),
            std::string::npos)
      << outcome.out;
}

TEST_F(CliTest, SampleNumbersFollowTheCommandLine) {
  Write_Sample(folder_.path(), "A" + kSuffix, {Make_Peak(1, 200.0, 60.0, 10.0)});
  Write_Database_Without_Table(Db("empty" + kSuffix));
  Write_Sample(folder_.path(), "run7.db", {Make_Peak(1, 300.0, 60.0, 10.0)});
  const Outcome outcome =
      Align({Db("A" + kSuffix), Db("empty" + kSuffix), Db("run7.db"), Db("A" + kSuffix)});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::set<std::pair<std::string, std::string>> samples;
  for (const Csv_Row& row : Read_Csv(Csv()))
    samples.insert({row.at("SAMPLE_ID"), row.at("SAMPLE_NAME")});
  const std::set<std::pair<std::string, std::string>> expected{
      {"0", "A"}, {"2", "run7.db"}, {"3", "A"}};
  EXPECT_EQ(samples, expected);
  EXPECT_NE(outcome.out.find("samples: 4\n"), std::string::npos);
}

TEST_F(CliTest, DeepAndFastGroupDifferently) {
  const std::vector<std::string> study = Split_Study();
  std::vector<std::string> fast = {"--deep-window", "4"};
  fast.insert(fast.end(), study.begin(), study.end());
  std::vector<std::string> deep = {"--mode", "deep", "--deep-window", "4"};
  deep.insert(deep.end(), study.begin(), study.end());
  Outcome outcome = Align(fast);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("groups: 1\n"), std::string::npos) << outcome.out;
  outcome = Align(deep);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("groups: 2\n"), std::string::npos) << outcome.out;
}

TEST_F(CliTest, ResultDirOptionIsCreatedWhenMissing) {
  const std::vector<std::string> study = Split_Study();
  const std::string elsewhere = Join_Path(scratch_.path(), "deep/er");
  std::vector<std::string> args = {"--result-dir", elsewhere};
  args.insert(args.end(), study.begin(), study.end());
  const Outcome outcome = Align(args);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(List_Folder(elsewhere), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
  EXPECT_FALSE(std::filesystem::exists(Result()));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const std::vector<std::string> study = Split_Study();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},                              // no DATABASE
                                             {"--mode", "medium", study[0]},  // unknown mode
                                             {"--no-such-option", study[0]},  // unknown option
                                             {"--mass-tol"}}) {  // option without value
    const Outcome outcome = Align(args);
    EXPECT_EQ(outcome.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(outcome.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(Result()));
  const Outcome help = Align({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--deep-window"), std::string::npos);
}

struct Bad_Number_Case {
  std::vector<std::string> options;
  std::string message;  // empty: accepted
};

TEST_F(CliTest, MalformedNumbersGetTheWindowsMessagesInItsOrder) {
  const std::vector<std::string> study = Split_Study();
  const std::string w2 = "You must configure a valid Align Window2!\n";
  const std::string mass = "You must configure a valid Align Mass Tolerance!\n";
  const std::string w1 = "You must configure a valid Align Window1!\n";
  const std::vector<Bad_Number_Case> cases = {
      {{"--mode", "deep", "--deep-window", "x", "--mass-tol", "", "--fast-window", "y"}, w2},
      {{"--mode", "deep", "--deep-window", "", "--mass-tol", "0.1"}, w2},
      {{"--mode", "deep", "--mass-tol", "1,5", "--fast-window", "y"}, mass},
      {{"--mass-tol", "abc", "--fast-window", "y"}, mass},
      {{"--mass-tol", "  "}, mass},
      {{"--mass-tol", "0.1x"}, mass},
      {{"--mass-tol", "0x1p3"}, mass},
      {{"--fast-window", "20s"}, w1},
      {{"--fast-window", "+-5"}, w1},
      {{"--mode", "deep", "--fast-window", "1e"}, w1},
      // Accepted: fast mode never reads the deep window; blanks, signs,
      // exponents and the window's any-number rule.
      {{"--deep-window", "not a number"}, ""},
      {{"--mass-tol", " 0.2 ", "--fast-window", "+2e1"}, ""},
      {{"--mass-tol", "-1", "--fast-window", "0"}, ""},
      // As in the window, infinities and NaN are no numbers.
      {{"--mass-tol", "-1", "--fast-window", "1e400"}, w1},
      {{"--mode", "deep", "--deep-window", "nan"}, w2},
      {{"--mass-tol", "inf"}, mass},
  };
  for (const Bad_Number_Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), study.begin(), study.end());
    const Outcome outcome = Align(args);
    const std::string label = ::testing::PrintToString(c.options);
    if (c.message.empty()) {
      EXPECT_EQ(outcome.status, 0) << label << outcome.err;
    } else {
      EXPECT_EQ(outcome.status, 2) << label;
      EXPECT_EQ(outcome.err, c.message) << label;
      EXPECT_EQ(outcome.out, "") << label;
    }
  }
}

TEST_F(CliTest, RefusedNumbersWriteNothing) {
  const std::vector<std::string> study = Split_Study();
  const Outcome outcome = Align({"--mass-tol", "x", study[0]});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_FALSE(std::filesystem::exists(Result()));
}

TEST_F(CliTest, UnreadableDatabaseFailsWithOneLineAndKeepsEarlierResult) {
  const std::vector<std::string> study = Split_Study();
  ASSERT_EQ(Align(study).status, 0);
  const std::string csv = Read_File(Csv());
  const std::string db = Read_File(Aligndb());
  Write_File(Db("broken" + kSuffix), std::string(2048, '\x7f'));
  for (const std::string& bad : {Db("broken" + kSuffix), Db("missing" + kSuffix),
                                 Join_Path(scratch_.path(), "no/such/folder.db")}) {
    std::vector<std::string> args = study;
    args.push_back(bad);
    const Outcome outcome = Align(args);
    EXPECT_EQ(outcome.status, 1) << bad;
    EXPECT_EQ(Count_Lines(outcome.err), 1u) << outcome.err;
    EXPECT_NE(outcome.err.find(bad), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(Read_File(Csv()), csv);
    EXPECT_EQ(Read_File(Aligndb()), db);
  }
  // A missing file is not created by reading it.
  EXPECT_FALSE(std::filesystem::exists(Db("missing" + kSuffix)));
  // A result folder made for a failed run does not stay behind.
  const std::string fresh = Join_Path(scratch_.path(), "fresh");
  EXPECT_EQ(Align({"--result-dir", fresh, Db("broken" + kSuffix)}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST_F(CliTest, UnwritableResultFailsAndKeepsEarlierResult) {
  const std::vector<std::string> study = Split_Study();
  ASSERT_EQ(Align(study).status, 0);
  const std::string db = Read_File(Aligndb());
  // The CSV name taken by a folder: the CSV cannot be written, so the run
  // stops before the database and the earlier database survives.
  std::filesystem::remove(Csv());
  std::filesystem::create_directory(Csv());
  Outcome outcome = Align(study);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Count_Lines(outcome.err), 1u) << outcome.err;
  EXPECT_NE(outcome.err.find(kAlignedCsvName), std::string::npos) << outcome.err;
  EXPECT_EQ(Read_File(Aligndb()), db);

  // A result folder that is a regular file.
  const std::string file = Join_Path(scratch_.path(), "taken");
  Write_File(file, "keep me");
  std::vector<std::string> args = {"--result-dir", file};
  args.insert(args.end(), study.begin(), study.end());
  outcome = Align(args);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Count_Lines(outcome.err), 1u) << outcome.err;
  EXPECT_NE(outcome.err.find(file), std::string::npos) << outcome.err;
  EXPECT_EQ(Read_File(file), "keep me");
}

TEST_F(CliTest, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  const std::vector<std::string> study = Split_Study();
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
