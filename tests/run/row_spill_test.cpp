// Rows come back from the spill as they went in, whatever their shapes.
#include "run/row_spill.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// A written-form shape of n text bytes (the text's bytes lowered by one).
std::string Written(const std::string& text) {
  std::string stored(1, '\x01');
  for (char c : text) stored.push_back(static_cast<char>(c - 1));
  return stored;
}

TEST(RowSpillTest, RowsComeBackAsTheyWentIn) {
  std::vector<std::string> shapes = {
      Written("1.000000,2.500000,-3.250000,7"),
      Written(""),                     // the offset byte only
      "",                              // nothing stored
      Written("inf,nan,1.000000,2"),   // letters
      std::string("\x02", 1) + "abc",  // another offset
      Written(std::string(70000, '9') + "," + std::string(3, '-')),
  };
  Annotated_Batch batch;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    Chromatogram_Peak_Group_Compound p;
    p.EIC_ID = static_cast<std::uint32_t>(i);
    p.Compound_Intensity = 0.5 * static_cast<double>(i);
    p.Adduct_Annotation = i % 2 ? "[M+H]+" : "";
    batch.peaks.push_back(p);
    batch.shapes += shapes[i];
    batch.shape_end.push_back(batch.shapes.size());
  }
  Row_Spill spill(std::filesystem::temp_directory_path().string());
  spill.Append(batch);
  spill.Append(batch);
  spill.Flush();
  ASSERT_EQ(spill.Rows(), 2 * shapes.size());
  Row_Spill::Reader reader(spill);
  for (std::size_t row = spill.Rows(); row-- > 0;) {
    const std::size_t i = row % shapes.size();
    SCOPED_TRACE(row);
    Chromatogram_Peak_Group_Compound_Align record;
    EXPECT_EQ(reader.Read(row, true, record), shapes[i]);
    EXPECT_EQ(record.EIC_ID, i);
    EXPECT_EQ(record.Compound_Intensity, 0.5 * static_cast<double>(i));
    EXPECT_EQ(record.Adduct_Annotation, batch.peaks[i].Adduct_Annotation);
    EXPECT_TRUE(reader.Read(row, false, record).empty());
    EXPECT_EQ(record.Adduct_Annotation, batch.peaks[i].Adduct_Annotation);
  }
}

}  // namespace
