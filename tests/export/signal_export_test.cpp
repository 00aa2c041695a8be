// The QC correction as the exports run it: off, every byte is that of the
// plain export; on, the values and the record beside the output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/export/export_support.h"

namespace {

// Two batches of three QCs and two study samples each; batch 2 reads twice
// as high. Feature 1 is everywhere, feature 2 only in the study samples of
// batch 1 (no QC value: flagged), feature 3 everywhere but scattered.
std::vector<Test_Peak> Batch_Study() {
  std::vector<Test_Peak> rows;
  const char* names[] = {"Q1", "S1", "Q2", "S2", "Q3", "Q4", "S3", "Q5", "S4", "Q6"};
  for (std::uint32_t s = 0; s < 10; ++s) {
    const double scale = s < 5 ? 1.0 : 2.0;
    const bool qc = names[s][0] == 'Q';
    rows.push_back({1, s, names[s], 1, 100, 60, scale * (qc ? 100 : 150)});
    if (!qc && s < 5) rows.push_back({2, s, names[s], 2, 200, 120, 80});
    rows.push_back({3, s, names[s], 3, 300, 180, scale * (qc ? 100 + 10.0 * s : 50)});
  }
  return rows;
}

constexpr const char* kSheet =
    "Class,Sample,Order,Batch\n"
    "QC,Q1,1,1\nA,S1,2,1\nQC,Q2,3,1\nB,S2,4,1\nQC,Q3,5,1\n"
    "QC,Q4,6,2\nA,S3,7,2\nQC,Q5,8,2\nB,S4,9,2\nQC,Q6,10,2\n";

class SignalExportTest : public ExportTest {
 protected:
  std::string Export_With(const Export_Options& base, Export_Format format) {
    Export_Options options = base;
    options.format = format;
    options.software_version = "0.1";
    notes_ = Export_Result(result_, options, Out());
    return Read_File(Out());
  }
  std::string result_;
  std::vector<std::string> notes_;
};

TEST_F(SignalExportTest, NoneWithoutFiltersChangesNoByte) {
  result_ = WriteStudy(Batch_Study());
  const std::string sheet = Sheet(kSheet);
  for (const Export_Format_Info& format : kExportFormats) {
    for (Export_Quantity q :
         {Export_Quantity::kCompound, Export_Quantity::kArea, Export_Quantity::kHeight}) {
      Export_Options plain;
      plain.quantity = q;
      plain.groups = Read_Sample_Sheet(sheet);
      const std::string before = Export_With(plain, format.format);
      Export_Options none = plain;
      none.signal.method = Signal_Method::kNone;
      none.signal.normalize = Signal_Normalization::kNone;
      none.signal.qc_label = "qc";
      EXPECT_EQ(Export_With(none, format.format), before) << format.name;
      EXPECT_TRUE(notes_.empty());
      EXPECT_FALSE(std::filesystem::exists(Signal_Record_Path(Out())));
    }
  }
}

TEST_F(SignalExportTest, CorrectsEveryFormatAndWritesTheRecord) {
  result_ = WriteStudy(Batch_Study());
  Export_Options options;
  options.groups = Read_Sample_Sheet(Sheet(kSheet));
  options.signal.method = Signal_Method::kQcMedian;
  const std::string table = Export_With(options, Export_Format::kFeatureTable);
  // Feature 1: QCs land on the overall QC median (the midpoint of the logs
  // of 100 and 200), study samples keep their ratio of 1.5 to it.
  EXPECT_NE(table.find("\n1,100,60,60,60,[M+H]+,10,141.421356,212.132034,141.421356,212.132034,"
                       "141.421356,141.421356,212.132034,141.421356,212.132034,141.421356\n"),
            std::string::npos)
      << table;
  // Feature 2 has no QC value: kept as it was.
  EXPECT_NE(table.find("\n2,200,60,120,120,[M+H]+,2,,80,,80,,,,,,\n"), std::string::npos) << table;
  const std::string record = Read_File(Signal_Record_Path(Out()));
  EXPECT_EQ(record.substr(0, record.find('\n') + 1), kSignalRecordHeader);
  EXPECT_NE(record.find("\n1\tmedian;median\t6\t36.51\t0.00\t0.00\t0\t\n"), std::string::npos)
      << record;
  EXPECT_NE(record.find("\n2\tuncorrected;uncorrected\t0\tNA\tNA\tNA\t2\t\n"), std::string::npos)
      << record;
  ASSERT_FALSE(notes_.empty());
  EXPECT_NE(notes_[0].find("2 with at most one QC value left uncorrected"), std::string::npos);
  // The same correction in the other formats, mzTab's feature rows included.
  options.signal.keep_qc_rsd = 1.0;  // keeps feature 1 only
  const std::string mztab = Export_With(options, Export_Format::kMzTab);
  EXPECT_NE(mztab.find("SML\t1\t"), std::string::npos);
  EXPECT_EQ(mztab.find("SML\t3\t"), std::string::npos);
  EXPECT_NE(mztab.find("\t141.421356\t212.132034\t"), std::string::npos) << mztab;
  EXPECT_EQ(notes_.back(), "signal: dropped by --keep-qc-rsd: 2 of 3 features");
  const std::string ma = Export_With(options, Export_Format::kMetaboAnalyst);
  EXPECT_NE(ma.find(",141.421356,212.132034,"), std::string::npos) << ma;
}

TEST_F(SignalExportTest, RefusesACorrectionWithoutTheQcs) {
  result_ = WriteStudy(Batch_Study());
  Export_Options options;
  options.signal.method = Signal_Method::kAuto;
  EXPECT_THROW(Export_With(options, Export_Format::kFeatureTable), std::runtime_error);
  options.groups = Read_Sample_Sheet(Sheet(kSheet));
  options.signal.qc_label = "pool";
  EXPECT_THROW(Export_With(options, Export_Format::kFeatureTable), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(Out()));
  EXPECT_FALSE(std::filesystem::exists(Signal_Record_Path(Out())));
}

}  // namespace
