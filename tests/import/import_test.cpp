// The import of other tools' feature lists: each format's small file aligns
// to the expected groups, what a feature becomes, the numbers and adducts read
// and refused, messages that name file, line and column, and a refused import
// that writes nothing. The program's exit codes at the end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "import/feature_import.h"
#include "import/import_common.h"
#include "run/alignment_run.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

std::string Data(const std::string& name) { return Join_Path(VARNEL_IMPORT_DATA, name); }

class ImportTest : public ::testing::Test {
 protected:
  // Imports inputs into the output folder; the databases' file names.
  std::vector<std::string> Import(Import_Format format, const std::vector<std::string>& inputs,
                                  Import_Options options = {}) {
    options.format = format;
    std::vector<std::string> names;
    for (const Imported_Database& d :
         Write_Imported_Samples(Read_Feature_Lists(options, inputs), out())) {
      names.push_back(d.file_name);
    }
    return names;
  }

  // Each group of the alignment of the databases as "SAMPLES@MASS" (sample
  // names in order, mass to two decimals), unaligned peaks as "-@MASS".
  std::multiset<std::string> AlignAll(const std::vector<std::string>& names) {
    Alignment_Request request;
    for (const std::string& name : names) request.files.push_back({out(), name});
    request.result_folder = Join_Path(folder_.path(), "result");
    std::filesystem::create_directories(request.result_folder);
    Run_Alignment(request, {});
    std::map<std::string, std::pair<std::set<std::string>, double>> groups;
    std::multiset<std::string> seen;
    for (const Csv_Row& row : Read_Csv(Join_Path(
             request.result_folder, "aligned_annotated_grouped_chromatograph_peaklist.csv"))) {
      const double mass = std::stod(row.at("Compound_MolecularMass"));
      if (row.at("Align_ID") == "0") {
        seen.insert("-@" + Mass(mass));
        continue;
      }
      auto& group = groups[row.at("Align_ID")];
      group.first.insert(row.at("SAMPLE_NAME"));
      group.second = mass;
    }
    for (const auto& [id, group] : groups) {
      std::string samples;
      for (const std::string& s : group.first) samples += (samples.empty() ? "" : ",") + s;
      seen.insert(samples + "@" + Mass(group.second));
    }
    return seen;
  }

  static std::string Mass(double mass) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", mass);
    return text;
  }

  std::vector<Chromatogram_Peak_Group_Compound> Peaks(const std::string& name) {
    std::vector<Chromatogram_Peak_Group_Compound> peaks;
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(out(), name, peaks);
    return peaks;
  }

  // Writes text as file name in the test's folder and returns its path.
  std::string Input(const std::string& name, const std::string& text) {
    const std::string path = Join_Path(folder_.path(), name);
    Write_File(path, text);
    return path;
  }

  std::string out() const { return Join_Path(folder_.path(), "out"); }

  Temp_Folder folder_;
};

TEST_F(ImportTest, EachFormatAlignsToTheExpectedGroups) {
  EXPECT_EQ(
      AlignAll(Import(Import_Format::kFeatureXml, {Data("s1.featureXML"), Data("s2.featureXML")})),
      (std::multiset<std::string>{"s1,s2@180.06", "s1,s2@606.29", "s1,s2@150.00"}));
  // The [M+Na]+ row has the same neutral mass as [M+H]+ but another time.
  EXPECT_EQ(AlignAll(Import(Import_Format::kMzmine, {Data("mzmine.csv")})),
            (std::multiset<std::string>{"a,b@180.06", "a,b@180.06", "a@150.00"}));
  EXPECT_EQ(AlignAll(Import(Import_Format::kXcms, {Data("xcms.csv")})),
            (std::multiset<std::string>{"sample_1,sample_2@181.07", "sample_1,sample_2@304.15"}));
  Import_Options minutes;
  minutes.rt_unit = Rt_Unit::kMinutes;
  EXPECT_EQ(AlignAll(Import(Import_Format::kTable, {Data("table.tsv")}, minutes)),
            (std::multiset<std::string>{"QC1,QC2@180.06", "QC1,QC2@180.06", "QC2@400.20"}));
}

TEST_F(ImportTest, FeatureBecomesOneCompoundWithOnePeak) {
  Import(Import_Format::kFeatureXml, {Data("s1.featureXML")});
  const auto peaks = Peaks("s1" + std::string(kAnnotatedSuffix));
  ASSERT_EQ(peaks.size(), 3u);  // the subordinate feature is not one of them
  const Chromatogram_Peak_Group_Compound& p = peaks[0];
  EXPECT_NEAR(p.Compound_MolecularMass, 181.0707 - 1.007276, 1e-6);
  EXPECT_EQ(p.Apex_MZ, 181.0707);
  EXPECT_EQ(p.Compound_Retention_Time, 300.0);
  EXPECT_EQ(p.Apex_Retention_Time, 300.0);
  EXPECT_EQ(p.Apex_Intensity, 100000.0);
  EXPECT_EQ(p.Compound_Intensity, 100000.0);
  EXPECT_EQ(p.Adduct_Annotation, "[M+H]+");
  // The synthetic shape spans the convex hull (296-304 s), apex in the middle.
  ASSERT_EQ(p.Peak_shape.size(), static_cast<std::size_t>(kShapePoints));
  EXPECT_EQ(p.Peak_shape.front().RT, 296.0);
  EXPECT_EQ(p.Peak_shape.back().RT, 304.0);
  EXPECT_EQ(p.Peak_shape[p.Apex_Pos].Intensity, 100000.0);
  EXPECT_GT(p.Peak_Area, 0.0);
  EXPECT_NEAR(peaks[1].Compound_MolecularMass, 2 * (304.1543 - 1.007276), 1e-5);  // [M+2H]2+
  EXPECT_EQ(peaks[2].Compound_MolecularMass, 150.0);  // no adduct: the m/z
  EXPECT_EQ(peaks[2].Peak_shape.back().RT - peaks[2].Peak_shape.front().RT, kDefaultWidth);
  std::set<std::uint32_t> compounds;
  for (const auto& peak : peaks) compounds.insert(peak.Compound_ID);
  EXPECT_EQ(compounds, (std::set<std::uint32_t>{1, 2, 3}));
}

TEST_F(ImportTest, MinutesWidthsAndAreasComeFromTheColumns) {
  Import(Import_Format::kMzmine, {Data("mzmine.csv")});
  const auto a = Peaks("a" + std::string(kAnnotatedSuffix));
  ASSERT_EQ(a.size(), 3u);
  EXPECT_NEAR(a[0].Compound_Retention_Time, 300.0, 1e-9);
  EXPECT_NEAR(a[0].Peak_shape.back().RT - a[0].Peak_shape.front().RT, 6.0, 1e-9);
  EXPECT_EQ(a[0].Peak_Area, 600000.0);
  EXPECT_EQ(Peaks("b" + std::string(kAnnotatedSuffix)).size(), 2u);  // UNKNOWN is no feature

  Import_Options mz;
  mz.mass_is_mz = true;
  Import(Import_Format::kTable, {Data("table.tsv")}, mz);
  const auto qc1 = Peaks("QC1" + std::string(kAnnotatedSuffix));
  EXPECT_EQ(qc1[1].Compound_MolecularMass, 179.0561);
  EXPECT_EQ(qc1[1].Compound_Retention_Time, 7.5);  // seconds unless told otherwise
}

TEST(ImportNumberTest, AcceptedAndRejected) {
  for (const char* text : {"1", " +1.5e3 ", "-0.5", ".5", "5.", "1E-3", "\t42\t"}) {
    EXPECT_TRUE(import_detail::Number(text)) << text;
  }
  for (const char* text :
       {"", " ", "1,5", "0x10", "inf", "nan", "-inf", "1e999", "1.5x", "++1", "- 1"}) {
    EXPECT_FALSE(import_detail::Number(text)) << text;
  }
}

TEST(ImportAdductTest, NeutralMassesAndRefusals) {
  constexpr double kProton = 1.007276;
  const struct {
    const char* adduct;
    double mz;
    double mass;
  } accepted[] = {
      {"[M+H]+", 181.0707, 181.0707 - kProton},
      {"[M-H]-", 179.0561, 179.0561 + kProton},
      {"[M+2H]2+", 91.0390, 2 * (91.0390 - kProton)},
      {"[2M+Na]+", 383.1162, (383.1162 - 22.989218) / 2},
      {"[M+H-H2O]+", 163.0601, 163.0601 - kProton + 18.010565},
      {"[M+NH4]+", 198.0972, 198.0972 - 18.033823},
      {" [M+Cl]- ", 215.0328, 215.0328 - 34.969402},
  };
  for (const auto& c : accepted) {
    const std::optional<double> mass = Neutral_Mass(c.mz, c.adduct, 0);
    ASSERT_TRUE(mass) << c.adduct;
    EXPECT_NEAR(*mass, c.mass, 5e-6) << c.adduct;
  }
  for (const char* adduct :
       {"[M+H]", "M+H", "[M+Foo]+", "[M+H]+x", "[0M+H]+", "[M+H]0+", "[M+]+"}) {
    EXPECT_FALSE(Neutral_Mass(181.07, adduct, 0)) << adduct;
  }
  EXPECT_TRUE(Neutral_Mass(181.07, "[M+H]+", 1));
  EXPECT_THROW(Neutral_Mass(181.07, "[M+H]+", 2), Import_Error);
}

// A refused input: the message names the file, the line and the column.
TEST_F(ImportTest, BadInputIsRefusedWithItsPlace) {
  const struct {
    Import_Format format;
    const char* name;
    const char* text;
    const char* message;  // after "PATH"
  } cases[] = {
      {Import_Format::kTable, "empty.csv", "", ": empty file"},
      {Import_Format::kTable, "blank.csv", "\n \n", ": empty file"},
      {Import_Format::kTable, "header.csv", "sample,mz,rt,height\n", ": no features, no samples"},
      {Import_Format::kTable, "nomz.csv", "rt,intensity\n1,2\n", ":1: no m/z column"},
      {Import_Format::kTable, "late.csv", "\n\r\nrt,intensity\n1,2\n", ":3: no m/z column"},
      {Import_Format::kTable, "noint.csv", "mz,rt\n1,2\n", ":1: no intensity column"},
      {Import_Format::kTable, "badnumber.csv", "mz,rt,height\n100,5,1\n101,abc,1\n",
       ":3: column \"rt\": \"abc\" is not a number"},
      {Import_Format::kMzmine, "huge.csv",
       "datafile:a:mz,datafile:a:rt,datafile:a:height\n1,1e307,1\n",
       ":2: column \"datafile:a:rt\": retention time inf s is not from 0 to 48 h"},
      {Import_Format::kTable, "width.csv", "mz,rt,height\n100,5\n",
       ":2: 2 fields, the header has 3"},
      {Import_Format::kTable, "quote.csv", "mz,rt,height\n\"100,5,1\n",
       ":2: a quoted field is not closed"},
      {Import_Format::kTable, "adduct.csv", "mz,rt,height,adduct\n100,5,1,[M+Foo]+\n",
       ":2: column \"adduct\": \"[M+Foo]+\" is not an adduct"},
      {Import_Format::kTable, "charge.csv", "mz,rt,height,z,adduct\n100,5,1,2,[M+H]+\n",
       ":2: column \"adduct\": charge 2 differs"},
      {Import_Format::kTable, "charge2.csv", "mz,rt,height,charge\n100,5,1,1.5\n",
       ":2: column \"charge\": \"1.5\" is not a charge"},
      {Import_Format::kXcms, "xcms.csv", "mz,rt,maxo,into\n100,5,1,2\n", ":1: no sample column"},
      // An XCMS table's heights are maxo and into only, whatever else it holds.
      {Import_Format::kXcms, "xcms.csv", "sample,mz,rt,intensity\n1,100,5,1\n",
       ":1: no intensity column"},
      {Import_Format::kMzmine, "mzmine.csv", "id,mz,rt\n1,100,5\n", ":1: no per-sample columns"},
      {Import_Format::kMzmine, "mzmine2.csv",
       "row ID,a.mzML Peak m/z,a.mzML Peak RT,a.mzML Peak height\n1,100.5,5.1,1000\n2,101,x,1\n",
       ":3: column \"a.mzML Peak RT\": \"x\" is not a number"},
      {Import_Format::kFeatureXml, "empty.featureXML", "", ": empty file"},
      {Import_Format::kFeatureXml, "root.featureXML", "<consensusXML/>",
       ":1: not a featureXML file"},
      {Import_Format::kFeatureXml, "broken.featureXML", "<featureMap><featureList>\n</featureMap>",
       ":2: not well-formed XML"},
      {Import_Format::kFeatureXml, "noint.featureXML",
       "<featureMap><featureList>\n<feature id=\"f\">\n<position dim=\"0\">1</position>"
       "<position dim=\"1\">100</position></feature></featureList></featureMap>",
       ":2: feature \"f\" has no <intensity>"},
      {Import_Format::kFeatureXml, "badnumber.featureXML",
       "<featureMap><featureList><feature>\n\n<position dim=\"1\">1O0.5</position>",
       ":3: column \"<position>\": \"1O0.5\" is not a number"},
  };
  for (const auto& c : cases) {
    const std::string path = Input(c.name, c.text);
    Import_Options options;
    options.format = c.format;
    try {
      Read_Feature_Lists(options, {path});
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const Import_Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + c.message, 0), 0u) << e.what();
    }
  }
}

TEST_F(ImportTest, RefusedImportWritesNothingAndKeepsEarlierFiles) {
  Import(Import_Format::kXcms, {Data("xcms.csv")});
  const std::string kept = Join_Path(out(), "sample_1" + std::string(kAnnotatedSuffix));
  const std::string before = Read_File(kept);
  const std::string good = Input("good.csv", "sample,mz,rt,height\nsample_1,1,2,3\nnew,1,2,3\n");
  const std::string bad = Input("bad.csv", "sample,mz,rt,height\nother,1,2,x\n");
  EXPECT_THROW(Import(Import_Format::kTable, {good, bad}), Import_Error);
  EXPECT_EQ(Read_File(kept), before);
  EXPECT_EQ(List_Folder(out()),
            (std::vector<std::string>{"sample_1" + std::string(kAnnotatedSuffix),
                                      "sample_2" + std::string(kAnnotatedSuffix)}));
  // A sample in two inputs would be two databases of one name.
  const std::string again = Input("again.csv", "sample,mz,rt,height\nnew,1,2,3\n");
  EXPECT_THROW(Import(Import_Format::kTable, {good, again}), Import_Error);
}

TEST_F(ImportTest, FailedWriteLeavesNoFile) {
  // The second database cannot be created (its name is too long): the first,
  // complete, is not renamed into place and its temporary file goes.
  Imported_Feature feature;
  feature.mz = feature.mass = 100.0;
  feature.rt = 60.0;
  feature.height = 1.0;
  const std::vector<Imported_Sample> samples = {{"a", "in.csv", {feature}},
                                                {std::string(300, 'x'), "in.csv", {feature}}};
  EXPECT_THROW(Write_Imported_Samples(samples, out()), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(out()));
  EXPECT_TRUE(List_Folder(folder_.path()).empty());
}

TEST_F(ImportTest, ProgramExitsLikeTheOtherTools) {
  const auto run = [&](const std::string& args) {
    const std::string command = std::string(VARNEL_IMPORT_PROGRAM) + " " + args + " >" +
                                Join_Path(folder_.path(), "out.txt") + " 2>" +
                                Join_Path(folder_.path(), "err.txt");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("--format xcms " + Data("xcms.csv") + " -o " + out()), 0);
  EXPECT_NE(Read_File(Join_Path(folder_.path(), "out.txt"))
                .find("sample_1: 2 features -> " + Join_Path(out(), "sample_1") + kAnnotatedSuffix +
                      " (mass: 0 neutral, 2 m/z)\n"),
            std::string::npos);
  const std::string bad = Input("bad.csv", "mz,rt\n1,2\n");
  EXPECT_EQ(run("--format table " + bad + " -o " + out()), 1);
  EXPECT_EQ(Read_File(Join_Path(folder_.path(), "err.txt")),
            "varnel-import: " + bad +
                ":1: no intensity column (looked for \"intensity\", \"height\", "
                "\"maxo\", \"abundance\", \"area\", \"into\"; choose one with --intensity "
                "NAME)\n");
  EXPECT_EQ(run("--format parquet " + bad + " -o " + out()), 2);
  EXPECT_EQ(run("--format table " + bad), 2);
}

}  // namespace
