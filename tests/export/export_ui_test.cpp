// The export dialog's logic: every filter maps back to its format.
#include <gtest/gtest.h>

#include <QStringList>

#include "storage/path.h"
#include "tests/export/export_support.h"
#include "tests/support/test_files.h"
#include "ui/result_export_ui.h"

namespace {

TEST(ExportDialogTest, EachFilterChoosesItsFormat) {
  const QStringList filters = Varnel::Export_Dialog_Filter().split(QStringLiteral(";;"));
  ASSERT_EQ(filters.size(), 3);
  for (Export_Format f :
       {Export_Format::kFeatureTable, Export_Format::kMetaboAnalyst, Export_Format::kMzTab}) {
    EXPECT_TRUE(filters.contains(Varnel::Export_Filter_Of(f)));
    EXPECT_EQ(Varnel::Export_Format_Of_Filter(Varnel::Export_Filter_Of(f)), f);
  }
  EXPECT_EQ(Varnel::Export_Format_Of_Filter(QStringLiteral("All files (*)")), std::nullopt);
  EXPECT_EQ(Varnel::Default_Export_File_Name(QStringLiteral("my run.aligndb"),
                                             Export_Format::kMzTab),
            QStringLiteral("my run.mzTab"));
}

TEST(ExportDialogTest, RunDetailsSayWhenThereIsNoRecord) {
  Temp_Folder dir;
  const std::string result = Write_Result(dir.path(), {{1, 0, "S0"}});
  EXPECT_EQ(Varnel::Run_Details_Text(result).rfind("This result holds no record", 0), 0u);
}

}  // namespace
