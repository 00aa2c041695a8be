// The export dialog's logic: every filter maps back to its format, the file
// name follows the type chosen, and the run details of a result without a record.
#include <gtest/gtest.h>

#include <QStringList>

#include "tests/support/test_files.h"
#include "tests/support/test_result.h"
#include "ui/result_export_ui.h"
#include "ui/widgets/form_dialogs.h"

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
  EXPECT_EQ(
      Varnel::Default_Export_File_Name(QStringLiteral("my run.aligndb"), Export_Format::kMzTab),
      QStringLiteral("my run.mzTab"));
}

TEST(ExportDialogTest, FileNamesFollowTheTypeChosen) {
  using Varnel::Fit_Export_Path;
  using Varnel::Name_With_Filter_Extension;
  const QString mztab = Varnel::Export_Filter_Of(Export_Format::kMzTab);
  const QString table = Varnel::Export_Filter_Of(Export_Format::kFeatureTable);
  EXPECT_EQ(Name_With_Filter_Extension("/a.b/run_features.csv", mztab), "/a.b/run_features.mzTab");
  EXPECT_EQ(Name_With_Filter_Extension("/a.b/run", table), "/a.b/run.csv");
  EXPECT_EQ(Name_With_Filter_Extension(".hidden", table), ".hidden.csv");
  EXPECT_EQ(Name_With_Filter_Extension("x.csv", "All files (*)"), "x.csv");
  EXPECT_EQ(Fit_Export_Path("/d/run_features.csv", Export_Format::kMzTab), "/d/run.mzTab");
  EXPECT_EQ(Fit_Export_Path("/d/run.MZTAB", Export_Format::kMetaboAnalyst),
            "/d/run_metaboanalyst.csv");
  EXPECT_EQ(Fit_Export_Path("/d/run_features.csv", Export_Format::kFeatureTable),
            "/d/run_features.csv");
  EXPECT_EQ(Fit_Export_Path("/d.x/run", Export_Format::kMzTab), "/d.x/run.mzTab");
  EXPECT_EQ(Fit_Export_Path("/d/run.txt", Export_Format::kMzTab), "/d/run.txt");
}

TEST(ExportDialogTest, RunDetailsSayWhenThereIsNoRecord) {
  Temp_Folder dir;
  const std::string result = Write_Result(dir.path(), {{1, 0, "S0"}});
  EXPECT_EQ(Varnel::Run_Details_Text(result).rfind("This result holds no record", 0), 0u);
}

}  // namespace
