// varnel-simulate: writes a realistic simulated study (annotated databases and
// a ground-truth CSV) for trying, testing and benchmarking Varnel.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>

#include "tools/progress_bar.h"
#include "tools/simulate.h"
#include "tools/simulate_signal_options.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Writes a simulated LC-MS study: one annotated peak-list database per sample "
      "and ground_truth.csv (sample, EIC_ID, Peak_ID, true compound; 0 = unannotated)."};
  Simulation_Options options;
  std::string out_dir;
  bool quiet = false;
  app.add_option("--samples", options.samples, "Number of samples")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  app.add_option("--compounds", options.compounds, "Compounds in the study")
      ->capture_default_str()
      ->check(CLI::Range(1u, 10000000u));
  app.add_option("--seed", options.seed, "Random seed; equal seeds give equal studies")
      ->capture_default_str();
  app.add_option("--peaks-per-sample", options.peaks_per_sample,
                 "Choose the number of compounds to give about this many peaks per sample "
                 "(overrides --compounds)")
      ->check(CLI::Range(1u, 100000000u));
  app.add_option("--presence", options.presence, "Chance that a compound is in a sample")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--unannotated", options.unannotated_fraction,
                 "Share of a sample's peaks left unannotated (Compound_ID 0)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 0.95));
  app.add_option("--drift", options.max_drift_seconds,
                 "Largest |retention-time drift| of the most drifting sample, seconds, as a "
                 "smooth curve per sample (without it: a drift of a few seconds)")
      ->check(CLI::Range(0.0, 600.0));
  app.add_option("--rt-scatter", options.rt_jitter_seconds,
                 "Standard deviation of a compound's retention time from sample to sample "
                 "that no smooth drift explains, seconds")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 600.0));
  app.add_option("--rt-bend", options.rt_bend_seconds,
                 "A local retention-time bend over a sixth of the gradient, up to this many "
                 "seconds, different in each sample (up to 78 s the compounds keep their order)")
      ->check(CLI::Range(0.0, 600.0));
  app.add_option("--rt-trend", options.rt_trend_seconds,
                 "A retention-time shift that grows by this many seconds from one sample to "
                 "the next, in input order")
      ->check(CLI::Range(0.0, 600.0));
  app.add_option("--mass-noise", options.mass_noise_ppm, "Mass error, ppm (standard deviation)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1000.0));
  app.add_option("--mass-error", options.mass_noise_ppm,
                 "Mass error, ppm (standard deviation; as --mass-noise, and writes the "
                 "measured spreads)")
      ->check(CLI::Range(0.0, 1000.0));
  app.add_flag("--case-control", options.case_control,
               "Second half of the samples are cases: half of the compounds change 10-100x, a "
               "tenth have a same-mass isomer 2-15 s away held by the cases only");
  app.add_flag("--dilution", options.dilution,
               "A dilution series: each sample weaker than the one before, the last 100x");
  app.add_option("--foreign-runs", options.foreign_runs,
                 "Runs of another kind spread over the study: they hold few of its compounds "
                 "(--foreign-share of them) and same-mass compounds of their own")
      ->check(CLI::Range(0u, 100000u));
  app.add_option("--foreign-share", options.foreign_share,
                 "Share of the study's compounds a foreign run holds")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--shape-points", options.shape_points,
                 "Store at most this many points of each peak's shape, the middle ones around "
                 "the apex (the peaks and every other value stay those of full shapes)")
      ->check(CLI::Range(1u, 1000u));
  Add_Signal_Simulation_Options(app, options.signal);
  app.add_flag("--quiet", quiet, "No progress bar");
  app.add_option("OUTDIR", out_dir, "Folder to write the study into (created when missing)")
      ->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  // A run in batches: every compound in every sample unless asked
  // otherwise; only the detection limit leaves values out.
  if (options.signal.Enabled() && app.count("--presence") == 0) options.presence = 1.0;
  // The measured spreads are written only when asked for a drift, scatter,
  // bend, trend or mass error, so that a study made without them stays as it
  // always was.
  options.write_truth_figures = app.count("--drift") + app.count("--rt-scatter") +
                                    app.count("--mass-error") + app.count("--rt-bend") +
                                    app.count("--rt-trend") >
                                0;

  try {
    const auto start = std::chrono::steady_clock::now();
    Progress_Bar bar(std::cerr, !quiet && Stderr_Is_Terminal());
    bar.Stage("simulating");
    std::size_t peaks = 0;
    const Simulation_Result result =
        Simulate_Study(options, out_dir, [&](std::size_t sample, std::size_t sample_peaks) {
          peaks += sample_peaks;
          bar.Update(sample + 1, options.samples,
                     std::to_string(sample + 1) + "/" + std::to_string(options.samples) +
                         " samples, " + std::to_string(peaks) + " peaks",
                     sample + 1 == options.samples);
        });
    bar.Finish(options.samples, options.samples,
               std::to_string(options.samples) + " samples, " + std::to_string(peaks) + " peaks");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "samples: " << result.database_names.size() << '\n'
              << "compounds: " << result.compounds << '\n'
              << "peaks: " << result.peaks << '\n'
              << "seconds: " << seconds << '\n'
              << "folder: " << out_dir << '\n'
              << "ground truth: " << result.ground_truth_path << '\n';
    if (options.write_truth_figures) {
      std::cout << "mass spread: " << result.truth.mass_sd_ppm << " ppm, "
                << result.truth.mass_sd_da << " Da\n"
                << "retention-time spread: " << result.truth.rt_sd_seconds << " s, "
                << result.truth.rt_sd_drift_free_seconds << " s without the drift\n";
    }
  } catch (const std::exception& e) {
    std::cerr << "varnel-simulate: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
