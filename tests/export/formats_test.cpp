// The table of export formats: every row reachable by its name and its
// filter, none shadowing another.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "export/formats.h"

namespace {

TEST(ExportFormatsTest, EachRowIsFoundByItsNameAndHasAFilterOfItsOwn) {
  std::set<std::string> names;
  std::set<std::string> filters;
  for (const Export_Format_Info& f : kExportFormats) {
    EXPECT_EQ(Parse_Export_Format(f.name), f.format) << f.name;
    EXPECT_EQ(&Format_Info(f.format), &f) << f.name;
    EXPECT_TRUE(names.insert(f.name).second) << f.name;
    EXPECT_TRUE(filters.insert(Export_File_Filter(f)).second) << f.name;
    EXPECT_TRUE(f.columns.Has(Column_Of("SAMPLE_ID"))) << f.name;
  }
  EXPECT_EQ(Parse_Export_Format("xml"), std::nullopt);
  EXPECT_EQ(Parse_Export_Format("Table"), std::nullopt);
  EXPECT_EQ(Export_File_Filter(Format_Info(Export_Format::kMzTab)), "mzTab-M 2.0 (*.mzTab)");
  EXPECT_EQ(Sample_Sheet_Needed(Format_Info(Export_Format::kMetaboAnalyst), "a sheet"),
            "a MetaboAnalyst table needs a sheet");
}

}  // namespace
