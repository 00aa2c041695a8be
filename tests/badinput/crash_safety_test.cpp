// varnel-align killed (SIGKILL) at random moments while it writes its results:
// each result file is afterwards either the complete old one or the complete
// new one, never a truncated or mixed file; the temporary files a kill leaves
// behind can never be taken for results; a later run still succeeds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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

constexpr int kKills = 6;
constexpr unsigned kSeed = 20261207;

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

  std::map<std::string, std::string> Results(const std::string& folder) {
    std::map<std::string, std::string> bytes;
    for (const std::string& name : kResultNames) bytes[name] = Read_File(Join_Path(folder, name));
    return bytes;
  }

  Temp_Folder folder_;
  std::string data_;
  std::vector<std::string> databases_;
};

TEST_F(CrashSafetyTest, KilledWriterLeavesOldOrNewFilesOnly) {
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

  // How long the writing lasts: from the first temporary file to the end.
  const std::string result = Join_Path(folder_.path(), "Result");
  fs::create_directory(result);
  auto start_run = [&]() {
    std::vector<std::string> args{"--quiet", "--mode", "fast", "--result-dir", result};
    args.insert(args.end(), databases_.begin(), databases_.end());
    return Start_Program(VARNEL_ALIGN_PROGRAM, args);
  };
  // Waits for the writing to begin (a new temporary file; earlier kills left
  // theirs); false when the program ended first.
  auto wait_for_writing = [&](pid_t pid) {
    const std::vector<std::string> before = Hidden_Entries(result);
    for (;;) {
      if (Hidden_Entries(result).size() > before.size()) return true;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  Clock::duration writing{};
  {
    const pid_t pid = start_run();
    ASSERT_TRUE(wait_for_writing(pid));
    const Clock::time_point begin = Clock::now();
    int status = 0;
    waitpid(pid, &status, 0);
    writing = Clock::now() - begin;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(Results(result) == new_bytes) << "the writer's output is not reproducible";
  }

  std::mt19937 random(kSeed);
  std::uniform_int_distribution<long long> delay_us(
      0, std::chrono::duration_cast<std::chrono::microseconds>(writing).count());
  std::map<std::string, int> outcomes;  // "old/new" pattern -> kills
  for (int kill_no = 0; kill_no < kKills; ++kill_no) {
    for (const std::string& name : kResultNames) {
      Write_File(Join_Path(result, name), old_bytes.at(name));
    }
    const pid_t pid = start_run();
    const bool writing_started = wait_for_writing(pid);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!writing_started) continue;

    std::string pattern;
    for (const std::string& name : kResultNames) {
      const std::string bytes = Read_File(Join_Path(result, name));
      if (bytes == old_bytes.at(name)) {
        pattern += "old ";
      } else if (bytes == new_bytes.at(name)) {
        pattern += "new ";
      } else {
        ADD_FAILURE() << "kill " << kill_no << ": " << name << " is neither the old nor the new "
                      << "result (" << bytes.size() << " bytes)";
        pattern += "MIXED ";
      }
    }
    ++outcomes[pattern];
  }
  const std::vector<std::string> leftovers = Hidden_Entries(result);

  // What a kill leaves behind is hidden, carries a random suffix, and never
  // has a result's name or extension, so neither a later run nor the
  // viewer's "*.aligndb" file dialog takes it for a result.
  for (const std::string& name : leftovers) {
    EXPECT_TRUE(name.starts_with(".aligned_annotated_grouped_chromatograph_peaklist.")) << name;
    EXPECT_FALSE(name.ends_with(".aligndb")) << name;
    EXPECT_FALSE(name.ends_with(".csv")) << name;
  }
  // A later run ignores them and writes both results completely.
  const pid_t pid = start_run();
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(Results(result) == new_bytes);

  std::cout << "writing lasted "
            << std::chrono::duration_cast<std::chrono::milliseconds>(writing).count()
            << " ms; outcomes (csv, aligndb):";
  for (const auto& [pattern, count] : outcomes) std::cout << " [" << pattern << "] x" << count;
  std::cout << "; temporary files left: " << Hidden_Entries(result).size() << '\n';
}

}  // namespace
}  // namespace badinput
