// The QC correction's cost on a large study, in memory: every feature's
// values drawn with a drift per batch, corrected by auto after pqn, and
// written with the record as an export writes them.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "export/output_file.h"
#include "export/signal_correction.h"

int main(int argc, char** argv) {
  const std::size_t features = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  const std::size_t samples = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000;
  const std::size_t batches = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10;
  Signal_Design design;
  design.has_order = true;
  for (std::size_t b = 0; b < batches; ++b) design.batch_names.push_back(std::to_string(b + 1));
  for (std::size_t i = 0; i < samples; ++i) {
    Signal_Sample s;
    s.batch = i * batches / samples;
    s.order = static_cast<double>(i + 1);
    s.role = i % 5 == 0 ? Sample_Role::kQc : Sample_Role::kStudy;
    s.group = s.role == Sample_Role::kQc ? "QC" : (i % 2 ? "A" : "B");
    design.samples.push_back(s);
  }
  // The values, drawn once (not timed).
  std::mt19937_64 random(1);
  std::normal_distribution<double> normal;
  std::vector<std::vector<double>> table(features, std::vector<double>(samples));
  for (std::size_t f = 0; f < features; ++f) {
    const double level = 10 + normal(random);
    const double slope = 0.002 * normal(random);
    for (std::size_t i = 0; i < samples; ++i) {
      const double v = level + slope * static_cast<double>(i % (samples / batches)) +
                       0.1 * normal(random) + 0.2 * static_cast<double>(i * batches / samples % 3);
      table[f][i] = std::exp(v) < 3000 ? std::nan("") : std::exp(v);
    }
  }
  const std::string out_path =
      (std::filesystem::temp_directory_path() / "varnel-bench-signal.csv").string();
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  Signal_Options options;
  options.method = Signal_Method::kAuto;
  options.normalize = Signal_Normalization::kPqn;
  Signal_Correction correction(design, options);
  for (const std::vector<double>& values : table) correction.Observe(values);
  correction.Prepare();
  const auto prepared = std::chrono::steady_clock::now();
  {
    Signal_Export signal(std::move(correction), out_path);
    Export_File out(out_path);
    std::vector<double> values, factors;
    for (std::size_t f = 0; f < features; ++f) {
      values = table[f];
      signal.Apply(static_cast<std::uint32_t>(f + 1), values, factors);
      std::string& b = out.buffer();
      Append_Unsigned(f + 1, b);
      for (double v : values) {
        b.push_back(',');
        Append_Number(v, b);
      }
      b.push_back('\n');
      out.Flush_If_Full();
    }
    out.Commit();
    signal.record.Commit();
  }
  const auto done = std::chrono::steady_clock::now();
  const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  const double first = std::chrono::duration<double>(prepared - start).count();
  const double total = std::chrono::duration<double>(done - start).count();
  std::printf("features %zu, samples %zu, batches %zu (auto after pqn)\n", features, samples,
              batches);
  std::printf(
      "first pass and choice: %.2f s\ncorrected and written: %.2f s in all (%.2f s of CPU; the "
      "machine's other load makes up the rest)\n",
      first, total, cpu);
  std::filesystem::remove(out_path);
  std::filesystem::remove(Signal_Record_Path(out_path));
  return 0;
}
