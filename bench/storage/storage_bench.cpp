#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/btree_writer.h"
#include "storage/sqlite/cppsqlite3.h"
#include "storage/stored_shape.h"
#include "ui/grid/aligned_table.h"

namespace {

namespace fs = std::filesystem;
using Peak = Chromatogram_Peak_Group_Compound;
using Align = Chromatogram_Peak_Group_Compound_Align;

struct Sizes {
  int files = 50;
  int peaks_per_file = 20000;
  int aligned_rows = 1000000;
};
Sizes g_sizes;
int g_repetitions = 3;  // runs of each file benchmark; figures are their medians
// Wall and process CPU time (user and system) of a timed part.
struct Stopwatch {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
};

struct Samples {
  std::vector<double> wall, cpu;  // seconds, one per run
};
std::map<std::string, Samples> g_samples;

void Record(const std::string& name, const Stopwatch& start) {
  Samples& samples = g_samples[name];
  samples.wall.push_back(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count());
  samples.cpu.push_back(static_cast<double>(std::clock() - start.cpu) / CLOCKS_PER_SEC);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string CacheFolder() {
  return "/tmp/varnel-bench-storage-" + std::to_string(g_sizes.files) + "x" +
         std::to_string(g_sizes.peaks_per_file);
}

std::string FileName(int i) {
  char name[80];
  std::snprintf(name, sizeof name, "sample_%02d_annotated_grouped_chromatograph_peaklist.db", i);
  return name;
}

// A value with six decimals, as the stored shape form ("%f") writes them.
double Decimal6(std::mt19937_64& rng, double low, double high) {
  std::uniform_real_distribution<double> d(low, high);
  return static_cast<double>(static_cast<long long>(d(rng) * 1e6)) / 1e6;
}

// A peak of about 40 points.
Peak MakePeak(std::mt19937_64& rng, std::uint32_t eic, std::uint32_t peak_id) {
  Peak p;
  const int points = 36 + static_cast<int>(rng() % 9);
  const std::uint32_t left = static_cast<std::uint32_t>(rng() % 3000);
  const double mz = Decimal6(rng, 100.0, 1000.0);
  for (int i = 0; i < points; ++i) {
    Data_Point d;
    d.Scan = left + static_cast<std::uint32_t>(i);
    d.RT = static_cast<double>(d.Scan) * 0.512345;
    d.MZ = mz + Decimal6(rng, -0.001, 0.001);
    d.Intensity = Decimal6(rng, 1e3, 1e7);
    p.Peak_shape.push_back(d);
  }
  p.EIC_ID = eic;
  p.Peak_ID = peak_id;
  p.Apex_MZ = mz;
  p.Apex_Pos = left + points / 2;
  p.Apex_Retention_Time = p.Peak_shape[points / 2].RT;
  p.Apex_Intensity = Decimal6(rng, 1e4, 1e7);
  p.Peak_Area = Decimal6(rng, 1e5, 1e9);
  p.Peak_SNR = Decimal6(rng, 3, 300);
  p.Left_Boundary = left;
  p.Right_Boundary = left + static_cast<std::uint32_t>(points) - 1;
  p.Group_ID = eic / 4;
  p.Adduct_Annotation = rng() % 2 ? "[M+H]+" : "[M+Na]+";
  p.Compound_ID = eic / 2 + 1;
  p.Compound_MolecularMass = mz - 1.007276;
  p.Compound_Retention_Time = p.Apex_Retention_Time;
  p.Compound_Intensity = p.Apex_Intensity * 1.5;
  return p;
}

void WriteAnnotated(const std::string& path, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML(
      "create table Annotate_Peaklist(Peak_shape blob, EIC_ID int, Peak_ID int, Apex_MZ double, "
      "Apex_Pos int, Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, "
      "Peak_SNR double, Left_Boundary int, Right_Boundary int, Group_ID int, "
      "Adduct_Annotation char(80), Compound_ID int, Compound_MolecularMass double, "
      "Compound_Retention_Time double, Compound_Intensity double);");
  db.execDML("begin;");
  CppSQLite3Statement insert = db.compileStatement(
      "insert into Annotate_Peaklist values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  std::string text, stored;
  for (int i = 0; i < g_sizes.peaks_per_file; ++i) {
    const Peak p = MakePeak(rng, static_cast<std::uint32_t>(i / 2), static_cast<std::uint32_t>(i));
    text.clear();
    Format_Peak_Shape_Text(p.Peak_shape, text);
    Encode_Peak_Shape(text, stored);
    insert.bind(1, stored.c_str(), static_cast<int>(stored.size()));
    insert.bind(2, static_cast<int>(p.EIC_ID));
    insert.bind(3, static_cast<int>(p.Peak_ID));
    insert.bind(4, p.Apex_MZ);
    insert.bind(5, static_cast<int>(p.Apex_Pos));
    insert.bind(6, p.Apex_Retention_Time);
    insert.bind(7, p.Apex_Intensity);
    insert.bind(8, p.Peak_Area);
    insert.bind(9, p.Peak_SNR);
    insert.bind(10, static_cast<int>(p.Left_Boundary));
    insert.bind(11, static_cast<int>(p.Right_Boundary));
    insert.bind(12, static_cast<int>(p.Group_ID));
    insert.bind(13, p.Adduct_Annotation.c_str());
    insert.bind(14, static_cast<int>(p.Compound_ID));
    insert.bind(15, p.Compound_MolecularMass);
    insert.bind(16, p.Compound_Retention_Time);
    insert.bind(17, p.Compound_Intensity);
    insert.execDML();
  }
  insert.finalize();
  db.execDML("commit;");
}

// The annotated inputs, generated once and kept in /tmp.
const std::string& AnnotatedFolder() {
  static const std::string folder = [] {
    const std::string dir = CacheFolder();
    const std::string marker = Join_Path(dir, "complete");
    if (!fs::exists(marker)) {
      fs::create_directories(dir);
      for (int i = 0; i < g_sizes.files; ++i) {
        const std::string path = Join_Path(dir, FileName(i));
        fs::remove(path);
        WriteAnnotated(path, 1000 + static_cast<std::uint64_t>(i));
      }
      std::ofstream(marker) << "ok\n";
    }
    return dir;
  }();
  return folder;
}

// The aligned list: shapes drawn from a pool so that the raw insert can bind
// ready-made stored shapes, while the writer still formats every row.
struct AlignedData {
  std::vector<Align> rows;
  std::vector<std::string> stored_shapes;  // stored form of pool shape k
  std::vector<int> shape_of_row;
};

const AlignedData& Aligned() {
  static const AlignedData data = [] {
    AlignedData d;
    std::mt19937_64 rng(77);
    constexpr int kPool = 1000;
    std::vector<Peak> pool;
    for (int k = 0; k < kPool; ++k) {
      pool.push_back(MakePeak(rng, static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k)));
      std::string text;
      Format_Peak_Shape_Text(pool.back().Peak_shape, text);
      d.stored_shapes.push_back(Encode_Peak_Shape(text));
    }
    d.rows.reserve(static_cast<std::size_t>(g_sizes.aligned_rows));
    for (int i = 0; i < g_sizes.aligned_rows; ++i) {
      const int k = static_cast<int>(rng() % kPool);
      Peak p = pool[static_cast<std::size_t>(k)];
      p.EIC_ID = static_cast<std::uint32_t>(i);
      Align a(std::move(p), static_cast<std::uint32_t>(i % 50), "sample_" + std::to_string(i % 50));
      a.Align_ID = static_cast<std::uint32_t>(i / 40 + 1);
      a.Align_RT = Decimal6(rng, 60, 1500);
      d.rows.push_back(std::move(a));
      d.shape_of_row.push_back(k);
    }
    return d;
  }();
  return data;
}

std::string OutputFolder() {
  const std::string dir = CacheFolder() + "-out";
  fs::create_directories(dir);
  return dir;
}

long ReadStatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, n, field) == 0) return std::stol(line.substr(n + 1));
  }
  return -1;
}

void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// ---------------------------------------------------------------------------

// Reads every annotated file into one list, as an alignment run gathers them,
// timed as `name`; the list is released outside the timed part.
void ReadAllOnce(const char* name, std::size_t& peaks, std::size_t& points) {
  const std::string& dir = AnnotatedFolder();
  std::vector<Peak> list;
  const Stopwatch start;
  for (int i = 0; i < g_sizes.files; ++i) {
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir, FileName(i), list);
  }
  Record(name, start);
  peaks += list.size();
  for (const Peak& p : list) points += p.Peak_shape.size();
}

// Every value of every row of sql in every file, in its stored type (or,
// as_text, as the text SQLite gives for it, the form the reader is specified
// on), timed as `name`. Returns the rows.
std::size_t RawScanOnce(const char* sql, const char* name, bool as_text) {
  const std::string& dir = AnnotatedFolder();
  std::size_t rows = 0;
  const Stopwatch start;
  for (int i = 0; i < g_sizes.files; ++i) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Join_Path(dir, FileName(i)).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const int columns = sqlite3_column_count(stmt);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        if (as_text) {
          benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
          benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, c));
          continue;
        }
        switch (sqlite3_column_type(stmt, c)) {
          case SQLITE_INTEGER:
            benchmark::DoNotOptimize(sqlite3_column_int64(stmt, c));
            break;
          case SQLITE_FLOAT:
            benchmark::DoNotOptimize(sqlite3_column_double(stmt, c));
            break;
          default:
            benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
            benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, c));
        }
      }
      ++rows;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
  Record(name, start);
  return rows;
}

constexpr const char* kScanAll = "select * from Annotate_Peaklist";

void BM_ReadAnnotated(benchmark::State& state) {
  std::size_t peaks = 0;
  std::size_t points = 0;
  for (auto _ : state) ReadAllOnce("read", peaks, points);
  state.counters["peaks"] = static_cast<double>(peaks) / static_cast<double>(state.iterations());
  state.counters["points_per_peak"] = static_cast<double>(points) / static_cast<double>(peaks);
}

void RawScan(benchmark::State& state, const char* sql, const char* name, bool as_text = false) {
  std::size_t rows = 0;
  for (auto _ : state) rows += RawScanOnce(sql, name, as_text);
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}

// The reader and the typed raw scan one after the other in each run, so that
// both meet the same load on a shared machine; the summary gives the median
// of the runs' ratios.
void BM_ReadThenRawScan(benchmark::State& state) {
  std::size_t peaks = 0;
  std::size_t points = 0;
  for (auto _ : state) {
    ReadAllOnce("read_paired", peaks, points);
    RawScanOnce(kScanAll, "raw_scan_paired", false);
  }
}

void BM_RawScanAnnotated(benchmark::State& state) { RawScan(state, kScanAll, "raw_scan"); }
void BM_RawScanAnnotatedText(benchmark::State& state) {
  RawScan(state, kScanAll, "raw_scan_text", true);
}
void BM_RawScanAnnotatedOrdered(benchmark::State& state) {
  RawScan(state, "select * from Annotate_Peaklist Order by EIC_ID", "raw_scan_ordered");
}

void BM_WriteAlignedDatabase(benchmark::State& state) {
  const AlignedData& data = Aligned();
  const std::string dir = OutputFolder();
  long extra_kb = 0;
  for (auto _ : state) {
    const long rss_before = ReadStatusKb("VmRSS:");
    ResetPeakRss();
    const Stopwatch start;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(data.rows, dir, "writer.aligndb");
    Record("write_db", start);
    extra_kb = std::max(extra_kb, ReadStatusKb("VmHWM:") - rss_before);
  }
  state.counters["rows"] = static_cast<double>(data.rows.size());
  state.counters["peak_extra_MB"] = static_cast<double>(extra_kb) / 1024.0;
}

void BM_WriteAlignedCsv(benchmark::State& state) {
  const AlignedData& data = Aligned();
  const std::string dir = OutputFolder();
  long extra_kb = 0;
  for (auto _ : state) {
    const long rss_before = ReadStatusKb("VmRSS:");
    ResetPeakRss();
    const Stopwatch start;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(data.rows, dir, "writer.csv");
    Record("write_csv", start);
    extra_kb = std::max(extra_kb, ReadStatusKb("VmHWM:") - rss_before);
  }
  state.counters["peak_extra_MB"] = static_cast<double>(extra_kb) / 1024.0;
}

// A bare prepared-statement insert of the same rows (doubles bound as they
// are, shapes ready-made) and the same indexes, in one transaction.
void BM_RawInsertAligned(benchmark::State& state) {
  const AlignedData& data = Aligned();
  const std::string path = Join_Path(OutputFolder(), "raw.aligndb");
  for (auto _ : state) {
    const Stopwatch start;
    fs::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "begin;", nullptr, nullptr, nullptr);  // SQLite's default settings
    sqlite3_exec(db,
                 "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos "
                 "int, Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, "
                 "Peak_SNR double, Left_Boundary int, Right_Boundary int, Group_ID int, "
                 "Adduct_Annotation char(80), Compound_ID int, Compound_MolecularMass double, "
                 "Compound_Retention_Time double, Compound_Intensity double, SAMPLE_ID int, "
                 "SAMPLE_NAME char(256), Align_ID int, Align_RT double, Peak_shape blob);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(
        db, "insert into Align_Peaklist values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
        &stmt, nullptr);
    for (std::size_t r = 0; r < data.rows.size(); ++r) {
      const Align& p = data.rows[r];
      const std::string& shape = data.stored_shapes[static_cast<std::size_t>(data.shape_of_row[r])];
      sqlite3_bind_int(stmt, 1, static_cast<int>(p.EIC_ID));
      sqlite3_bind_int(stmt, 2, static_cast<int>(p.Peak_ID));
      sqlite3_bind_double(stmt, 3, p.Apex_MZ);
      sqlite3_bind_int(stmt, 4, static_cast<int>(p.Apex_Pos));
      sqlite3_bind_double(stmt, 5, p.Apex_Retention_Time);
      sqlite3_bind_double(stmt, 6, p.Apex_Intensity);
      sqlite3_bind_double(stmt, 7, p.Peak_Area);
      sqlite3_bind_double(stmt, 8, p.Peak_SNR);
      sqlite3_bind_int(stmt, 9, static_cast<int>(p.Left_Boundary));
      sqlite3_bind_int(stmt, 10, static_cast<int>(p.Right_Boundary));
      sqlite3_bind_int(stmt, 11, static_cast<int>(p.Group_ID));
      sqlite3_bind_text(stmt, 12, p.Adduct_Annotation.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(stmt, 13, static_cast<int>(p.Compound_ID));
      sqlite3_bind_double(stmt, 14, p.Compound_MolecularMass);
      sqlite3_bind_double(stmt, 15, p.Compound_Retention_Time);
      sqlite3_bind_double(stmt, 16, p.Compound_Intensity);
      sqlite3_bind_int(stmt, 17, static_cast<int>(p.SAMPLE_ID));
      sqlite3_bind_text(stmt, 18, p.SAMPLE_NAME.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(stmt, 19, static_cast<int>(p.Align_ID));
      sqlite3_bind_double(stmt, 20, p.Align_RT);
      sqlite3_bind_text(stmt, 21, shape.data(), static_cast<int>(shape.size()), SQLITE_STATIC);
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    for (const char* column :
         {"EIC_ID", "Peak_ID", "Group_ID", "Compound_ID", "SAMPLE_ID", "Align_ID"}) {
      char* sql = sqlite3_mprintf(
          "CREATE INDEX if not exists Align_Peaklist_%s_index ON Align_Peaklist(%s);", column,
          column);
      sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
      sqlite3_free(sql);
    }
    sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Record("raw_insert", start);
  }
  state.counters["rows"] = static_cast<double>(data.rows.size());
}

// Loading the result grid (every row but the shapes) of the database the
// writer benchmark wrote; writes it first when run alone.
void BM_LoadAlignedGrid(benchmark::State& state) {
  const std::string dir = OutputFolder();
  if (!fs::exists(Join_Path(dir, "writer.aligndb"))) {
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(Aligned().rows, dir,
                                                                "writer.aligndb");
  }
  std::size_t rows = 0;
  for (auto _ : state) {
    const Stopwatch start;
    const Aligned_Table table = Aligned_Table::Load(dir, "writer.aligndb");
    Record("load_grid", start);
    rows = table.Row_Count();
  }
  state.counters["rows"] = static_cast<double>(rows);
}

// Decoding and parsing one stored shape of about 40 points.
void BM_DecodeShape(benchmark::State& state) {
  std::mt19937_64 rng(5);
  std::vector<std::string> stored;
  for (int i = 0; i < 64; ++i) {
    std::string text;
    Format_Peak_Shape_Text(MakePeak(rng, 1, 1).Peak_shape, text);
    stored.push_back(Encode_Peak_Shape(text));
  }
  std::size_t i = 0;
  std::vector<Data_Point> points;
  for (auto _ : state) {
    points.clear();
    Decode_Peak_Shape(stored[i++ % stored.size()], points);
    benchmark::DoNotOptimize(points.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 40);
}
BENCHMARK(BM_DecodeShape);

// Checking that one stored shape of about 40 points is already in the
// written form (what a run does for every peak it reads).
void BM_IsWrittenForm(benchmark::State& state) {
  std::mt19937_64 rng(5);
  std::vector<std::string> stored;
  for (int i = 0; i < 64; ++i) {
    std::string text;
    Format_Peak_Shape_Text(MakePeak(rng, 1, 1).Peak_shape, text);
    stored.push_back(Encode_Peak_Shape(text));
  }
  std::size_t i = 0, bytes = 0;
  for (auto _ : state) {
    const std::string& s = stored[i++ % stored.size()];
    bytes += s.size();
    benchmark::DoNotOptimize(Is_Written_Form(s));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_IsWrittenForm);

// Formatting and encoding one shape of about 40 points.
void BM_EncodeShape(benchmark::State& state) {
  std::mt19937_64 rng(5);
  std::vector<Peak> peaks;
  for (int i = 0; i < 64; ++i) peaks.push_back(MakePeak(rng, 1, 1));
  std::size_t i = 0;
  std::string text, stored;
  for (auto _ : state) {
    text.clear();
    Format_Peak_Shape_Text(peaks[i++ % peaks.size()].Peak_shape, text);
    Encode_Peak_Shape(text, stored);
    benchmark::DoNotOptimize(stored.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 40);
}
BENCHMARK(BM_EncodeShape);

// The six indexes of a result-sized table (aligned_rows rows of six integer
// columns and a 1.5 KB shape), built by CREATE INDEX over the filled table or
// written as pages from the kept values (storage/sqlite/btree_writer.h). Only the
// index building is timed; the table is written afresh for each run.
void IndexBench(benchmark::State& state, bool pages, const char* name) {
  const std::string path = Join_Path(OutputFolder(), "indexes.db");
  const char* const columns[6] = {"a", "b", "c", "d", "e", "f"};
  const std::string pad(1500, 'x');
  for (auto _ : state) {
    fs::remove(path);
    CppSQLite3DB db;
    db.open(path.c_str());
    db.execDML("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; begin;");
    db.execDML("create table T(a int, b int, c int, d int, e int, f int, s blob);");
    if (pages) {
      for (const char* c : columns) {
        db.execDML(("CREATE INDEX T_" + std::string(c) + "_index ON T(" + c + ");").c_str());
      }
      db.execDML("commit;");
      db.close();
    }
    std::mt19937 rng(3);
    std::vector<std::vector<std::uint64_t>> entries(6);
    std::unique_ptr<Btree_Writer> tree;
    if (pages) tree = std::make_unique<Btree_Writer>(path);
    CppSQLite3Statement insert;
    if (!pages) insert = db.compileStatement("insert into T values(?1,?2,?3,?4,?5,?6,?7);");
    Sqlite_Record record;
    for (int r = 0; r < g_sizes.aligned_rows; ++r) {
      const std::int32_t v[6] = {static_cast<std::int32_t>(rng() % 20000),
                                 static_cast<std::int32_t>(rng() % 2000),
                                 static_cast<std::int32_t>(rng() % 1000),
                                 static_cast<std::int32_t>(rng() % 20000),
                                 r % 50,
                                 r / 100};
      if (pages) {
        record.Clear();
        for (int k = 0; k < 6; ++k) {
          record.Add_Integer(v[k]);
          entries[k].push_back(Pack_Index_Entry(v[k], static_cast<std::uint32_t>(r + 1)));
        }
        record.Add_Text(pad);
        tree->Append_Row(2, record);
      } else {
        for (int k = 0; k < 6; ++k) insert.bind(k + 1, static_cast<int>(v[k]));
        insert.bindStatic(7, pad.data(), static_cast<int>(pad.size()));
        insert.execDML();
      }
    }
    const Stopwatch start;
    if (pages) {
      tree->Finish_Table();
      for (int k = 0; k < 6; ++k) {
        std::sort(entries[k].begin(), entries[k].end());
        tree->Write_Index(static_cast<std::uint32_t>(3 + k), entries[k]);
      }
      tree->Finish();
    } else {
      insert.finalize();
      for (const char* c : columns) {
        db.execDML(("CREATE INDEX T_" + std::string(c) + "_index ON T(" + c + ");").c_str());
      }
      db.execDML("commit;");
    }
    Record(name, start);
  }
  fs::remove(path);
}
void BM_IndexesPages(benchmark::State& state) { IndexBench(state, true, "index_pages"); }
void BM_IndexesCreateIndex(benchmark::State& state) { IndexBench(state, false, "index_create"); }

void Register() {
  const int reps = g_repetitions;
  for (auto [name, fn] : std::initializer_list<std::pair<const char*, void (*)(benchmark::State&)>>{
           {"ReadAnnotated", BM_ReadAnnotated},
           {"RawScanAnnotated", BM_RawScanAnnotated},
           {"RawScanAnnotatedText", BM_RawScanAnnotatedText},
           {"RawScanAnnotatedOrdered", BM_RawScanAnnotatedOrdered},
           {"ReadThenRawScan", BM_ReadThenRawScan},
           {"WriteAlignedDatabase", BM_WriteAlignedDatabase},
           {"RawInsertAligned", BM_RawInsertAligned},
           {"WriteAlignedCsv", BM_WriteAlignedCsv},
           {"LoadAlignedGrid", BM_LoadAlignedGrid},
           {"IndexesPages", BM_IndexesPages},
           {"IndexesCreateIndex", BM_IndexesCreateIndex}}) {
    benchmark::RegisterBenchmark(name, fn)
        ->Iterations(1)
        ->Repetitions(reps)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--small") == 0) {
      g_sizes = {5, 2000, 50000};
    } else if (std::strncmp(argv[i], "--reps=", 7) == 0) {
      g_repetitions = std::max(1, std::atoi(argv[i] + 7));
    } else {
      args.push_back(argv[i]);
    }
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Medians of the runs, wall and CPU; the best wall times beside them.
  auto ratio = [](const char* a, const char* b) {
    if (!g_samples.count(a) || !g_samples.count(b)) return;
    const Samples& x = g_samples[a];
    const Samples& y = g_samples[b];
    std::printf(
        "%-10s / %-16s = %.2f wall, %.2f CPU  (medians %.3f s / %.3f s wall, %.3f s / "
        "%.3f s CPU; best wall %.2f; %zu runs)\n",
        a, b, Median(x.wall) / Median(y.wall), Median(x.cpu) / Median(y.cpu), Median(x.wall),
        Median(y.wall), Median(x.cpu), Median(y.cpu),
        *std::min_element(x.wall.begin(), x.wall.end()) /
            *std::min_element(y.wall.begin(), y.wall.end()),
        x.wall.size());
  };
  std::printf("\nSizes: %d files x %d peaks; %d aligned rows\n", g_sizes.files,
              g_sizes.peaks_per_file, g_sizes.aligned_rows);
  ratio("read", "raw_scan");
  ratio("index_pages", "index_create");
  if (g_samples.count("read_paired") && g_samples.count("raw_scan_paired")) {
    const Samples& x = g_samples["read_paired"];
    const Samples& y = g_samples["raw_scan_paired"];
    std::vector<double> wall, cpu;
    for (std::size_t i = 0; i < x.wall.size() && i < y.wall.size(); ++i) {
      wall.push_back(x.wall[i] / y.wall[i]);
      cpu.push_back(x.cpu[i] / y.cpu[i]);
    }
    std::printf(
        "read / raw_scan, paired runs: median ratio %.2f wall, %.2f CPU (%zu pairs; "
        "medians %.3f s / %.3f s wall, %.3f s / %.3f s CPU)\n",
        Median(wall), Median(cpu), wall.size(), Median(x.wall), Median(y.wall), Median(x.cpu),
        Median(y.cpu));
  }
  ratio("read", "raw_scan_text");
  ratio("read", "raw_scan_ordered");
  ratio("write_db", "raw_insert");
  return 0;
}
