#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/aligned_queries.h"
#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/sqlite/cppsqlite3.h"
#include "temp_dir.h"

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;
using List = std::vector<Align>;
namespace fs = std::filesystem;

constexpr const char* kDb = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";
constexpr const char* kCsv = "aligned_annotated_grouped_chromatograph_peaklist.csv";

Align MakePeak(std::uint32_t sample, std::uint32_t align_id, std::uint32_t eic,
               std::uint32_t peak_id, int points = 3) {
  Align p;
  p.EIC_ID = eic;
  p.Peak_ID = peak_id;
  p.Apex_MZ = 301.1234567 + eic;
  p.Apex_Pos = 40 + peak_id;
  p.Apex_Retention_Time = 745.25 + sample;
  p.Apex_Intensity = 20250.5;
  p.Peak_Area = 1.5e6 + peak_id;
  p.Peak_SNR = 12.75;
  p.Left_Boundary = 30;
  p.Right_Boundary = 57;
  p.Group_ID = eic % 3;
  p.Adduct_Annotation = "[M+H]+";
  p.Compound_ID = 100 + align_id;
  p.Compound_MolecularMass = 300.116;
  p.Compound_Retention_Time = 745.5;
  p.Compound_Intensity = 5.0e5 - eic;
  p.SAMPLE_ID = sample;
  char name[16];
  std::snprintf(name, sizeof name, "S%u", sample);
  p.SAMPLE_NAME = name;
  p.Align_ID = align_id;
  p.Align_RT = 745.4;
  for (int i = 0; i < points; ++i) {
    p.Peak_shape.push_back({1500u + i, 745.0 + i * 0.5123456789, 301.12345 + i, 1000.0 * i + 0.25});
  }
  return p;
}

// The database as the formatted-insert writer makes it: statements built with
// sqlite3_mprintf ("%d", "%f", '%q', "%Q"), the shape encoded through
// CppSQLite3Binary from its printf text.
void WriteFormattedReference(const std::string& path, const List& list) {
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML(
      "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
      "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
      "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), "
      "Compound_ID int, Compound_MolecularMass double, Compound_Retention_Time double, "
      "Compound_Intensity double, SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, "
      "Align_RT double, Peak_shape blob);");
  for (const char* column :
       {"EIC_ID", "Peak_ID", "Group_ID", "Compound_ID", "SAMPLE_ID", "Align_ID"}) {
    CppSQLite3Buffer sql;
    db.execDML(
        sql.format("CREATE INDEX if not exists Align_Peaklist_%s_index ON "
                   "Align_Peaklist(%s);",
                   column, column));
  }
  db.execDML("begin transaction;");
  for (const Align& p : list) {
    std::string text;
    char buf[400];
    for (const Data_Point& d : p.Peak_shape) {
      std::snprintf(buf, sizeof buf, "%f,%f,%f,%u,", d.Intensity, d.MZ, d.RT, d.Scan);
      text += buf;
    }
    if (!text.empty()) text.pop_back();
    CppSQLite3Binary binary;
    binary.setBinary(reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<int>(text.size()));
    CppSQLite3Buffer sql;
    auto i = [](std::uint32_t v) { return static_cast<int>(v); };
    sql.format(
        "insert into Align_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%q', %d, "
        "%f, %f, %f, %d, '%q', %d, %f, %Q);",
        i(p.EIC_ID), i(p.Peak_ID), p.Apex_MZ, i(p.Apex_Pos), p.Apex_Retention_Time,
        p.Apex_Intensity, p.Peak_Area, p.Peak_SNR, i(p.Left_Boundary), i(p.Right_Boundary),
        i(p.Group_ID), p.Adduct_Annotation.c_str(), i(p.Compound_ID), p.Compound_MolecularMass,
        p.Compound_Retention_Time, p.Compound_Intensity, i(p.SAMPLE_ID), p.SAMPLE_NAME.c_str(),
        i(p.Align_ID), p.Align_RT, binary.getEncoded());
    db.execDML(sql);
  }
  db.execDML("commit transaction;");
}

// Every stored value with its storage class; reals by their bits.
std::vector<std::string> DumpRows(const std::string& path) {
  std::vector<std::string> rows;
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement q = db.compileStatement("select * from Align_Peaklist order by rowid");
  while (q.step()) {
    std::string row;
    for (int c = 0; c < q.numFields(); ++c) {
      switch (q.fieldDataType(c)) {
        case SQLITE_INTEGER:
          row += "int:" + std::to_string(q.fieldInt64(c));
          break;
        case SQLITE_FLOAT: {
          const double d = q.fieldDouble(c);
          std::uint64_t bits;
          std::memcpy(&bits, &d, sizeof bits);
          row += "real:" + std::to_string(bits);
          break;
        }
        case SQLITE_TEXT:
          row += "text:" + std::string(q.fieldText(c), q.fieldBytes(c));
          break;
        case SQLITE_NULL:
          row += "null";
          break;
        default:
          row += "blob";
      }
      row += "|";
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> DumpSchema(const std::string& path) {
  std::vector<std::string> entries;
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement q =
      db.compileStatement("select type, name, tbl_name, sql from sqlite_master order by rowid");
  while (q.step()) {
    entries.push_back(std::string(q.fieldText(0)) + "|" + q.fieldText(1) + "|" + q.fieldText(2) +
                      "|" + q.fieldText(3));
  }
  return entries;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The value a stored "%f" double reads back as.
double SixDecimals(double v) {
  CppSQLite3Buffer text;
  return std::strtod(text.format("%f", v), nullptr);
}
double PrintfSixDecimals(double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%f", v);
  return std::strtod(buf, nullptr);
}

class AlignedIoTest : public ::testing::Test {
 public:
  std::string File(const std::string& name) const { return Join_Path(dir_.path(), name); }
  void WriteDb(const List& list, const Row_Progress& progress = {}) {
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, dir_.path(), kDb, progress);
  }
  void WriteCsv(const List& list, const Row_Progress& progress = {}) {
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(list, dir_.path(), kCsv, progress);
  }
  List ByAlign(int align_id, List list = {}) {
    Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb,
                                                                                align_id, list);
    return list;
  }
  TempDir dir_;
};

// Rows with values at the edges of every stored form, and 300 random ones.
List Tricky_List() {
  List list;
  Align tricky = MakePeak(0, 1, 1, 1);
  tricky.Apex_MZ = 0.5e-7;
  tricky.Apex_Retention_Time = 5e-7;
  tricky.Apex_Intensity = 1e15;
  tricky.Peak_Area = -0.0;
  tricky.Peak_SNR = 12345678901.123456;  // more digits than SQLite's "%f" keeps
  tricky.Compound_MolecularMass = 1.0 / 128;
  tricky.Compound_Retention_Time = -3.0 / 128;
  tricky.Compound_Intensity = 1e300;
  tricky.Align_RT = -1e-9;
  tricky.EIC_ID = 2147483648u;
  tricky.Peak_ID = 4294967295u;
  tricky.SAMPLE_NAME = "it's Probe_\xc3\xbc, \"x\"";
  tricky.Adduct_Annotation = "[M+H]+ 'a'";
  list.push_back(tricky);
  Align flat = MakePeak(1, 0, 2, 2, 0);
  flat.Adduct_Annotation.clear();
  list.push_back(flat);
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-8, 12);
  for (int i = 0; i < 300; ++i) {
    Align p = MakePeak(i % 7, i / 3, static_cast<std::uint32_t>(rng()), i, i % 5);
    for (double* v : {&p.Apex_MZ, &p.Peak_Area, &p.Align_RT, &p.Compound_Intensity}) {
      *v = unit(rng) * std::pow(10.0, exponent(rng));
    }
    for (Data_Point& d : p.Peak_shape) d.Intensity = unit(rng) * std::pow(10.0, exponent(rng));
    list.push_back(p);
  }
  return list;
}

TEST_F(AlignedIoTest, StoredValuesAndSchemaEqualTheFormattedInsert) {
  const List list = Tricky_List();
  WriteDb(list);
  WriteFormattedReference(File("reference.db"), list);
  EXPECT_EQ(DumpRows(File(kDb)), DumpRows(File("reference.db")));
  const std::vector<std::string> schema = DumpSchema(File(kDb));
  EXPECT_EQ(schema, DumpSchema(File("reference.db")));
  ASSERT_EQ(schema.size(), 7u);
  {
    CppSQLite3DB db;  // every index entry matches its row
    db.open(File(kDb).c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_STREQ(db.execQuery("pragma integrity_check").fieldValue(0), "ok");
  }
  EXPECT_EQ(schema[6],
            "index|Align_Peaklist_Align_ID_index|Align_Peaklist|CREATE INDEX "
            "Align_Peaklist_Align_ID_index ON Align_Peaklist(Align_ID)");
}

// Every index's entries in index order, then integrity_check.
std::vector<std::string> DumpIndexes(const std::string& path) {
  std::vector<std::string> entries;
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  for (const char* column :
       {"EIC_ID", "Peak_ID", "Group_ID", "Compound_ID", "SAMPLE_ID", "Align_ID"}) {
    const std::string sql = std::string("select ") + column +
                            ", rowid from Align_Peaklist indexed by "
                            "Align_Peaklist_" +
                            column + "_index where " + column + " > -2147483649 order by " +
                            column + ", rowid";
    CppSQLite3Statement q = db.compileStatement(sql.c_str());
    while (q.step())
      entries.push_back(std::to_string(q.fieldInt64(0)) + ":" + std::to_string(q.fieldInt64(1)));
  }
  entries.push_back(db.execQuery("pragma integrity_check").fieldValue(0));
  return entries;
}

// VARNEL_SQLITE_INSERTS=1 puts the rows in through SQLite's own inserts
// instead of written pages: SQL sees the same rows, values, index entries and
// schema, with the extra tables too.
TEST_F(AlignedIoTest, SqliteInsertsGiveWhatThePagesGive) {
  List list = Tricky_List();
  list[5].Apex_MZ = std::numeric_limits<double>::quiet_NaN();
  list[6].Peak_Area = -std::numeric_limits<double>::infinity();
  const Extra_Tables extra = [](CppSQLite3DB& db) {
    db.execDML("create table Extra(Item text, Value text); insert into Extra values('a', 'b');");
  };
  for (const char* name : {"pages.aligndb", "inserts.aligndb"}) {
    if (std::string(name) == "inserts.aligndb") setenv("VARNEL_SQLITE_INSERTS", "1", 1);
    std::vector<std::size_t> progress;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
        list, dir_.path(), name, [&](std::size_t rows) { progress.push_back(rows); }, extra);
    unsetenv("VARNEL_SQLITE_INSERTS");
    EXPECT_EQ(progress, (std::vector<std::size_t>{list.size()})) << name;
  }
  EXPECT_EQ(DumpRows(File("inserts.aligndb")), DumpRows(File("pages.aligndb")));
  EXPECT_EQ(DumpSchema(File("inserts.aligndb")), DumpSchema(File("pages.aligndb")));
  const std::vector<std::string> indexes = DumpIndexes(File("pages.aligndb"));
  EXPECT_EQ(DumpIndexes(File("inserts.aligndb")), indexes);
  EXPECT_EQ(indexes.size(), 6 * list.size() + 1);
  EXPECT_EQ(indexes.back(), "ok");
}

// VARNEL_INDEX_RUN_ROWS=29 sorts the index entries in 11 runs through a
// temporary file: the same bytes as entries sorted at once, and nothing left
// beside the result.
TEST_F(AlignedIoTest, IndexEntriesSortedInRunsGiveTheSameBytes) {
  const List list = Tricky_List();
  setenv("VARNEL_INDEX_RUN_ROWS", "29", 1);
  OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, dir_.path(), "runs.aligndb");
  unsetenv("VARNEL_INDEX_RUN_ROWS");
  OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, dir_.path(), "whole.aligndb");
  EXPECT_TRUE(ReadFile(File("runs.aligndb")) == ReadFile(File("whole.aligndb")));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"runs.aligndb", "whole.aligndb"}));
}

TEST_F(AlignedIoTest, RoundTripThroughTheQueries) {
  List list = {MakePeak(2, 7, 10, 1), MakePeak(0, 7, 11, 2, 40), MakePeak(1, 8, 12, 3, 0),
               MakePeak(2147483648u, 4294967295u, 4294967295u, 2147483648u, 1)};
  list[0].SAMPLE_NAME = "O'Brien";
  WriteDb(list);

  const List seven = ByAlign(7);
  ASSERT_EQ(seven.size(), 2u);
  EXPECT_EQ(seven[0].SAMPLE_ID, 0u);  // sorted by sample
  EXPECT_EQ(seven[1].SAMPLE_ID, 2u);
  EXPECT_EQ(seven[1].SAMPLE_NAME, "O'Brien");

  for (const Align& original : list) {
    List got;
    Engine_Query_ChromatographPeak_FromAlignDataBase(
        dir_.path(), kDb, static_cast<int>(original.SAMPLE_ID), static_cast<int>(original.EIC_ID),
        static_cast<int>(original.Peak_ID), got);
    ASSERT_EQ(got.size(), 1u) << original.EIC_ID;
    const Align& p = got[0];
    EXPECT_EQ(p.EIC_ID, original.EIC_ID);
    EXPECT_EQ(p.Peak_ID, original.Peak_ID);
    EXPECT_EQ(p.Apex_MZ, SixDecimals(original.Apex_MZ));
    EXPECT_EQ(p.Apex_Pos, original.Apex_Pos);
    EXPECT_EQ(p.Apex_Retention_Time, SixDecimals(original.Apex_Retention_Time));
    EXPECT_EQ(p.Apex_Intensity, original.Apex_Intensity);
    EXPECT_EQ(p.Peak_Area, original.Peak_Area);
    EXPECT_EQ(p.Peak_SNR, original.Peak_SNR);
    EXPECT_EQ(p.Left_Boundary, original.Left_Boundary);
    EXPECT_EQ(p.Right_Boundary, original.Right_Boundary);
    EXPECT_EQ(p.Group_ID, original.Group_ID);
    EXPECT_EQ(p.Adduct_Annotation, original.Adduct_Annotation);
    EXPECT_EQ(p.Compound_ID, original.Compound_ID);
    EXPECT_EQ(p.Compound_MolecularMass, original.Compound_MolecularMass);
    EXPECT_EQ(p.Compound_Retention_Time, original.Compound_Retention_Time);
    EXPECT_EQ(p.Compound_Intensity, original.Compound_Intensity);
    EXPECT_EQ(p.SAMPLE_ID, original.SAMPLE_ID);
    EXPECT_EQ(p.SAMPLE_NAME, original.SAMPLE_NAME);
    EXPECT_EQ(p.Align_ID, original.Align_ID);
    EXPECT_EQ(p.Align_RT, original.Align_RT);
    ASSERT_EQ(p.Peak_shape.size(), original.Peak_shape.size());
    for (std::size_t i = 0; i < p.Peak_shape.size(); ++i) {
      const Data_Point& a = p.Peak_shape[i];
      const Data_Point& b = original.Peak_shape[i];
      EXPECT_EQ(a.Scan, b.Scan);
      EXPECT_EQ(a.RT, PrintfSixDecimals(b.RT));
      EXPECT_EQ(a.MZ, PrintfSixDecimals(b.MZ));
      EXPECT_EQ(a.Intensity, PrintfSixDecimals(b.Intensity));
    }
  }
  EXPECT_EQ(list[0].Apex_MZ, 311.1234567);
  EXPECT_EQ(ByAlign(7)[1].Apex_MZ, 311.123457);
}

TEST_F(AlignedIoTest, QueriesAppendByTheirKeys) {
  List list = {MakePeak(0, 1, 3, 1), MakePeak(0, 2, 4, 2), MakePeak(1, 1, 3, 3),
               MakePeak(1, 3, 6, 4)};
  WriteDb(list);  // Group_ID = EIC_ID % 3, Compound_ID = 100 + Align_ID
  const Align old = MakePeak(9, 99, 99, 99, 0);

  List by_compound = {old};
  Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb, 1, 101,
                                                                       by_compound);
  ASSERT_EQ(by_compound.size(), 2u);
  EXPECT_EQ(by_compound[0].SAMPLE_ID, 9u);  // old records stay in front
  EXPECT_EQ(by_compound[1].Peak_ID, 3u);

  List by_group;
  Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb, 1, 0, by_group);
  ASSERT_EQ(by_group.size(), 2u);  // EIC 3 and 6 in sample 1
  EXPECT_EQ(by_group[0].SAMPLE_ID + by_group[1].SAMPLE_ID, 2u);

  const List aligned = ByAlign(1, {old});  // old and new sorted together
  ASSERT_EQ(aligned.size(), 3u);
  EXPECT_EQ(aligned[0].SAMPLE_ID, 0u);
  EXPECT_EQ(aligned[1].SAMPLE_ID, 1u);
  EXPECT_EQ(aligned[2].SAMPLE_ID, 9u);

  List none = {old};
  Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb, 42, none);
  Query_ChromatographPeak_FromAlignDataBase(dir_.path(), kDb, 0, 3, 2, none);
  EXPECT_EQ(none.size(), 1u);
}

// The rows of a "select *" as SQLite plans it alone, read as the queries read
// them.
List UnsteeredQuery(const std::string& path, const char* sql) {
  List list;
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement query = db.compileStatement(sql);
  Peak_Row_Decoder decoder(query, Peak_Row_Decoder::Null_Reals::kNaN);
  while (query.step()) {
    Align peak;
    decoder.Read(peak);
    list.push_back(std::move(peak));
  }
  return list;
}

void Exec(const std::string& path, const char* sql) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
  db.execDML(sql);
}

std::vector<std::string> Keys(const List& list) {
  std::vector<std::string> keys;
  for (const Align& p : list) {
    keys.push_back(std::to_string(p.SAMPLE_ID) + "/" + std::to_string(p.EIC_ID) + "/" +
                   std::to_string(p.Peak_ID) + "/" + std::to_string(p.Align_ID) + "/" +
                   std::to_string(p.Apex_Pos) + "/" + std::to_string(p.Peak_shape.size()));
  }
  return keys;
}

TEST_F(AlignedIoTest, SampleQueriesReturnWhatSqlitesOwnPlanReturns) {
  // 200 peaks a sample, 4 a sample on each EIC_ID, each (sample, EIC_ID,
  // Peak_ID) twice: SQLite alone walks a whole sample through the SAMPLE_ID
  // index, the queries go through EIC_ID, Group_ID or Compound_ID.
  List list;
  for (std::uint32_t s = 0; s < 3; ++s)
    for (std::uint32_t i = 0; i < 200; ++i) {
      Align p = MakePeak(s, i % 7, i % 50, i % 2, 1 + i % 3);
      p.Apex_Pos = i;
      list.push_back(p);
    }
  WriteDb(list);
  // Copies of early rows at the end, and cells of other types.
  const std::string path = File(kDb);
  Exec(path,
       "insert into Align_Peaklist select * from Align_Peaklist where rowid % 97 = 3;"
       "update Align_Peaklist set EIC_ID = 'x7' where rowid = 8;"
       "update Align_Peaklist set SAMPLE_ID = NULL where rowid = 9;"
       "update Align_Peaklist set Group_ID = 2.5 where rowid = 10;");
  const std::string plain_plan = [&] {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
    CppSQLite3Statement q = db.compileStatement(
        "EXPLAIN QUERY PLAN select * from Align_Peaklist where SAMPLE_ID = '1' and EIC_ID='7' "
        "and Peak_ID ='1';");
    return q.step() ? std::string(q.fieldText(3)) : std::string();
  }();
  ASSERT_NE(plain_plan.find("SAMPLE_ID_index"), std::string::npos) << plain_plan;

  const struct {
    const char* name;
    const char* change;
  } variants[] = {
      {"as written", ""},
      {"odd index names",
       "DROP INDEX Align_Peaklist_EIC_ID_index; DROP INDEX Align_Peaklist_Group_ID_index;"
       "CREATE INDEX \"e\"\"ic\" ON Align_Peaklist(EIC_ID);"
       "CREATE INDEX [g i] ON Align_Peaklist(group_id);"},
      {"a composite and a partial index",
       "DROP INDEX \"e\"\"ic\"; CREATE INDEX ep ON Align_Peaklist(EIC_ID, Apex_Pos DESC);"
       "CREATE INDEX c ON Align_Peaklist(Compound_ID) WHERE Compound_ID > 101;"},
      {"no indexes",
       "DROP INDEX Align_Peaklist_SAMPLE_ID_index; DROP INDEX Align_Peaklist_Peak_ID_index;"
       "DROP INDEX Align_Peaklist_Align_ID_index; DROP INDEX Align_Peaklist_Compound_ID_index;"
       "DROP INDEX [g i]; DROP INDEX ep; DROP INDEX c;"},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant.name);
    Exec(path, variant.change);
    const std::string bytes = ReadFile(path);
    for (const auto& [sample, eic, peak, group, compound] :
         std::vector<std::array<int, 5>>{{1, 7, 1, 1, 101},
                                         {0, 0, 0, 2, 106},
                                         {2, 49, 1, 0, 102},
                                         {0, 7, 1, 2, 104},
                                         {5, 7, 1, 1, 101},
                                         {1, 8, 0, 9, 999}}) {
      CppSQLite3Buffer sql;
      List got;
      Query_ChromatographPeak_FromAlignDataBase(dir_.path(), kDb, sample, eic, peak, got);
      EXPECT_EQ(Keys(got),
                Keys(UnsteeredQuery(path, sql.format("select * from Align_Peaklist where "
                                                     "SAMPLE_ID = '%d' and EIC_ID='%d' and "
                                                     "Peak_ID ='%d';",
                                                     sample, eic, peak))));
      got.clear();
      Query_GroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb, sample, group, got);
      EXPECT_EQ(Keys(got), Keys(UnsteeredQuery(
                               path, sql.format("select * from Align_Peaklist where SAMPLE_ID = "
                                                "'%d' and Group_ID='%d';",
                                                sample, group))));
      got.clear();
      Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), kDb, sample,
                                                                    compound, got);
      EXPECT_EQ(Keys(got), Keys(UnsteeredQuery(
                               path, sql.format("select * from Align_Peaklist where SAMPLE_ID = "
                                                "'%d' and Compound_ID='%d';",
                                                sample, compound))));
    }
    EXPECT_EQ(ReadFile(path), bytes) << "a query changed the file";
  }
}

TEST_F(AlignedIoTest, QueriesOnMissingFilesAndTables) {
  List list;
  try {
    Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(),
                                                                         "none.aligndb", 1, list);
    ADD_FAILURE();
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.errorCode(), SQLITE_CANTOPEN);
    EXPECT_NE(std::string(e.errorMessage()).find(File("none.aligndb")), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(File("none.aligndb")));
  CppSQLite3DB db;
  db.open(File("other.aligndb").c_str());
  db.execDML("create table Other(a);");
  db.close();
  Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(dir_.path(), "other.aligndb",
                                                                       1, list);
  EXPECT_TRUE(list.empty());
}

TEST_F(AlignedIoTest, NonFiniteDoublesAreStoredAndReadBack) {
  Align p = MakePeak(0, 1, 1, 1, 1);
  p.Apex_MZ = std::numeric_limits<double>::quiet_NaN();
  p.Peak_Area = std::numeric_limits<double>::infinity();
  p.Align_RT = -std::numeric_limits<double>::infinity();
  p.Peak_shape[0].RT = std::numeric_limits<double>::quiet_NaN();
  WriteDb({p});
  CppSQLite3DB db;
  db.open(File(kDb).c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Query q =
      db.execQuery("select typeof(Apex_MZ), typeof(Peak_Area), Align_RT < 0 from Align_Peaklist");
  EXPECT_STREQ(q.fieldValue(0), "null");
  EXPECT_STREQ(q.fieldValue(1), "real");
  EXPECT_STREQ(q.fieldValue(2), "1");
  q.finalize();
  const List back = ByAlign(1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_TRUE(std::isnan(back[0].Apex_MZ));
  EXPECT_EQ(back[0].Peak_Area, std::numeric_limits<double>::infinity());
  EXPECT_EQ(back[0].Align_RT, -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(back[0].Peak_shape[0].RT));
}

TEST_F(AlignedIoTest, BadStoredValuesNameFileColumnAndRow) {
  WriteDb({MakePeak(0, 1, 5, 6), MakePeak(0, 2, 7, 8)});
  CppSQLite3DB db;
  db.open(File(kDb).c_str());
  db.execDML("update Align_Peaklist set Group_ID = NULL where EIC_ID = 5;");
  db.execDML("update Align_Peaklist set SAMPLE_ID = 'abc', Peak_shape = '' where EIC_ID = 7;");
  db.close();
  List list;
  try {
    ByAlign(1, list);
    ADD_FAILURE();
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(std::string(e.errorMessage()),
              "CPPSQLITE_ERROR[1000]: " + File(kDb) +
                  ": column Group_ID, EIC_ID 5 Peak_ID 6: NULL value");
  }
  try {
    ByAlign(2, list);
    ADD_FAILURE();
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.errorDetail(), File(kDb) +
                                   ": column Peak_shape, EIC_ID 7 Peak_ID 8: Empty "
                                   "Peak_shape text");
  }
}

TEST_F(AlignedIoTest, MissingColumnRaisesOnlyWhenARowMatches) {
  CppSQLite3DB db;
  db.open(File(kDb).c_str());
  db.execDML("create table Align_Peaklist(Align_ID int, EIC_ID int);");
  db.execDML("insert into Align_Peaklist values(1, 2);");
  db.close();
  EXPECT_TRUE(ByAlign(5).empty());
  try {
    ByAlign(1);
    ADD_FAILURE();
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(e.errorDetail(), File(kDb) + ": column Peak_shape: Invalid field name requested");
  }
}

TEST_F(AlignedIoTest, EmptyListGivesEmptyTableAndHeaderOnly) {
  WriteDb({});
  WriteCsv({});
  EXPECT_TRUE(DumpRows(File(kDb)).empty());
  EXPECT_EQ(DumpSchema(File(kDb)).size(), 7u);
  const std::string csv = ReadFile(File(kCsv));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1);
  EXPECT_EQ(csv.rfind("EIC_ID,", 0), 0u);
}

TEST_F(AlignedIoTest, RewritingReplacesTheOldResult) {
  WriteDb({MakePeak(0, 1, 1, 1), MakePeak(0, 2, 2, 2)});
  WriteDb({MakePeak(0, 1, 1, 1)});
  EXPECT_EQ(DumpRows(File(kDb)).size(), 1u);
  EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{kDb});
  struct stat st;
  ASSERT_EQ(stat(File(kDb).c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0044, 0u);  // not left private like a temporary file
}

TEST_F(AlignedIoTest, InterruptedWritesKeepTheOldResult) {
  const List old = {MakePeak(0, 1, 1, 1)};
  WriteDb(old);
  WriteCsv(old);
  const std::vector<std::string> old_rows = DumpRows(File(kDb));
  const std::string old_csv = ReadFile(File(kCsv));
  List bigger;
  for (int i = 0; i < 12000; ++i) bigger.push_back(MakePeak(1, i, i, i, 1));
  std::vector<std::size_t> seen;
  auto interrupt = [&](std::size_t rows) {
    seen.push_back(rows);
    if (rows == bigger.size()) throw std::runtime_error("stop");
  };
  EXPECT_THROW(WriteDb(bigger, interrupt), std::runtime_error);
  EXPECT_EQ(seen, (std::vector<std::size_t>{10000, 12000}));
  EXPECT_THROW(WriteCsv(bigger, interrupt), std::runtime_error);
  EXPECT_EQ(DumpRows(File(kDb)), old_rows);
  EXPECT_EQ(ReadFile(File(kCsv)), old_csv);
  EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{kDb, kCsv}));
}

// Tables written through the hook land in the same file; a failing hook
// leaves the old file as it was.
TEST_F(AlignedIoTest, ExtraTablesAreWrittenBeforeTheCommit) {
  const List list = {MakePeak(0, 1, 1, 1)};
  auto run_record = [](CppSQLite3DB& db) {
    db.execDML("create table Run_Record(key text, value text);");
    db.execDML("insert into Run_Record values('tolerance', '0.01');");
  };
  OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, dir_.path(), kDb, {},
                                                              run_record);
  const std::string written = ReadFile(File(kDb));
  {
    CppSQLite3DB db;
    db.open(File(kDb).c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_EQ(db.execScalar("select count(*) from Run_Record where value = '0.01';"), 1);
  }
  EXPECT_EQ(DumpRows(File(kDb)).size(), 1u);
  auto failing = [](CppSQLite3DB& db) {
    db.execDML("create table Half(x);");
    throw std::runtime_error("no room for the record");
  };
  EXPECT_THROW(OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
                   {MakePeak(0, 1, 1, 1), MakePeak(0, 2, 2, 2)}, dir_.path(), kDb, {}, failing),
               std::runtime_error);
  EXPECT_EQ(ReadFile(File(kDb)), written);
  EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{kDb});
}

TEST_F(AlignedIoTest, UnwritableResultsAreErrorsNamingTheFile) {
  fs::create_directory(File(kDb));  // a folder where the result should go
  fs::create_directory(File(kCsv));
  for (auto write : {&AlignedIoTest::WriteDb, &AlignedIoTest::WriteCsv}) {
    try {
      (this->*write)({MakePeak(0, 1, 1, 1)}, {});
      ADD_FAILURE();
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorCode(), 1000);
      EXPECT_NE(std::string(e.errorMessage()).find("cannot replace the result file"),
                std::string::npos)
          << e.errorMessage();
    }
  }
  EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{kDb, kCsv}));

  const std::string missing = File("no-such-folder");
  try {
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile({}, missing, kCsv);
    ADD_FAILURE();
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(std::string(e.errorMessage()),
              "CPPSQLITE_ERROR[1000]: " + Join_Path(missing, kCsv) +
                  ": cannot create a temporary file: No such file or directory");
  }
  EXPECT_THROW(OutputAlignedAnnotatedGroupedChromatographPeaklist2database({}, missing, kDb),
               CppSQLite3Exception);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(AlignedIoTest, CsvGolden) {
  Align a = MakePeak(0, 1, 4294967295u, 2, 2);
  a.Apex_MZ = 301.1234567;
  a.Apex_Retention_Time = 1e-5;
  a.Apex_Intensity = 1234567.0;
  a.Peak_Area = 0.0;
  a.Peak_SNR = -0.0;
  a.Adduct_Annotation = "[M+H]+, [M+Na]+";
  a.SAMPLE_NAME = "say \"hi\"";
  a.Compound_MolecularMass = 524.26541;
  a.Compound_Retention_Time = 100.0;
  a.Compound_Intensity = std::numeric_limits<double>::quiet_NaN();
  a.Align_RT = 2.5;
  Align b = MakePeak(3, 0, 7, 8, 0);
  b.Adduct_Annotation = "line\nbreak";
  WriteCsv({a, b});
  const std::string expected =
      "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,"
      "Left_Boundary,Right_boundary,Group_ID,Adduct_Annotation,Compound_ID,"
      "Compound_MolecularMass,Compound_Retention_Time,Compound_Intensity,SAMPLE_ID,SAMPLE_NAME,"
      "Align_ID,Align_RT\n"
      "4294967295,2,301.123,42,1e-05,1.23457e+06,0,-0,30,57,0,\"[M+H]+, [M+Na]+\",101,524.265,"
      "100,nan,0,\"say \"\"hi\"\"\",1,2.5\n"
      "7,8,308.123,48,748.25,20250.5,1.50001e+06,12.75,30,57,1,\"line\nbreak\",100,300.116,"
      "745.5,499993,3,S3,0,745.4\n";
  EXPECT_EQ(ReadFile(File(kCsv)), expected);
  // Each double as an output stream writes it by default.
  for (double v : {a.Apex_MZ, a.Apex_Retention_Time, a.Apex_Intensity, a.Peak_SNR,
                   a.Compound_MolecularMass, b.Peak_Area, a.Compound_Intensity}) {
    std::ostringstream s;
    s << v;
    EXPECT_NE(expected.find("," + s.str() + ","), std::string::npos) << s.str();
  }
}

// A CSV file of several 4 MiB chunks, lines across the chunks' edges and a
// partial last chunk: the same bytes past the page cache as through it, and
// each line where a line-by-line CSV puts it.
TEST_F(AlignedIoTest, CsvOfSeveralChunksIsTheSameDirectAndBuffered) {
  List list;
  std::string expected_lines;
  for (std::uint32_t i = 0; i < 4000; ++i) {
    Align p = MakePeak(i % 7, i + 1, i, i, 0);
    p.Adduct_Annotation = std::string(1000 + (i * 37) % 2000, static_cast<char>('a' + i % 26));
    list.push_back(p);
  }
  WriteCsv(list);
  const std::string direct = ReadFile(File(kCsv));
  setenv("VARNEL_BUFFERED_CSV", "1", 1);
  WriteCsv(list);
  unsetenv("VARNEL_BUFFERED_CSV");
  const std::string buffered = ReadFile(File(kCsv));
  ASSERT_GT(direct.size(), std::size_t{2} << 22);  // two whole chunks and a part
  EXPECT_NE(direct.size() % (std::size_t{4} << 20), 0u);
  EXPECT_TRUE(direct == buffered);
  EXPECT_EQ(std::count(direct.begin(), direct.end(), '\n'), 4001);
  // Line k + 1 carries row k's annotation.
  std::istringstream lines(direct);
  std::string line;
  std::getline(lines, line);
  for (const Align& p : list) {
    ASSERT_TRUE(std::getline(lines, line));
    ASSERT_NE(line.find("," + p.Adduct_Annotation + ","), std::string::npos) << p.EIC_ID;
  }
  EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{kCsv});
}

}  // namespace
