// The command-line options of a simulated run in batches with pooled QCs
// (tools/simulate_signal.h), for varnel-simulate.
#ifndef VARNEL_TOOLS_SIMULATE_SIGNAL_OPTIONS_H_
#define VARNEL_TOOLS_SIMULATE_SIGNAL_OPTIONS_H_

#include <CLI/CLI.hpp>

#include "tools/simulate_signal.h"

inline void Add_Signal_Simulation_Options(CLI::App& app, Signal_Simulation& signal) {
  app.add_option("--batches", signal.batches,
                 "Measure the samples (--samples: all injections) in this many batches with "
                 "pooled QCs, replicated subjects in study groups, intensity drift and batch "
                 "effects; writes the sample sheet and the truth of the intensities")
      ->check(CLI::Range(1u, 10000u));
  app.add_option("--qc-every", signal.qc_every,
                 "With --batches: every K-th injection of a batch, from its first, is a pooled QC")
      ->capture_default_str()
      ->check(CLI::Range(1u, 10000u));
  app.add_option("--intensity-drift", signal.intensity_drift_pct,
                 "With --batches: smooth intensity drift within a batch, percent")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 500.0));
  app.add_option("--batch-effect", signal.batch_effect_pct,
                 "With --batches: intensity jumps between batches, percent")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 500.0));
  app.add_option("--intensity-noise", signal.noise_pct,
                 "With --batches: measurement noise of an intensity, percent (log scale)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 200.0));
  app.add_option("--study-groups", signal.groups, "With --batches: study groups")
      ->capture_default_str()
      ->check(CLI::Range(1u, 26u));
  app.add_flag("--unbalanced", signal.unbalanced,
               "With --batches: study groups spread unevenly over the run");
}

#endif  // VARNEL_TOOLS_SIMULATE_SIGNAL_OPTIONS_H_
