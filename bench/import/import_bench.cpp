// Import figures: one million features in each format (10 samples of 100,000)
// read, checked and written as annotated databases. Run a Release build:
//   bench_import            1M features per format
//   bench_import --small    100,000 features per format
// The inputs are generated once and cached under /tmp/varnel-bench-import-*;
// each run writes into a fresh folder beside them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/path.h"
#include "import/feature_import.h"

namespace {

constexpr int kSamples = 10;
std::size_t g_per_sample = 100000;

// A small deterministic generator: the inputs are the same on every run.
struct Lcg {
  std::uint64_t state = 88172645463325252ULL;
  double Next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1.0p-53;
  }
};

struct Feature {
  double mz, rt, height;
};

// Feature f of sample s: masses 100-1200, times 30-1500 s, a little scatter.
Feature Make(std::size_t f, int s, Lcg& random) {
  Lcg compound{f * 2654435761ULL + 1};
  const double mz = 100.0 + 1100.0 * compound.Next();
  const double rt = 30.0 + 1470.0 * compound.Next();
  return {mz + 1e-4 * (random.Next() - 0.5), rt + s * 0.1, 1e4 + 1e6 * compound.Next()};
}

std::string Folder() {
  return "/tmp/varnel-bench-import-" + std::to_string(kSamples * g_per_sample);
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Writes the inputs of every format unless cached; returns each format's inputs.
std::vector<std::string> Inputs(Import_Format format) {
  const std::string folder = Folder();
  std::filesystem::create_directories(folder);
  char line[512];
  std::vector<std::string> inputs;
  if (format == Import_Format::kFeatureXml) {
    for (int s = 0; s < kSamples; ++s) {
      std::snprintf(line, sizeof line, "s%d.featureXML", s);
      const std::string path = Join_Path(folder, line);
      inputs.push_back(path);
      if (std::filesystem::exists(path)) continue;
      Lcg random;
      std::string text = "<?xml version=\"1.0\"?>\n<featureMap version=\"1.9\">\n<featureList>\n";
      for (std::size_t f = 0; f < g_per_sample; ++f) {
        const Feature x = Make(f, s, random);
        std::snprintf(line, sizeof line,
                      "<feature id=\"f_%zu\">\n<position dim=\"0\">%.4f</position>\n"
                      "<position dim=\"1\">%.6f</position>\n<intensity>%.1f</intensity>\n"
                      "<charge>1</charge>\n<convexhull nr=\"0\">\n<pt x=\"%.4f\" y=\"%.6f\"/>\n"
                      "<pt x=\"%.4f\" y=\"%.6f\"/>\n</convexhull>\n"
                      "<UserParam type=\"string\" name=\"adduct\" value=\"[M+H]+\"/>\n</feature>\n",
                      f, x.rt, x.mz, x.height, x.rt - 4, x.mz, x.rt + 4, x.mz);
        text += line;
      }
      text += "</featureList>\n</featureMap>\n";
      Write(path, text);
    }
    return inputs;
  }
  const char* names[] = {"", "mzmine.csv", "xcms.csv", "table.tsv"};
  const std::string path = Join_Path(folder, names[static_cast<int>(format)]);
  inputs.push_back(path);
  if (std::filesystem::exists(path)) return inputs;
  std::string text;
  std::vector<Lcg> random(kSamples);
  if (format == Import_Format::kMzmine) {
    text = "id,rt,mz";
    for (int s = 0; s < kSamples; ++s) {
      for (const char* field : {"mz", "rt", "rt_range:min", "rt_range:max", "height", "area"}) {
        std::snprintf(line, sizeof line, ",datafile:s%d.mzML:%s", s, field);
        text += line;
      }
    }
    text += '\n';
    for (std::size_t f = 0; f < g_per_sample; ++f) {
      const Feature x = Make(f, 0, random[0]);
      std::snprintf(line, sizeof line, "%zu,%.4f,%.6f", f + 1, x.rt / 60, x.mz);
      text += line;
      for (int s = 0; s < kSamples; ++s) {
        const Feature y = Make(f, s, random[s]);
        std::snprintf(line, sizeof line, ",%.6f,%.4f,%.4f,%.4f,%.1f,%.1f", y.mz, y.rt / 60,
                      (y.rt - 4) / 60, (y.rt + 4) / 60, y.height, 6 * y.height);
        text += line;
      }
      text += '\n';
    }
  } else {
    const bool xcms = format == Import_Format::kXcms;
    text = xcms ? "\"\",\"mz\",\"rt\",\"rtmin\",\"rtmax\",\"into\",\"maxo\",\"sample\"\n"
                : "sample\tmz\trt\tintensity\tcharge\tadduct\n";
    for (int s = 0; s < kSamples; ++s) {
      for (std::size_t f = 0; f < g_per_sample; ++f) {
        const Feature x = Make(f, s, random[s]);
        if (xcms) {
          std::snprintf(line, sizeof line, "\"CP%zu\",%.6f,%.4f,%.4f,%.4f,%.1f,%.1f,%d\n",
                        s * g_per_sample + f, x.mz, x.rt, x.rt - 4, x.rt + 4, 6 * x.height,
                        x.height, s + 1);
        } else {
          std::snprintf(line, sizeof line, "S%d\t%.6f\t%.4f\t%.1f\t1\t[M+H]+\n", s, x.mz, x.rt,
                        x.height);
        }
        text += line;
      }
    }
  }
  Write(path, text);
  return inputs;
}

void BM_Import(benchmark::State& state) {
  const auto format = static_cast<Import_Format>(state.range(0));
  const std::vector<std::string> inputs = Inputs(format);
  Import_Options options;
  options.format = format;
  const std::string out = Join_Path(Folder(), "out");
  std::size_t features = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(out);
    state.ResumeTiming();
    features = 0;
    for (const Imported_Database& d :
         Write_Imported_Samples(Read_Feature_Lists(options, inputs), out)) {
      features += d.features;
    }
  }
  state.counters["features"] = static_cast<double>(features);
  state.SetItemsProcessed(static_cast<std::int64_t>(features) * state.iterations());
  std::filesystem::remove_all(out);
}
BENCHMARK(BM_Import)
    ->ArgName("format")
    ->Arg(static_cast<int>(Import_Format::kFeatureXml))
    ->Arg(static_cast<int>(Import_Format::kMzmine))
    ->Arg(static_cast<int>(Import_Format::kXcms))
    ->Arg(static_cast<int>(Import_Format::kTable))
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--small") == 0) {
      g_per_sample = 10000;
      argv[i--] = argv[--argc];
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
