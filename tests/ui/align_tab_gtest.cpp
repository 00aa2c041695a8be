// The alignment tab's logic without a window: picks, loads, number checks and
// the order in which an Align request is refused.
#include <gtest/gtest.h>

#include <QDir>
#include <QStandardItemModel>
#include <cmath>
#include <functional>
#include <utility>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "ui/align_tab.h"
#include "ui/text_codec.h"

namespace Varnel {
namespace {

// Picks, the file table and its ticks through the window: AlignWindowTest.

TEST(PickTest, OddPathsSplitAtTheLastSeparator) {
  EXPECT_EQ(Split_Picked_Path("/a.db"), (Picked_File{"", "a.db"}));
  EXPECT_EQ(Split_Picked_Path("/d/it's here/x y.db"), (Picked_File{"/d/it's here", "x y.db"}));
  EXPECT_EQ(Split_Picked_Path(QString::fromUtf8("/données/échantillon_1.db")),
            (Picked_File{QString::fromUtf8("/données"), QString::fromUtf8("échantillon_1.db")}));
}

TEST(NumberTest, AcceptedAndRejectedTexts) {
  const QLocale c(QLocale::C);
  for (const char* text : {"0.1", "20", "-3", "1e3", " 10 ", "0", "1,000.5"}) {
    EXPECT_TRUE(Read_Box_Number(text, c)) << text;
  }
  for (const char* text : {"", " ", "abc", "0.1x", "1..2", "nan", "inf", "1e999"}) {
    EXPECT_FALSE(Read_Box_Number(text, c)) << text;
  }
}

// '.' always works and the locale's own separator too; a comma locale never
// reads "0.1" as 1 (its group separator is '.').
TEST(NumberTest, DecimalPointAndTheLocalesSeparator) {
  for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany),
                                QLocale(QLocale::French, QLocale::France), QLocale::c()}) {
    SCOPED_TRACE(locale.name().toStdString());
    EXPECT_EQ(Read_Box_Number("0.1", locale), 0.1);
    EXPECT_EQ(Read_Box_Number("20", locale), 20.0);
    EXPECT_FALSE(Read_Box_Number("0,1x", locale));
  }
  EXPECT_EQ(Read_Box_Number("0,1", QLocale(QLocale::German, QLocale::Germany)), 0.1);
  EXPECT_EQ(Read_Box_Number("2,5", QLocale(QLocale::French, QLocale::France)), 2.5);
}

// The fixture's verbs: a form state with one pick, changed one box at a time.
class PlanAlignTest : public ::testing::Test {
 protected:
  Align_Form_Values Defaults() const {
    Align_Form_Values values;
    values.picked = std::vector<Picked_File>{{"/data/study", "s1.db"}, {"/other", "s2.db"}};
    values.ticked_files = {"s2.db", "s1.db"};
    values.window1 = "20";
    values.window2 = "10";
    values.mass_tol = "0.1";
    return values;
  }
  const QLocale c_{QLocale::C};
};

TEST_F(PlanAlignTest, DefaultsPassModeZeroAndTheThreeNumbers) {
  const Align_Plan plan = Plan_Align(Defaults(), c_);
  ASSERT_FALSE(plan.refusal);
  EXPECT_EQ(plan.result_folder, "/data/study/Result");
  Alignment_Request expected;
  expected.mode = One_Phase_Align;
  expected.Mass_Tol.value = 0.1;
  expected.Align_Window1 = 20;
  expected.Align_Window2 = 10;
  expected.files = {{"/data/study", "s2.db"}, {"/data/study", "s1.db"}};
  expected.result_folder = "/data/study/Result";
  EXPECT_EQ(plan.request, expected);
}

TEST_F(PlanAlignTest, AcceptedFormsAndWhatTheyPass) {
  struct Case {
    const char* name;
    std::function<void(Align_Form_Values&)> change;
    std::function<void(const Align_Plan&)> check;
  };
  const Case cases[] = {
      {"deep mode passes one and its window",
       [](Align_Form_Values& v) {
         v.two_phase = true;
         v.window2 = "7.5";
       },
       [](const Align_Plan& p) {
         EXPECT_EQ(p.request.mode, Two_Phase_Align);
         EXPECT_EQ(p.request.Align_Window2, 7.5);
       }},
      {"fast mode ignores a bad deep window and passes ten",
       [](Align_Form_Values& v) { v.window2 = ""; },
       [](const Align_Plan& p) { EXPECT_EQ(p.request.Align_Window2, 10.0); }},
      {"fast mode passes a good deep window", [](Align_Form_Values& v) { v.window2 = "3"; },
       [](const Align_Plan& p) { EXPECT_EQ(p.request.Align_Window2, 3.0); }},
      {"a zero deep window is not checked in fast mode",
       [](Align_Form_Values& v) { v.window2 = "0"; },
       [](const Align_Plan& p) { EXPECT_EQ(p.request.Align_Window2, 0.0); }},
      {"a file at the root gives the result at the root",
       [](Align_Form_Values& v) {
         v.picked = std::vector<Picked_File>{Split_Picked_Path("/s1.db")};
       },
       [](const Align_Plan& p) {
         EXPECT_EQ(p.result_folder, "/Result");
         EXPECT_EQ(p.request.files.front().folder, "");
         EXPECT_EQ(p.request.result_folder, "/Result");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Align_Form_Values values = Defaults();
    c.change(values);
    const Align_Plan plan = Plan_Align(values, c_);
    ASSERT_FALSE(plan.refusal);
    c.check(plan);
  }
}

TEST_F(PlanAlignTest, RefusalsComeInTheirOrderAndKeepTheResultFolder) {
  struct Case {
    const char* name;
    bool two_phase;
    const char* window1;
    const char* window2;
    const char* mass_tol;
    const char* expected;
  };
  const char* w2 = "You must configure a valid Align Window2!";
  const char* tol = "You must configure a valid Align Mass Tolerance!";
  const char* w1 = "You must configure a valid Align Window1!";
  const Case cases[] = {
      {"deep, all three bad", true, "", "", "", w2},
      {"deep, window2 and mass tol empty", true, "20", "", "", w2},
      {"deep, window2 letters", true, "20", "ten", "0.1", w2},
      {"fast, all three bad", false, "x", "", "x", tol},
      {"deep, mass tol and window1 bad", true, "x", "10", "0.1.", tol},
      {"mass tol with two points", false, "20", "10", "0.1.2", tol},
      {"window1 bad", false, "twenty", "10", "0.1", w1},
      {"deep, window1 blank", true, " ", "10", "0.1", w1},
      {"window1 infinite", false, "inf", "10", "0.1", w1},
      {"deep, negative window2", true, "20", "-1", "0.1", w2},
      {"negative mass tol", false, "20", "10", "-0.1", tol},
      {"negative window1", false, "-20", "10", "0.1", w1},
      {"zero mass tol", false, "20", "10", "0", tol},
      {"deep, zero window2 before a zero mass tol", true, "20", "0.0", "0", w2},
      {"zero window1", false, "0", "10", "0.1", w1},
      {"decimal comma in the C locale", false, "20", "10", "0,01", tol},
  };
  for (const Case& c : cases) {
    Align_Form_Values values = Defaults();
    values.two_phase = c.two_phase;
    values.window1 = c.window1;
    values.window2 = c.window2;
    values.mass_tol = c.mass_tol;
    const Align_Plan plan = Plan_Align(values, c_);
    ASSERT_TRUE(plan.refusal) << c.name;
    // The box's own message stays the first line; the second says what it needs.
    EXPECT_EQ(plan.refusal->section('\n', 0, 0), QString(c.expected)) << c.name;
    EXPECT_EQ(plan.refusal->count('\n'), 1) << c.name;
    EXPECT_EQ(plan.result_folder, "/data/study/Result") << c.name;
  }
}

TEST_F(PlanAlignTest, NoTickedFileRefusesAfterTheNumbers) {
  Align_Form_Values values = Defaults();
  values.ticked_files.clear();
  EXPECT_EQ(Plan_Align(values, c_).refusal, QString(kNoFileMessage));
  values.mass_tol = "x";
  EXPECT_TRUE(Plan_Align(values, c_).refusal->startsWith(QString(kInvalidMassTolMessage)));
}

TEST_F(PlanAlignTest, ARefusedBoxSaysWhatItHoldsAndWhatIsValid) {
  const std::pair<const char*, const char*> cases[] = {
      {"0,01",
       "Align_Mass_Tol: \"0,01\" has a comma; write the decimal point as a full stop: 0.01."},
      {"0",
       "Align_Mass_Tol: 0 matches only equal values, so nothing would be aligned; give a "
       "number above 0 in Da, such as 0.01."},
      {"", "Align_Mass_Tol: the box is empty; give a number above 0 in Da, such as 0.01."},
      {"-1", "Align_Mass_Tol: \"-1\" is below 0; give a number above 0 in Da, such as 0.01."},
      {"a,b",
       "Align_Mass_Tol: \"a,b\" is not a number; give a number above 0 in Da, such as 0.01."},
  };
  for (const auto& [text, second_line] : cases) {
    Align_Form_Values values = Defaults();
    values.mass_tol = text;
    EXPECT_EQ(Plan_Align(values, c_).refusal,
              QString(kInvalidMassTolMessage) + '\n' + QString(second_line))
        << text;
  }
  Align_Form_Values values = Defaults();
  values.window1 = "0";
  EXPECT_EQ(Plan_Align(values, c_).refusal->section('\n', 1),
            QString("Fast_Align_RT_Window: 0 matches only equal values, so nothing would be "
                    "aligned; give a number above 0 in seconds, such as 20."));
  // A German locale reads the comma as its decimal point: accepted there.
  values = Defaults();
  values.mass_tol = "0,01";
  const Align_Plan german = Plan_Align(values, QLocale(QLocale::German, QLocale::Germany));
  ASSERT_FALSE(german.refusal);
  EXPECT_EQ(german.request.Mass_Tol.value, 0.01);
}

TEST_F(PlanAlignTest, NoPickRefusesWithoutAResultFolder) {
  Align_Form_Values values = Defaults();
  values.picked.reset();
  const Align_Plan plan = Plan_Align(values, c_);
  EXPECT_EQ(plan.refusal,
            QString("Please load the Annotation result Files(.db) that outputed from Ostrand!"));
  EXPECT_TRUE(plan.result_folder.isEmpty());
}

TEST_F(PlanAlignTest, TickBoxesPassAsTheyAreRead) {
  Align_Form_Values values = Defaults();
  values.rt_correction = true;
  Align_Plan plan = Plan_Align(values, c_);
  EXPECT_TRUE(plan.request.rt_correction);
  EXPECT_FALSE(plan.request.record_run);
  values.rt_correction = false;
  values.record_run = true;
  plan = Plan_Align(values, c_);
  EXPECT_FALSE(plan.request.rt_correction);
  EXPECT_TRUE(plan.request.record_run);
  EXPECT_EQ(plan.request.pick, Member_Pick::kClosest);
  EXPECT_FALSE(plan.request.join_splits);
  values.scored_member_choice = true;  // one box for both options
  plan = Plan_Align(values, c_);
  EXPECT_EQ(plan.request.pick, Member_Pick::kScored);
  EXPECT_TRUE(plan.request.join_splits);
  EXPECT_TRUE(Member_Choice_Words(false).isEmpty());
  EXPECT_TRUE(Member_Choice_Words(true).contains("--pick scored --join-splits"));
}

TEST_F(PlanAlignTest, EstimateReadsTheTickedFilesAndChecksNoNumber) {
  Align_Form_Values values = Defaults();
  values.mass_tol = "x";  // the boxes are what an estimate fills
  Estimate_Plan plan = Plan_Estimate(values);
  EXPECT_FALSE(plan.refusal);
  EXPECT_EQ(plan.files,
            (std::vector<Annotated_File>{{"/data/study", "s2.db"}, {"/data/study", "s1.db"}}));
  values.ticked_files.clear();
  plan = Plan_Estimate(values);
  EXPECT_EQ(plan.refusal, QString(kNoFileMessage));
  EXPECT_TRUE(plan.files.empty());
  values.picked.reset();
  EXPECT_EQ(Plan_Estimate(values).refusal, QString(kLoadAnnotationMessage));
}

TEST(SuggestedNumberTest, ShownAndRefusedValues) {
  const std::pair<double, const char*> shown[] = {
      {0.0, "0"},           {20.0, "20"},           {12.5, "12.5"},
      {0.012345, "0.0123"}, {21.456789, "21.4568"}, {0.00001234567, "0.00001235"},
      {0.0001, "0.0001"},   {1234567.0, "1234567"},
  };
  for (const auto& [value, text] : shown)
    EXPECT_EQ(Format_Suggested_Number(value), QString(text)) << text;
  for (const double value : {-0.1, std::nan(""), HUGE_VAL}) {
    EXPECT_FALSE(Format_Suggested_Number(value)) << value;
  }
}

TEST(SuggestedNumberTest, EstimateInWordsFallsBackToPairsWithoutCommonCompounds) {
  Tolerance_Suggestion suggestion{{Mass_Tolerance::Unit::kDa, 0.0125}, 96.04, 75.0,
                                  "spread\n--mass-tol 0.0125\n",       0,     5210};
  EXPECT_EQ(Estimate_Summary_Text(suggestion, false, 12),
            QString("Mass tolerance 0.0125 Da, windows 96 s (Fast_Align) and 75 s (Deep_Align), "
                    "from 5,210 pairs of compounds across samples."));
  EXPECT_EQ(Estimate_Details_Text(suggestion), QString("spread"));
}

TEST(MakeFolderTest, CreatesMissingKeepsExistingAndReportsAFileInTheWay) {
  Temp_Folder dir;
  auto path = [&](const std::string& name) { return Join_Path(dir.path(), name); };
  const QString folder = From_Engine_String(path("Result"));
  EXPECT_TRUE(Make_Folder(folder));
  EXPECT_TRUE(QDir(folder).exists());
  EXPECT_TRUE(Make_Folder(folder));
  Write_File(path("blocked"), "");
  EXPECT_FALSE(Make_Folder(From_Engine_String(path("blocked"))));
  EXPECT_FALSE(Make_Folder(From_Engine_String(Join_Path(path("blocked"), "Result"))));
}

TEST(EstimateWordsTest, SayWhatTheNumbersHoldForAsTheTabChanges) {
  Tolerance_Suggestion suggestion{{Mass_Tolerance::Unit::kDa, 0.0122}, 4.6, 3.58, "", 1497, 73032};
  Estimate_Record record;
  record.suggestion = suggestion;
  record.folder = "/data/study";
  record.files = {"s1.db", "s2.db", "s3.db"};
  record.rt_correction = true;
  record.mass_tol = "0.0122";
  record.window1 = "4.6";
  record.window2 = "3.58";
  Align_Form_Values now;
  now.picked = std::vector<Picked_File>{{"/data/study", "s1.db"}};
  now.ticked_files = record.files;
  now.rt_correction = true;
  now.mass_tol = "0.0122";
  now.window1 = "4.6";
  now.window2 = "3.58";
  const QString base =
      "Mass tolerance 0.0122 Da, windows 4.6 s (Fast_Align) and 3.58 s (Deep_Align), from the "
      "spreads of 1,497 anchor compounds (the most intense ones found in at least half of the "
      "samples).";
  EXPECT_EQ(Estimate_Words(record, now), base + " The windows are for drift-corrected times.");

  record.suggestion.uncorrected_samples = 1;
  EXPECT_EQ(Estimate_Words(record, now),
            base +
                " The windows are for drift-corrected times. 1 of the 3 samples stay "
                "uncorrected (too few anchors).");
  record.suggestion.uncorrected_samples = 3;
  EXPECT_TRUE(Estimate_Words(record, now).contains("too few anchors to correct any sample"));

  // Two samples cannot be corrected: the words must not claim corrected windows.
  record.suggestion.uncorrected_samples = 2;
  record.files = now.ticked_files = {"s1.db", "s2.db"};
  EXPECT_EQ(Estimate_Words(record, now),
            base +
                " RT_Drift_Correction needs at least 3 samples: these 2 keep their times as "
                "read, and the windows are for those times.");

  // The tick changes nothing the correction never did: no new Estimate asked,
  // and no sentence about a correction that is off.
  now.rt_correction = false;
  EXPECT_EQ(Estimate_Words(record, now),
            base +
                "\nRT_Drift_Correction is now off; it had corrected no sample for this "
                "estimate, so the numbers still hold.");
  record.rt_correction = false;
  now.rt_correction = true;
  EXPECT_EQ(Estimate_Words(record, now),
            base +
                " RT_Drift_Correction needs at least 3 samples: these 2 keep their times as "
                "read, and the windows are for those times.");
  record.rt_correction = now.rt_correction = true;
  record.files = now.ticked_files = {"s1.db", "s2.db", "s3.db"};
  record.suggestion.uncorrected_samples = 3;  // too few anchors in every sample
  now.rt_correction = false;
  EXPECT_TRUE(Estimate_Words(record, now).endsWith("so the numbers still hold."));
  EXPECT_FALSE(Estimate_Words(record, now).contains("click Estimate"));
  // Three samples without the correction may be corrected once it is ticked.
  record.rt_correction = false;
  now.rt_correction = true;
  EXPECT_TRUE(Estimate_Words(record, now)
                  .endsWith("Estimated without RT_Drift_Correction: click Estimate again for "
                            "windows on drift-corrected times."));
  record.rt_correction = true;
  record.suggestion.uncorrected_samples = 0;

  // What changed since is said, one line each.
  now.ticked_files = {"s1.db"};
  now.rt_correction = false;
  now.mass_tol = "0.05";
  const QStringList lines = Estimate_Words(record, now).split('\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].startsWith("The ticked files have changed since")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith("Estimated with RT_Drift_Correction, which is now off"))
      << lines[2].toStdString();
  EXPECT_EQ(lines[3], "The boxes have been edited since.");
  // Another study in another folder with the same names is other files too.
  now = Align_Form_Values{std::vector<Picked_File>{{"/data/other", "s1.db"}},
                          record.files,
                          false,
                          "4.6",
                          "3.58",
                          "0.0122",
                          true,
                          false};
  EXPECT_TRUE(Estimate_Words(record, now).contains("The ticked files have changed since"));
  EXPECT_FALSE(Estimate_Words(record, now).contains("edited"));
}

}  // namespace
}  // namespace Varnel
