// The fixture of the export tests: a hand-made study, a sample sheet and one
// export of it, all in a temporary folder.
#ifndef VARNEL_TESTS_EXPORT_EXPORT_SUPPORT_H_
#define VARNEL_TESTS_EXPORT_EXPORT_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/export_result.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/support/test_result.h"

// Two groups over four samples; S3 has only an unaligned peak. Sample 2 has
// two compounds in group 2 (Compound_Intensity 7 and 9).
std::vector<Test_Peak> Study();

class ExportTest : public ::testing::Test {
 protected:
  std::string WriteStudy(const std::vector<Test_Peak>& rows) {
    return Write_Result(dir_.path(), rows);
  }
  std::string Sheet(const std::string& text) {
    const std::string path = Join_Path(dir_.path(), "sheet.csv");
    Write_File(path, text);
    return path;
  }
  // The export of result to Out(), read back.
  std::string Export(const std::string& result, Export_Format format,
                     Export_Quantity quantity = Export_Quantity::kCompound,
                     const std::string& sheet = "") {
    Export_Options options;
    options.format = format;
    options.quantity = quantity;
    options.software_version = "0.1";
    if (!sheet.empty()) options.groups = Read_Sample_Sheet(sheet);
    Export_Result(result, options, Out());
    return Read_File(Out());
  }
  std::string Out() const { return Join_Path(dir_.path(), "out.txt"); }

  Temp_Folder dir_;
};

#endif  // VARNEL_TESTS_EXPORT_EXPORT_SUPPORT_H_
