// Small hand-made results, written by the result writer, for the tests of
// what reads a result.
#ifndef VARNEL_TESTS_SUPPORT_TEST_RESULT_H_
#define VARNEL_TESTS_SUPPORT_TEST_RESULT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "model/peak.h"

// One peak of a result: the fields the exports read, the rest plausible.
struct Test_Peak {
  std::uint32_t align_id = 0;
  std::uint32_t sample = 0;
  std::string name;
  std::uint32_t compound = 1;
  double mass = 100.0;
  double rt = 60.0;
  double compound_intensity = 1000.0;
  std::string adduct = "[M+H]+";
  double area = 10.0;
  double height = 5.0;
  double align_rt = 60.0;  // the group's; 0 is written for align_id 0
};

Chromatogram_Peak_Group_Compound_Align Make_Row(const Test_Peak& peak);

// Writes rows with the result writer as folder/name; returns the path.
std::string Write_Result(const std::string& folder, const std::vector<Test_Peak>& rows,
                         const std::string& name = "result.aligndb");

#endif  // VARNEL_TESTS_SUPPORT_TEST_RESULT_H_
