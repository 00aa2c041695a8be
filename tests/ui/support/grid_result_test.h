// A test fixture for the grid's load of a result: writes hand-made records as
// an .aligndb in a folder of its own, edits it with SQL, loads it.
#ifndef VARNEL_TESTS_UI_SUPPORT_GRID_RESULT_TEST_H_
#define VARNEL_TESTS_UI_SUPPORT_GRID_RESULT_TEST_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/viz_study.h"
#include "ui/grid/aligned_table.h"

namespace Varnel::Test {

class Grid_Result_Test : public ::testing::Test {
 protected:
  std::string Write(const std::vector<Align_Peak>& peaks, const std::string& name = "r.aligndb") {
    Write_Aligned_Result(peaks, dir_.path(), name);
    return name;
  }
  void Exec(const std::string& name, const std::string& sql) {
    Exec_Sql(Join_Path(dir_.path(), name), sql);
  }
  Aligned_Table Load(const std::string& name) { return Aligned_Table::Load(dir_.path(), name); }

  // A peak of sample (named "S<sample>") whose EIC, peak, group and compound
  // are all numbered eic, in Align_ID align_id.
  static Peak_Recipe Recipe(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id) {
    Peak_Recipe s;
    s.sample_id = sample;
    s.sample_name = "S";
    s.sample_name += std::to_string(sample);  // GCC 12 warns on "S" + ...
    s.eic_id = s.peak_id = s.group_id = s.compound_id = eic;
    s.align_id = align_id;
    return s;
  }

  Temp_Folder dir_;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_GRID_RESULT_TEST_H_
