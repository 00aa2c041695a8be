#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "export/export_result.h"
#include "run/file_hash.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

namespace fs = std::filesystem;
using Peak = Chromatogram_Peak_Group_Compound;
using Align = Chromatogram_Peak_Group_Compound_Align;

struct Sizes {
  int result_peaks = 1000000;
  int samples = 50;
  int input_files = 50;
  int input_peaks = 32000;  // about 50 MB per file with 40-point shapes
};
Sizes g_sizes;
int g_repetitions = 3;
std::map<std::string, std::vector<double>> g_seconds;  // wall time of each run

std::string Cache(const std::string& what) { return "/tmp/varnel-bench-export-" + what; }

double Decimal6(std::mt19937_64& rng, double low, double high) {
  std::uniform_real_distribution<double> d(low, high);
  return static_cast<double>(static_cast<long long>(d(rng) * 1e6)) / 1e6;
}

// A peak of about 40 points, with the fields the exports read filled.
Peak Make_Peak(std::mt19937_64& rng, std::uint32_t eic) {
  static const char* kAdducts[] = {"[M+H]+", "[M+Na]+", "[M+NH4]+", "[M+K]+"};
  Peak p;
  const int points = 36 + static_cast<int>(rng() % 9);
  const std::uint32_t left = static_cast<std::uint32_t>(rng() % 3000);
  const double mz = Decimal6(rng, 100.0, 1000.0);
  for (int i = 0; i < points; ++i) {
    p.Peak_shape.push_back({left + static_cast<std::uint32_t>(i), (left + i) * 0.512345,
                            mz + Decimal6(rng, -0.001, 0.001), Decimal6(rng, 1e3, 1e7)});
  }
  p.EIC_ID = eic;
  p.Peak_ID = eic;
  p.Apex_MZ = mz;
  p.Apex_Pos = left + static_cast<std::uint32_t>(points / 2);
  p.Apex_Retention_Time = p.Peak_shape[static_cast<std::size_t>(points / 2)].RT;
  p.Apex_Intensity = Decimal6(rng, 1e4, 1e7);
  p.Peak_Area = Decimal6(rng, 1e5, 1e9);
  p.Peak_SNR = Decimal6(rng, 3, 300);
  p.Left_Boundary = left;
  p.Right_Boundary = left + static_cast<std::uint32_t>(points) - 1;
  p.Group_ID = eic / 4;
  p.Adduct_Annotation = kAdducts[rng() % 4];
  p.Compound_ID = eic / 4 + 1;
  p.Compound_MolecularMass = mz - 1.007276;
  p.Compound_Retention_Time = p.Apex_Retention_Time;
  p.Compound_Intensity = p.Apex_Intensity * 2.5;
  return p;
}

// The aligned result: groups of 4 peaks in each of the samples (one compound
// of 4 adducts), written once with the result writer.
const std::string& Result() {
  static const std::string path = [] {
    const std::string dir = Cache("result-" + std::to_string(g_sizes.result_peaks));
    const std::string name = "result.aligndb";
    if (!fs::exists(Join_Path(dir, name))) {
      fs::create_directories(dir);
      std::mt19937_64 rng(7);
      std::vector<Align> rows;
      rows.reserve(static_cast<std::size_t>(g_sizes.result_peaks));
      const int per_group = 4 * g_sizes.samples;
      for (int i = 0; i < g_sizes.result_peaks; ++i) {
        const int sample = (i / 4) % g_sizes.samples;
        Align a(Make_Peak(rng, static_cast<std::uint32_t>(i)), static_cast<std::uint32_t>(sample),
                "sample_" + std::to_string(sample));
        a.Align_ID = static_cast<std::uint32_t>(i / per_group + 1);
        a.Align_RT = 60.0 + a.Align_ID * 0.01;
        rows.push_back(std::move(a));
      }
      OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows, dir, name);
    }
    return Join_Path(dir, name);
  }();
  return path;
}

void Write_Annotated(const std::string& path, std::uint64_t seed) {
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
  for (int i = 0; i < g_sizes.input_peaks; ++i) {
    const Peak p = Make_Peak(rng, static_cast<std::uint32_t>(i));
    text.clear();
    Format_Peak_Shape_Text(p.Peak_shape, text);
    Encode_Peak_Shape(text, stored);
    insert.bind(1, stored.c_str(), static_cast<int>(stored.size()));
    int column = 2;
    for (std::uint32_t v : {p.EIC_ID, p.Peak_ID}) insert.bind(column++, static_cast<int>(v));
    insert.bind(column++, p.Apex_MZ);
    insert.bind(column++, static_cast<int>(p.Apex_Pos));
    for (double v : {p.Apex_Retention_Time, p.Apex_Intensity, p.Peak_Area, p.Peak_SNR}) {
      insert.bind(column++, v);
    }
    for (std::uint32_t v : {p.Left_Boundary, p.Right_Boundary, p.Group_ID}) {
      insert.bind(column++, static_cast<int>(v));
    }
    insert.bind(column++, p.Adduct_Annotation.c_str());
    insert.bind(column++, static_cast<int>(p.Compound_ID));
    for (double v : {p.Compound_MolecularMass, p.Compound_Retention_Time, p.Compound_Intensity}) {
      insert.bind(column++, v);
    }
    insert.execDML();
  }
  insert.finalize();
  db.execDML("commit;");
}

std::string Input_Name(int i) {
  char name[80];
  std::snprintf(name, sizeof name, "sample_%02d_annotated_grouped_chromatograph_peaklist.db", i);
  return name;
}

const std::string& Inputs() {
  static const std::string dir = [] {
    const std::string folder = Cache("inputs-" + std::to_string(g_sizes.input_files) + "x" +
                                     std::to_string(g_sizes.input_peaks));
    const std::string marker = Join_Path(folder, "complete");
    if (!fs::exists(marker)) {
      fs::create_directories(folder);
      for (int i = 0; i < g_sizes.input_files; ++i) {
        const std::string path = Join_Path(folder, Input_Name(i));
        fs::remove(path);
        Write_Annotated(path, 100 + static_cast<std::uint64_t>(i));
      }
      std::ofstream(marker) << "ok\n";
    }
    return folder;
  }();
  return dir;
}

template <typename Body>
void Timed(benchmark::State& state, const std::string& name, Body body) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    body();
    g_seconds[name].push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

void Export(benchmark::State& state, Export_Format format, const char* name) {
  const std::string& result = Result();
  const std::string out = Join_Path(Cache("out"), name);
  fs::create_directories(Cache("out"));
  Export_Options options;
  options.format = format;
  if (format == Export_Format::kMetaboAnalyst) {
    const std::string sheet = Join_Path(Cache("out"), "sheet.csv");
    std::ofstream s(sheet);
    for (int i = 0; i < g_sizes.samples; ++i)
      s << "sample_" << i << "," << (i % 2 ? "B" : "A") << "\n";
    s.close();
    options.groups = Read_Sample_Sheet(sheet);
  }
  Timed(state, name, [&] { Export_Result(result, options, out); });
  state.counters["bytes"] = static_cast<double>(fs::file_size(out));
}

void BM_ExportTable(benchmark::State& s) { Export(s, Export_Format::kFeatureTable, "table"); }
void BM_ExportMetaboAnalyst(benchmark::State& s) {
  Export(s, Export_Format::kMetaboAnalyst, "metaboanalyst");
}
void BM_ExportMzTab(benchmark::State& s) { Export(s, Export_Format::kMzTab, "mztab"); }

// What the run does with its inputs: read every annotated database.
void BM_ReadInputs(benchmark::State& state) {
  const std::string& dir = Inputs();
  Timed(state, "read", [&] {
    for (int i = 0; i < g_sizes.input_files; ++i) {
      std::vector<Peak> peaks;
      Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir, Input_Name(i),
                                                                           peaks);
      benchmark::DoNotOptimize(peaks.data());
    }
  });
}

// What recording the run adds: size and XXH3-128 of every input.
void BM_HashInputs(benchmark::State& state) {
  const std::string& dir = Inputs();
  std::uint64_t bytes = 0;
  Timed(state, "hash", [&] {
    bytes = 0;
    for (int i = 0; i < g_sizes.input_files; ++i)
      bytes += Digest_File(Join_Path(dir, Input_Name(i))).size;
  });
  state.counters["bytes"] = static_cast<double>(bytes);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--small") == 0) {
      g_sizes = {50000, 50, 5, 3200};
    } else if (std::strncmp(argv[i], "--reps=", 7) == 0) {
      g_repetitions = std::max(1, std::atoi(argv[i] + 7));
    } else {
      args.push_back(argv[i]);
    }
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  for (auto [name, fn] : std::initializer_list<std::pair<const char*, void (*)(benchmark::State&)>>{
           {"ExportTable", BM_ExportTable},
           {"ExportMetaboAnalyst", BM_ExportMetaboAnalyst},
           {"ExportMzTab", BM_ExportMzTab},
           {"ReadInputs", BM_ReadInputs},
           {"HashInputs", BM_HashInputs}}) {
    benchmark::RegisterBenchmark(name, fn)
        ->Iterations(1)
        ->Repetitions(g_repetitions)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [name, runs] : g_seconds) {
    std::printf("median %-14s %.3f s (%zu runs)\n", name.c_str(), Median(runs), runs.size());
  }
  if (g_seconds.count("hash") && g_seconds.count("read")) {
    std::printf("hashing adds %.1f %% to reading the inputs\n",
                100.0 * Median(g_seconds["hash"]) / Median(g_seconds["read"]));
  }
  return 0;
}
