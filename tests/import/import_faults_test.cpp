// Inputs the import once took silently, each refused with the file, line and
// thing named (or read as meant), beside the same input without the fault,
// which imports: samples that would be one, a row of another width,
// implausible values, cells that hold no feature, text encodings and line
// ends, long cells in messages, and an output folder that ends complete or as
// it was, with the leftovers of killed imports removed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "import/feature_import.h"
#include "import/import_formats.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

class ImportFaultTest : public ::testing::Test {
 protected:
  std::string Input(const std::string& name, const std::string& text) {
    const std::string path = Join_Path(folder_.path(), name);
    std::filesystem::create_directories(Split_Path(path).folder);
    Write_File(path, text);
    return path;
  }
  // The refusal's message, or "" when the inputs were read.
  std::string Refusal(Import_Format format, const std::vector<std::string>& inputs,
                      Import_Options options = {}) {
    options.format = format;
    try {
      samples_ = Read_Feature_Lists(options, inputs);
    } catch (const Import_Error& e) {
      return e.what();
    }
    return "";
  }
  std::string out() const { return Join_Path(folder_.path(), "out"); }

  Temp_Folder folder_;
  std::vector<Imported_Sample> samples_;
};

// A pid that is not running: a child that has ended and been reaped.
long Dead_Pid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST_F(ImportFaultTest, SamplesThatWouldBeOneAreRefusedNamingBoth) {
  const std::string slash = Input("slash.csv", "sample,mz,rt,height\na/b,100,5,1\na_b,101,6,1\n");
  std::string message = Refusal(Import_Format::kTable, {slash});
  EXPECT_EQ(message.rfind(slash + ":3: column \"sample\": samples \"a/b\" and \"a_b\"", 0), 0u)
      << message;

  const std::string stems =
      Input("stems.csv",
            "id,datafile:a.mzML:mz,datafile:a.mzML:rt,datafile:a.mzML:height,"
            "datafile:a.mzXML:mz,datafile:a.mzXML:rt,datafile:a.mzXML:height\n1,100,1,5,100,1,5\n");
  message = Refusal(Import_Format::kMzmine, {stems});
  EXPECT_NE(message.find("\"a.mzML\" and \"a.mzXML\""), std::string::npos) << message;
  const std::string runs = Input("runs.csv",
                                 "id,run1/a.mzML Peak m/z,run1/a.mzML Peak RT,run1/a.mzML Peak "
                                 "height,run2/a.mzML Peak m/z,run2/a.mzML Peak RT,run2/a.mzML "
                                 "Peak height\n1,100,1,5,100,1,5\n");
  message = Refusal(Import_Format::kMzmine, {runs});
  EXPECT_NE(message.find("\"run1/a.mzML\" and \"run2/a.mzML\""), std::string::npos) << message;

  const std::string xcms = Input("xcms.csv", "sample,mz,rt,maxo\n1,100,5,1\nsample_1,101,6,1\n");
  message = Refusal(Import_Format::kXcms, {xcms});
  EXPECT_NE(message.find("\"1\" and \"sample_1\""), std::string::npos) << message;

  // Across inputs, and one table given twice by another path.
  const std::string other = Input("other.csv", "sample,mz,rt,height\na_b,100,5,1\n");
  const std::string first = Input("first.csv", "sample,mz,rt,height\na/b,100,5,1\n");
  message = Refusal(Import_Format::kTable, {first, other});
  EXPECT_EQ(message.rfind(other + ": sample \"a_b\" and sample \"a/b\" of " + first, 0), 0u)
      << message;
  const std::string again = Join_Path(Join_Path(folder_.path(), "."), "first.csv");
  message = Refusal(Import_Format::kTable, {first, again});
  EXPECT_EQ(message,
            again + ": the same file as " + first + " (given twice); give each input once");

  // Controls: distinct names import.
  const std::string fine = Input("fine.csv", "sample,mz,rt,height\na,100,5,1\nb,101,6,1\n");
  EXPECT_EQ(Refusal(Import_Format::kTable, {fine}), "");
  EXPECT_EQ(samples_.size(), 2u);
  const std::string fine_xcms = Input("fine_xcms.csv", "sample,mz,rt,maxo\n1,100,5,1\n2,101,6,1\n");
  EXPECT_EQ(Refusal(Import_Format::kXcms, {fine_xcms}), "");
}

TEST_F(ImportFaultTest, RowNamesAreATableRuleNotARowRule) {
  // One extra field on a single row once shifted that row by one column.
  const std::string shifted =
      Input("shifted.csv", "mz,rt,height\n181.0707,300,100000\n304.1543,600,50000,7\n");
  EXPECT_EQ(Refusal(Import_Format::kTable, {shifted}), shifted + ":3: 4 fields, the header has 3");
  const std::string short_row =
      Input("short.csv", "mz,rt,height\n1,181.0707,300,100000\n2,304.1543,600\n");
  EXPECT_EQ(Refusal(Import_Format::kTable, {short_row}),
            short_row +
                ":3: 3 fields, the header has 3 and the rows before have a row name in front "
                "(4 fields)");
  // Control: R's row names on every row are dropped.
  const std::string named =
      Input("named.csv", "mz,rt,height\n1,181.0707,300,100000\n2,304.1543,600,50000\n");
  ASSERT_EQ(Refusal(Import_Format::kTable, {named}), "");
  ASSERT_EQ(samples_.at(0).features.size(), 2u);
  EXPECT_DOUBLE_EQ(samples_[0].features[1].mz, 304.1543);
  EXPECT_DOUBLE_EQ(samples_[0].features[1].rt, 600.0);
  EXPECT_DOUBLE_EQ(samples_[0].features[1].height, 50000.0);
}

TEST_F(ImportFaultTest, ImplausibleValuesAreRefusedWithFileAndLine) {
  const struct {
    const char* name;
    Import_Format format;
    const char* text;
    const char* message;  // after PATH
  } cases[] = {
      {"mz0.csv", Import_Format::kTable, "mz,rt,height\n100,5,1\n0,5,1\n",
       ":3: column \"mz\": m/z 0 is not above 0 and below 100000"},
      {"mzneg.csv", Import_Format::kTable, "mz,rt,height\n-3,5,1\n",
       ":2: column \"mz\": m/z -3 is not above 0 and below 100000"},
      {"mzhuge.csv", Import_Format::kTable, "m/z,rt,height\n1e308,5,1\n",
       ":2: column \"m/z\": m/z 1e+308 is not above 0 and below 100000"},
      {"rthuge.csv", Import_Format::kTable, "mz,rt,height\n100,1e300,1\n",
       ":2: column \"rt\": retention time 1e+300 s is not from 0 to 48 h"},
      {"rtneg.csv", Import_Format::kTable, "mz,time,height\n100,-1,1\n",
       ":2: column \"time\": retention time -1 s is not from 0 to 48 h"},
      {"mass.csv", Import_Format::kTable, "mz,rt,height,adduct\n99999,5,1,[M+2H]2+\n",
       ":2: column \"adduct\": neutral mass"},
      {"neg.csv", Import_Format::kTable, "mz,rt,height\n100,5,-2\n",
       ":2: column \"height\": negative intensity -2"},
      {"negarea.csv", Import_Format::kTable, "mz,rt,height,area\n100,5,2,-1\n",
       ":2: column \"area\": negative area -1"},
      {"dup.csv", Import_Format::kTable, "mz,rt,mz,height\n100,5,200,1\n",
       ":1: column \"mz\" appears twice (columns 1 and 3)"},
      {"dupmz.csv", Import_Format::kMzmine,
       "datafile:a:mz,datafile:a:rt,datafile:a:mz,datafile:a:height\n100,5,200,1\n",
       ":1: column \"datafile:a:mz\" appears twice (columns 1 and 3)"},
      {"mzmine_neg.csv", Import_Format::kMzmine,
       "datafile:a:mz,datafile:a:rt,datafile:a:height\n100,5,-1\n",
       ":2: column \"datafile:a:height\": negative intensity -1"},
      // MZmine's minutes: times already in seconds (5 to 10 h) beyond 48 h.
      {"seconds.csv", Import_Format::kMzmine,
       "datafile:a:mz,datafile:a:rt,datafile:a:height\n100,18000,5\n100,36000,5\n",
       ":2: column \"datafile:a:rt\": retention time 1.08e+06 s is not from 0 to 48 h (read in "
       "minutes: if the times are in seconds, give --rt-unit s)"},
      {"nolist.featureXML", Import_Format::kFeatureXml, "<featureMap version=\"1.9\"></featureMap>",
       ": no <featureList>"},
      {"negint.featureXML", Import_Format::kFeatureXml,
       "<featureMap><featureList>\n<feature id=\"f\"><position dim=\"0\">1</position><position "
       "dim=\"1\">100</position><intensity>-4</intensity></feature></featureList></featureMap>",
       ":2: feature \"f\" has a negative <intensity>"},
  };
  for (const auto& c : cases) {
    const std::string path = Input(c.name, c.text);
    const std::string message = Refusal(c.format, {path});
    EXPECT_EQ(message.rfind(path + c.message, 0), 0u) << c.name << ": " << message;
  }
  // --rt-unit min on times in seconds, for any table.
  Import_Options minutes;
  minutes.rt_unit = Rt_Unit::kMinutes;
  const std::string seconds = Input("s.csv", "mz,rt,height\n100,3000,1\n");
  EXPECT_NE(Refusal(Import_Format::kTable, {seconds}, minutes).find("give --rt-unit s"),
            std::string::npos);
  // Controls: the limits themselves pass, and seconds read as seconds.
  const std::string edges = Input("edges.csv", "mz,rt,height\n0.001,0,1\n99999,172800,1\n");
  EXPECT_EQ(Refusal(Import_Format::kTable, {edges}), "");
  Import_Options in_seconds;
  in_seconds.rt_unit = Rt_Unit::kSeconds;
  const std::string mzmine =
      Input("mzmine_s.csv", "datafile:a:mz,datafile:a:rt,datafile:a:height\n100,18000,5\n");
  EXPECT_EQ(Refusal(Import_Format::kMzmine, {mzmine}, in_seconds), "");
  const std::string featurexml = Input(
      "list.featureXML",
      "<featureMap><featureList count=\"1\"><feature id=\"f\"><position dim=\"0\">1</position>"
      "<position dim=\"1\">100</position><intensity>4</intensity></feature></featureList>"
      "</featureMap>");
  EXPECT_EQ(Refusal(Import_Format::kFeatureXml, {featurexml}), "");
}

TEST_F(ImportFaultTest, ZeroOrEmptyIntensityIsNotDetectedAndCounted) {
  const std::string wide = Input("wide.csv",
                                 "id,datafile:a:mz,datafile:a:rt,datafile:a:height,"
                                 "datafile:b:mz,datafile:b:rt,datafile:b:height\n"
                                 "1,100,1,5,100,1,0\n2,200,2,,200,2,7\n3,300,3,4,300,3,6\n");
  ASSERT_EQ(Refusal(Import_Format::kMzmine, {wide}), "");
  ASSERT_EQ(samples_.size(), 2u);
  EXPECT_EQ(samples_[0].features.size(), 2u);
  EXPECT_EQ(samples_[0].not_detected, 1u);
  EXPECT_EQ(samples_[1].features.size(), 2u);
  EXPECT_EQ(samples_[1].not_detected, 1u);
  const std::vector<Imported_Database> written = Write_Imported_Samples(samples_, out());
  EXPECT_EQ(written[1].not_detected, 1u);
  std::vector<Chromatogram_Peak_Group_Compound> peaks;
  Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(out(), written[1].file_name,
                                                                       peaks);
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_DOUBLE_EQ(peaks[0].Apex_Intensity, 7.0);
}

TEST_F(ImportFaultTest, EncodingsLineEndsAndLongCellsGetVarnelsWords) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("mz,rt,height\n100,5,1\n")) utf16 += std::string{c, '\0'};
  const std::string wide_text = Input("utf16.csv", utf16);
  EXPECT_EQ(Refusal(Import_Format::kTable, {wide_text}),
            wide_text +
                ": the file is UTF-16 text; save it as UTF-8 (or \"CSV UTF-8\") and "
                "import that");
  // Old Mac line ends: read like any other.
  const std::string cr = Input("cr.csv", "mz,rt,height\r100,5,1\r101,6,2\r");
  ASSERT_EQ(Refusal(Import_Format::kTable, {cr}), "");
  EXPECT_EQ(samples_.at(0).features.size(), 2u);
  // A 100,000-character cell is cut in the message.
  const std::string adduct(100000, 'Q');
  const std::string long_cell = Input("long.csv", "mz,rt,height,adduct\n100,5,1," + adduct + "\n");
  const std::string message = Refusal(Import_Format::kTable, {long_cell});
  EXPECT_EQ(message.rfind(long_cell + ":2: column \"adduct\": \"" + std::string(60, 'Q') +
                              "\u2026 (100000 characters)\" is not an adduct",
                          0),
            0u)
      << message.substr(0, 300);
  EXPECT_LT(message.size(), 400u);
}

TEST_F(ImportFaultTest, OutputFolderEndsCompleteOrAsItWas) {
  Imported_Feature feature;
  feature.mz = feature.mass = 100.0;
  feature.rt = 60.0;
  feature.height = 1.0;
  const std::vector<Imported_Sample> samples = {{"a", "in.csv", {feature}},
                                                {"b", "in.csv", {feature, feature}}};
  // Leftovers of a killed import beside and in the folder go; a live
  // process's and other names stay.
  const std::string dead = ".varnel-part-" + std::to_string(Dead_Pid()) + "-abc123";
  const std::string live = ".varnel-part-" + std::to_string(::getpid()) + "-abc123";
  Write_File(Join_Path(folder_.path(), dead), "x");
  const std::string dead_folder = ".varnel-part-" + std::to_string(Dead_Pid()) + "-fold01";
  std::filesystem::create_directories(Join_Path(Join_Path(folder_.path(), dead_folder), "inner"));
  Write_File(Join_Path(folder_.path(), live), "x");
  Write_File(Join_Path(folder_.path(), ".varnel-part-notes"), "x");

  // Stopped while writing: no folder and no temporary is left.
  std::atomic<int> asked{0};
  EXPECT_THROW(Write_Imported_Samples(samples, out(), {}, [&asked] { return ++asked > 1; }),
               Import_Stopped);
  EXPECT_FALSE(std::filesystem::exists(out()));
  EXPECT_EQ(List_Folder(folder_.path()), (std::vector<std::string>{live, ".varnel-part-notes"}));
  // A failing sample leaves the folder as it was (missing).
  std::vector<Imported_Sample> failing = samples;
  failing.push_back({std::string(300, 'x'), "in.csv", {feature}});
  EXPECT_THROW(Write_Imported_Samples(failing, out()), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(out()));
  // Control: complete, and nothing beside it.
  const std::vector<Imported_Database> written = Write_Imported_Samples(samples, out());
  EXPECT_EQ(written.size(), 2u);
  EXPECT_EQ(List_Folder(out()).size(), 2u);
  EXPECT_EQ(List_Folder(folder_.path()),
            (std::vector<std::string>{live, ".varnel-part-notes", "out"}));
  // Into a folder with files: leftovers there go too.
  Write_File(Join_Path(out(), dead), "x");
  Write_Imported_Samples(samples, out());
  EXPECT_EQ(List_Folder(out()).size(), 2u);
}

// SIGTERM (what timeout and Slurm send) while varnel-import reads or writes:
// it exits 143 with nothing written, or had finished; no temporary is left.
TEST_F(ImportFaultTest, ProgramStoppedBySigtermLeavesNothing) {
  std::string table = "sample,mz,rt,height\n";
  for (int i = 0; i < 200000; ++i) {
    table += 's';
    table += std::to_string(i % 20);
    table += ',';
    table += std::to_string(100 + i % 5000);
    table += ".5,60,1000\n";
  }
  const std::string input = Input("big.csv", table);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(VARNEL_IMPORT_PROGRAM, VARNEL_IMPORT_PROGRAM, "--format", "table", input.c_str(), "-o",
            out().c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::usleep(150000);
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  // Killed before it set its handlers (a very slow start) it wrote nothing either.
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  EXPECT_TRUE(code == 143 || code == 0) << code;
  if (code == 143) {
    EXPECT_FALSE(std::filesystem::exists(out()));
  } else {
    EXPECT_EQ(List_Folder(out()).size(), 20u);
  }
  for (const std::string& name : List_Folder(folder_.path())) {
    EXPECT_EQ(name.find(".varnel-part-"), std::string::npos) << name;
  }
}

TEST(ImportFormatGuessTest, ExtensionAndContentGiveTheFormat) {
  Temp_Folder folder;
  const auto guess = [&](const std::string& name, const std::string& text) {
    const std::string path = Join_Path(folder.path(), name);
    Write_File(path, text);
    return Guess_Import_Format(path);
  };
  EXPECT_EQ(guess("a.tsv", "mz\trt\theight\n1\t2\t3\n"), Import_Format::kTable);
  EXPECT_EQ(guess("a.featureXML", "mz,rt,height\n1,2,3\n"), Import_Format::kTable);
  EXPECT_EQ(guess("a.xml", "<?xml version=\"1.0\"?>\n<!-- x -->\n<featureMap>"),
            Import_Format::kFeatureXml);
  // Content that fits no format goes by the name.
  EXPECT_EQ(guess("a.csv", "<consensusXML/>"), Import_Format::kTable);
  EXPECT_EQ(guess("broken.tsv", "just one line of text\n"), Import_Format::kTable);
  EXPECT_EQ(guess("broken.TXT", "word"), Import_Format::kTable);
  EXPECT_EQ(guess("broken.featureXML", "just one line of text\n"), Import_Format::kFeatureXml);
  EXPECT_EQ(guess("empty.featureXML", ""), Import_Format::kFeatureXml);
  EXPECT_EQ(guess("notes.dat", "just one line of text\n"), std::nullopt);
  EXPECT_EQ(guess("map.dat", "<consensusXML/>"), std::nullopt);
  EXPECT_EQ(guess("m.csv", "id,datafile:a.mzML:mz,datafile:a.mzML:rt\n"), Import_Format::kMzmine);
  EXPECT_EQ(guess("m2.csv", "row ID,a.mzML Peak m/z\n"), Import_Format::kMzmine);
  EXPECT_EQ(guess("x.csv", "\"\",\"mz\",\"rt\",\"into\",\"maxo\",\"sample\"\n"),
            Import_Format::kXcms);
  EXPECT_EQ(guess("empty.csv", ""), Import_Format::kTable);
  EXPECT_EQ(Guess_Import_Format(Join_Path(folder.path(), "missing.csv")), std::nullopt);
  // The table lists each format once, found by its name.
  for (const Import_Format_Info& info : Import_Formats()) {
    EXPECT_EQ(Parse_Import_Format(info.name), info.format);
    EXPECT_EQ(&Format_Info(info.format), &info);
  }
}

}  // namespace
