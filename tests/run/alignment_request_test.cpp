// Build_Alignment_Request: the one way from a front end's texts and values
// to a run's request, with its refusals in order.
#include "run/alignment_request.h"

#include <gtest/gtest.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

// '.' decimals, the whole text or nothing (as the command line reads).
std::optional<double> Read(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Alignment_Parameter_Texts Texts(Compound_Align_Mode mode, std::string mass_tol, std::string window1,
                                std::string window2,
                                Mass_Tolerance::Unit unit = Mass_Tolerance::Unit::kDa) {
  return {mode, std::move(mass_tol), unit, std::move(window1), std::move(window2)};
}

Alignment_Form Deep_Form() {
  Alignment_Form form;
  form.numbers = Texts(Two_Phase_Align, "0.02", "30", "8");
  return form;
}

TEST(BuildAlignmentRequestTest, RefusesTheFirstBadNumberInTheCheckOrder) {
  struct Case {
    const char* name;
    std::string window2;
    std::string mass_tol;
    std::string window1;
    const char* refusal;
  };
  const Case cases[] = {
      {"all bad: the deep window first", "x", "x", "x", kInvalidWindow2Message},
      {"negative deep window", "-1", "0.02", "30", kInvalidWindow2Message},
      {"infinite deep window", "inf", "0.02", "30", kInvalidWindow2Message},
      {"then the mass tolerance", "8", "", "x", kInvalidMassTolMessage},
      {"NaN mass tolerance", "8", "nan", "30", kInvalidMassTolMessage},
      {"then the fast window", "8", "0.02", "-0.001", kInvalidWindow1Message},
      {"empty fast window", "8", "0.02", "", kInvalidWindow1Message},
  };
  for (const Case& c : cases) {
    Alignment_Form form;
    form.numbers = Texts(Two_Phase_Align, c.mass_tol, c.window1, c.window2);
    form.files = {{"/data", "a.db"}};
    form.rt_correction = true;
    const Built_Alignment_Request built = Build_Alignment_Request(form, Read);
    ASSERT_TRUE(built.refusal) << c.name;
    EXPECT_EQ(*built.refusal, c.refusal) << c.name;
    EXPECT_EQ(built.request, Alignment_Request()) << c.name << ": no half-built request";
  }
}

TEST(BuildAlignmentRequestTest, ZeroPassesAndFastModeNeverReadsTheDeepWindow) {
  Alignment_Form form;
  form.numbers = Texts(Two_Phase_Align, "0", "0", "0");
  Built_Alignment_Request built = Build_Alignment_Request(form, Read);
  ASSERT_FALSE(built.refusal);
  EXPECT_EQ(built.request.Mass_Tol.value, 0.0);
  EXPECT_EQ(built.request.Align_Window2, 0.0);

  form.numbers = Texts(One_Phase_Align, "0", "0", "not a number");
  built = Build_Alignment_Request(form, Read);
  ASSERT_FALSE(built.refusal);
  EXPECT_EQ(built.request.Align_Window2, kFastModeFallbackWindow2);
  form.numbers = Texts(One_Phase_Align, "0", "0", "3.5");
  EXPECT_EQ(Build_Alignment_Request(form, Read).request.Align_Window2, 3.5);
}

TEST(BuildAlignmentRequestTest, PpmToleranceIsCheckedInItsOwnUnit) {
  Alignment_Form form;
  form.numbers = Texts(Two_Phase_Align, "10", "30", "8", Mass_Tolerance::Unit::kPpm);
  const Built_Alignment_Request built = Build_Alignment_Request(form, Read);
  ASSERT_FALSE(built.refusal);
  EXPECT_EQ(built.request.Mass_Tol, (Mass_Tolerance{Mass_Tolerance::Unit::kPpm, 10.0}));
  form.numbers = Texts(Two_Phase_Align, "-10", "30", "8", Mass_Tolerance::Unit::kPpm);
  EXPECT_EQ(Build_Alignment_Request(form, Read).refusal, kInvalidMassTolMessage);
}

TEST(BuildAlignmentRequestTest, AcceptedFormCarriesEveryNumberOptionAndInput) {
  Alignment_Form form = Deep_Form();
  form.files = {{"/data", "b.db"}, {"/other", "a.db"}};
  form.result_folder = "/out";
  form.rt_correction = true;
  form.record_run = true;
  form.pick = Member_Pick::kScored;
  form.join_splits = true;
  form.threads = 3;
  const Built_Alignment_Request built = Build_Alignment_Request(form, Read);
  ASSERT_FALSE(built.refusal);
  Alignment_Request expected;
  expected.mode = Two_Phase_Align;
  expected.Mass_Tol = {Mass_Tolerance::Unit::kDa, 0.02};
  expected.Align_Window1 = 30.0;
  expected.Align_Window2 = 8.0;
  expected.files = form.files;
  expected.result_folder = "/out";
  expected.rt_correction = true;
  expected.record_run = true;
  expected.pick = Member_Pick::kScored;
  expected.join_splits = true;
  expected.threads = 3;
  EXPECT_EQ(built.request, expected);
  // The inputs are the front ends' to check: none is no refusal here.
  form.files.clear();
  EXPECT_FALSE(Build_Alignment_Request(form, Read).refusal);
}

}  // namespace
