// varnel-align killed (SIGKILL) at random moments while it writes its results,
// between the renames of the two files included: once a Varnel program has
// opened the folder, the CSV file and the database are both the old run's or
// both the new run's, and no temporary file is left; a later run still
// succeeds. The window ends on the stop signals with 128 + the signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "badinput_support.h"
#include "run/alignment_run.h"
#include "storage/path.h"

namespace badinput {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kKills = 10;
constexpr int kKillsBetweenRenames = 3;
constexpr unsigned kSeed = 20261207;
// The writer's pause between its two renames (its test hook), long enough for
// random kills to land in it now and then.
constexpr const char* kPauseMs = "150";
constexpr const char* kLongPauseMs = "5000";
constexpr const char* kCommitRecord = ".varnel-pair-commit";

const std::vector<std::string> kResultNames = {kAlignedCsvName, kAlignedDbName};

class CrashSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = Join_Path(folder_.path(), "data");
    fs::create_directory(data_);
    databases_ = Study_Paths(data_, Make_Study(data_, 6, 400, 5));
  }

  // Runs varnel-align into result; returns its exit status.
  int Align(const std::string& result, const std::string& mode) {
    std::vector<std::string> args{"--quiet", "--mode", mode, "--result-dir", result};
    args.insert(args.end(), databases_.begin(), databases_.end());
    const Program_Result run = Run_Program(VARNEL_ALIGN_PROGRAM, args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return run.exit_code;
  }

  // Opens the result with a Varnel program that only reads it.
  void Open(const std::string& folder) {
    const Program_Result open =
        Run_Program(VARNEL_EXPORT_PROGRAM, {"--info", Join_Path(folder, kAlignedDbName)});
    EXPECT_EQ(open.exit_code, 0) << open.err;
  }

  std::map<std::string, std::string> Results(const std::string& folder) {
    std::map<std::string, std::string> bytes;
    for (const std::string& name : kResultNames) bytes[name] = Read_File(Join_Path(folder, name));
    return bytes;
  }

  Temp_Folder folder_;
  std::string data_;
  std::vector<std::string> databases_;
};

TEST_F(CrashSafetyTest, KilledWriterLeavesOneRunsPairOnceOpened) {
  // The old results (deep mode) and the new ones (fast mode). A run writes a
  // fresh database file with the same statements every time, so the new
  // results are compared byte for byte (the timed run below shows that a
  // second run gives the same bytes).
  const std::string old_ref = Join_Path(folder_.path(), "old");
  const std::string new_ref = Join_Path(folder_.path(), "new");
  ASSERT_EQ(Align(old_ref, "deep"), 0);
  ASSERT_EQ(Align(new_ref, "fast"), 0);
  const auto old_bytes = Results(old_ref);
  const auto new_bytes = Results(new_ref);
  for (const std::string& name : kResultNames) {
    ASSERT_NE(old_bytes.at(name), new_bytes.at(name)) << name;
  }

  setenv("VARNEL_TEST_PAUSE_BETWEEN_RENAMES", kPauseMs, 1);
  // How long the writing lasts: from the first temporary file to the end.
  const std::string result = Join_Path(folder_.path(), "Result");
  fs::create_directory(result);
  auto start_run = [&]() {
    for (const std::string& name : kResultNames) {
      Write_File(Join_Path(result, name), old_bytes.at(name));
    }
    std::vector<std::string> args{"--quiet", "--mode", "fast", "--result-dir", result};
    args.insert(args.end(), databases_.begin(), databases_.end());
    return Start_Program(VARNEL_ALIGN_PROGRAM, args);
  };
  // Waits for until() to hold; false when the program ended first.
  auto wait_for = [&](pid_t pid, const std::function<bool()>& until) {
    for (;;) {
      if (until()) return true;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  // The writing has begun: a temporary file is there (a Varnel program
  // opened the folder after each kill, so none is left from before).
  auto writing = [&] { return !Hidden_Entries(result).empty(); };
  Clock::duration writing_time{};
  {
    const pid_t pid = start_run();
    ASSERT_TRUE(wait_for(pid, writing));
    const Clock::time_point begin = Clock::now();
    int status = 0;
    waitpid(pid, &status, 0);
    writing_time = Clock::now() - begin;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(Results(result) == new_bytes) << "the writer's output is not reproducible";
  }

  // What the folder holds once a Varnel program has opened it.
  auto outcome = [&](const std::string& label) {
    Open(result);
    std::string pattern;
    for (const std::string& name : kResultNames) {
      const std::string bytes = Read_File(Join_Path(result, name));
      pattern += bytes == old_bytes.at(name)   ? "old "
                 : bytes == new_bytes.at(name) ? "new "
                                               : "DAMAGED ";
    }
    EXPECT_TRUE(pattern == "old old " || pattern == "new new ") << label << ": " << pattern;
    EXPECT_EQ(Hidden_Entries(result), std::vector<std::string>{}) << label;
    return pattern;
  };

  std::mt19937 random(kSeed);
  std::uniform_int_distribution<long long> delay_us(
      0, std::chrono::duration_cast<std::chrono::microseconds>(writing_time).count());
  std::map<std::string, int> outcomes;  // "old/new" pattern -> kills
  for (int kill_no = 0; kill_no < kKills; ++kill_no) {
    const pid_t pid = start_run();
    const bool started = wait_for(pid, writing);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (started) ++outcomes[outcome("kill " + std::to_string(kill_no))];
  }

  // Kills while the CSV file is new and the database still old. The pause is
  // long here, so that a loaded machine (a sanitizer build beside other
  // tests) still sees the state before the second rename; the kill ends it.
  setenv("VARNEL_TEST_PAUSE_BETWEEN_RENAMES", kLongPauseMs, 1);
  for (int kill_no = 0; kill_no < kKillsBetweenRenames; ++kill_no) {
    const std::string label = "kill between the renames " + std::to_string(kill_no);
    const pid_t pid = start_run();
    const bool between = wait_for(pid, [&] {
      return fs::exists(Join_Path(result, kCommitRecord)) &&
             Read_File(Join_Path(result, kAlignedCsvName)) == new_bytes.at(kAlignedCsvName);
    });
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(between) << label;
    EXPECT_TRUE(Read_File(Join_Path(result, kAlignedDbName)) == old_bytes.at(kAlignedDbName))
        << label << ": the kill came after the second rename";
    EXPECT_EQ(outcome(label), "new new ");
  }
  unsetenv("VARNEL_TEST_PAUSE_BETWEEN_RENAMES");

  // A later run writes both results completely.
  const pid_t pid = start_run();
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(Results(result) == new_bytes);
  EXPECT_EQ(Hidden_Entries(result), std::vector<std::string>{});

  std::cout << "writing lasted "
            << std::chrono::duration_cast<std::chrono::milliseconds>(writing_time).count()
            << " ms; outcomes (csv, aligndb) of random kills:";
  for (const auto& [pattern, count] : outcomes) std::cout << " [" << pattern << "] x" << count;
  std::cout << '\n';
}

#ifdef VARNEL_WINDOW_PROGRAM
// True once the process catches signal (its handler is installed).
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("SigCgt:")) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (signal - 1) & 1U) != 0;
    }
  }
  return false;
}

// The window ends on SIGINT, SIGTERM and SIGHUP with 130, 143 and 129.
TEST(WindowSignalTest, StopSignalsEndTheWindowWithTheirStatus) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const pid_t pid = Start_Program(VARNEL_WINDOW_PROGRAM, {});
    bool ready = false;
    for (int tries = 0; tries < 3000 && !ready; ++tries) {
      ready = Catches(pid, signal);
      if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(ready);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
  }
}
#endif

}  // namespace
}  // namespace badinput
