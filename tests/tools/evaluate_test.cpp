// The score of an aligned result against the ground truth of a simulated
// study.
#include "tools/evaluate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tools/simulate.h"

namespace {

// Three samples, five true compounds (0 = none). Peaks: {sample, Compound_ID,
// truth, Align_ID}.
//   truth 1: s0, s1, s2, all in group 1          -> 3 true pairs, 3 found
//   truth 2: s0, s1 in group 2; s2 in group 3    -> 3 true pairs, 1 found
//   truth 3: s0 (two ions, group 4), s1 (group 4) -> 2 true pairs (ions of one
//            sample never pair), 2 found
//   truth 4: s1 in group 3 with truth 2's s2     -> 1 false pair
//   truth 0: s2, Align_ID 0                      -> nothing
TEST(EvaluateTest, HandMadeStudyCountsPairsAcrossSamples) {
  const std::vector<Scored_Peak> peaks = {{0, 1, 1, 1}, {1, 1, 1, 1}, {2, 1, 1, 1},  //
                                          {0, 2, 2, 2}, {1, 2, 2, 2}, {2, 2, 2, 3},  //
                                          {0, 3, 3, 4}, {0, 3, 3, 4}, {1, 3, 3, 4},  //
                                          {1, 4, 4, 3}, {2, 9, 0, 0}};
  const Evaluation e = Score_Alignment(peaks);
  EXPECT_EQ(e.peak_level.true_pairs, 3u + 3u + 2u);
  EXPECT_EQ(e.peak_level.found_pairs, 3u + 1u + 2u + 1u);
  EXPECT_EQ(e.peak_level.correct_pairs, 3u + 1u + 2u);
  EXPECT_DOUBLE_EQ(e.peak_level.precision, 6.0 / 7.0);
  EXPECT_DOUBLE_EQ(e.peak_level.recall, 6.0 / 8.0);
  EXPECT_DOUBLE_EQ(e.peak_level.f1, 2.0 * (6.0 / 7.0) * 0.75 / (6.0 / 7.0 + 0.75));
  // Compound level: the two ions of truth 3 in s0 are one unit.
  EXPECT_EQ(e.compound_units, 10u);
  EXPECT_EQ(e.compound_level.true_pairs, 3u + 3u + 1u);
  EXPECT_EQ(e.compound_level.correct_pairs, 3u + 1u + 1u);
  EXPECT_NE(Format_Evaluation(e).find("peak"), std::string::npos);
}

TEST(EvaluateTest, NoPairsScoresAsDocumented) {
  const Evaluation none = Score_Alignment({{0, 1, 1, 0}, {1, 1, 2, 0}});
  EXPECT_EQ(none.peak_level.precision, 1.0);
  EXPECT_EQ(none.peak_level.recall, 1.0);
  const Evaluation missed = Score_Alignment({{0, 1, 1, 0}, {1, 1, 1, 0}});
  EXPECT_EQ(missed.peak_level.recall, 0.0);
  EXPECT_EQ(missed.peak_level.f1, 0.0);
}

// Three samples; truth 0 marks peaks outside the curated compounds. Curated
// only, they drop out of every count: group 1 holds curated 1 in s0 and s1
// and an uncurated peak of s2 (no false pair counted), group 2 curated 2 in
// s0 and s2 with an uncurated peak of s1, curated 2 of s1 sits alone.
TEST(EvaluateTest, CuratedOnlyLeavesUncuratedPeaksOut) {
  const std::vector<Scored_Peak> peaks = {{0, 1, 1, 1}, {1, 1, 1, 1}, {2, 1, 0, 1},  //
                                          {0, 2, 2, 2}, {2, 2, 2, 2}, {1, 3, 0, 2},  //
                                          {1, 2, 2, 5}, {0, 7, 0, 9}, {2, 7, 0, 9}};
  const Evaluation curated = Score_Alignment(peaks, true);
  EXPECT_EQ(curated.peaks, 5u);
  EXPECT_EQ(curated.peak_level.true_pairs, 1u + 3u);
  EXPECT_EQ(curated.peak_level.found_pairs, 1u + 1u);
  EXPECT_EQ(curated.peak_level.correct_pairs, 2u);
  EXPECT_DOUBLE_EQ(curated.peak_level.precision, 1.0);
  EXPECT_DOUBLE_EQ(curated.peak_level.recall, 0.5);
  // Every peak: the uncurated members make false pairs (3 + 3 + 1 found).
  const Evaluation all = Score_Alignment(peaks);
  EXPECT_EQ(all.peak_level.found_pairs, 3u + 3u + 1u);
  EXPECT_EQ(all.peak_level.correct_pairs, 2u);
}

TEST(EvaluateTest, GroundTruthAcceptedAndRejected) {
  Temp_Folder folder;
  const std::string path = Join_Path(folder.path(), "truth.csv");
  Write_File(path, "sample,EIC_ID,Peak_ID,true_compound\r\na,1,2,3\nb,4294967295,0,0\n\n");
  const Ground_Truth truth = Ground_Truth::Read(path);
  std::uint32_t compound = 7;
  EXPECT_TRUE(truth.Find("a", 1, 2, compound));
  EXPECT_EQ(compound, 3u);
  EXPECT_TRUE(truth.Find("b", 4294967295u, 0, compound));
  EXPECT_FALSE(truth.Find("a", 2, 1, compound));

  const struct {
    const char* text;
    const char* message;
  } rejected[] = {
      {"", "empty file"},
      {"sample,EIC,Peak_ID,true_compound\na,1,2,3\n", "line 1: expected the header"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,1,2\n", "line 2: expected 4 fields, found 3"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,1,2,3,4\n", "line 2: expected 4 fields, found 5"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,x,2,3\n", "line 2: EIC_ID"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,1,4294967296,3\n", "line 2: Peak_ID"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,1,2,-3\n", "line 2: true_compound"},
      {"sample,EIC_ID,Peak_ID,true_compound\na,1,2,3\na,1,2,4\n", "line 3: peak listed twice"},
      {"sample,EIC_ID,Peak_ID,true_compound\n", "lists no peak"},
  };
  for (const auto& r : rejected) {
    Write_File(path, r.text);
    try {
      Ground_Truth::Read(path);
      ADD_FAILURE() << "accepted: " << r.text;
    } catch (const Evaluation_Error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(Ground_Truth::Read(Join_Path(folder.path(), "missing.csv")), Evaluation_Error);
}

TEST(EvaluateTest, BadResultsAreRejectedByName) {
  Temp_Folder folder;
  Ground_Truth truth;
  truth.Add("a", 1, 1, 1);
  const std::string text = Join_Path(folder.path(), "text.aligndb");
  Write_File(text, "not a database at all, just some text that is long enough to be read");
  const std::string other = Join_Path(folder.path(), "other.aligndb");
  Exec_Sql(other, "CREATE TABLE t(x)");
  const std::string empty = Join_Path(folder.path(), "empty.aligndb");
  Exec_Sql(empty,
           "CREATE TABLE Align_Peaklist(SAMPLE_NAME, SAMPLE_ID, EIC_ID, Peak_ID, Compound_ID, "
           "Align_ID)");
  const std::string unknown = Join_Path(folder.path(), "unknown.aligndb");
  Exec_Sql(unknown,
           "CREATE TABLE Align_Peaklist(SAMPLE_NAME, SAMPLE_ID, EIC_ID, Peak_ID, Compound_ID, "
           "Align_ID); INSERT INTO Align_Peaklist VALUES('b', 0, 1, 1, 1, 1)");
  for (const std::string& path :
       {text, other, empty, unknown, Join_Path(folder.path(), "missing.aligndb")}) {
    try {
      Read_Scored_Result(path, truth);
      ADD_FAILURE() << "accepted " << path;
    } catch (const Evaluation_Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + ": ", 0), 0u) << e.what();
    }
  }
}

}  // namespace
