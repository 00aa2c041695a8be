// The stages of a run: a run reports the rows of kRunStages in table order
// (the drift correction's only when asked for), and a stop while the drift
// is corrected leaves nothing behind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "run/alignment_run.h"
#include "run/run_stages.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

class RunStagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Simulation_Result study = Make_Study(folder_.path(), 3, 200);
    for (const std::string& name : study.database_names) files_.push_back({folder_.path(), name});
    quiet_.align_lines = &lines_;
  }

  Alignment_Request Request(bool rt_correction) const {
    Alignment_Request request =
        Request_For(One_Phase_Align, 0.1, 20.0, 10.0, files_, folder_.path());
    request.rt_correction = rt_correction;
    return request;
  }

  Temp_Folder folder_;
  std::vector<Annotated_File> files_;
  std::ostringstream lines_;
  Alignment_Run_Observer quiet_;
};

TEST_F(RunStagesTest, RunReportsTheTableInOrderAndCorrectsOnlyWhenAsked) {
  for (const bool rt_correction : {false, true}) {
    SCOPED_TRACE(rt_correction ? "with drift correction" : "without");
    std::vector<Run_Stage> expected;
    for (const Run_Stage_Info& info : kRunStages) {
      if (info.stage != Run_Stage::kCorrecting || rt_correction) expected.push_back(info.stage);
    }
    std::vector<Run_Stage> seen;
    Alignment_Run_Observer observer = quiet_;
    observer.on_stage = [&](Run_Stage stage) { seen.push_back(stage); };
    Run_Alignment(Request(rt_correction), observer);
    EXPECT_EQ(seen, expected);
  }
}

TEST_F(RunStagesTest, StopWhileCorrectingWritesNothing) {
  bool stop = false;
  Alignment_Run_Observer observer = quiet_;
  observer.on_stage = [&](Run_Stage stage) { stop = stop || stage == Run_Stage::kCorrecting; };
  const std::vector<std::string> before = List_Folder(folder_.path());
  EXPECT_THROW(Run_Alignment(Request(true), Make_Cancellable(observer, [&] { return stop; })),
               Run_Cancelled);
  EXPECT_TRUE(stop);
  EXPECT_EQ(List_Folder(folder_.path()), before);
}

}  // namespace
