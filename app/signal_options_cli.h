// The QC correction's command-line options, shared by varnel-export and
// varnel-merge (whose exports from the shards take the same ones).
#ifndef VARNEL_APP_SIGNAL_OPTIONS_CLI_H_
#define VARNEL_APP_SIGNAL_OPTIONS_CLI_H_

#include <CLI/CLI.hpp>

#include <iterator>
#include <string>
#include <vector>

#include "export/signal_correction.h"

struct Signal_Cli {
  std::string correct_signal = "none";
  std::string normalize = "none";
  Signal_Options signal;

  // The options as asked; the names were checked by the parser.
  Signal_Options Options() const {
    Signal_Options asked = signal;
    asked.method = *Parse_Signal_Method(correct_signal);
    asked.normalize = *Parse_Signal_Normalization(normalize);
    return asked;
  }
};

inline void Add_Signal_Cli_Options(CLI::App& app, Signal_Cli& args) {
  app.add_option("--correct-signal", args.correct_signal,
                 "Drift and batch correction with the pooled QCs of the sample sheet: none, "
                 "qc-median, qc-curve (needs an order column) or auto (per batch)")
      ->capture_default_str()
      ->check(CLI::IsMember(
          std::vector<std::string>(std::begin(kSignalMethodNames), std::end(kSignalMethodNames))));
  app.add_option("--normalize", args.normalize,
                 "Sample-wise normalisation before the correction: none or pqn (probabilistic "
                 "quotient against the QCs' median profile)")
      ->capture_default_str()
      ->check(CLI::IsMember(std::vector<std::string>(std::begin(kSignalNormalizationNames),
                                                     std::end(kSignalNormalizationNames))));
  app.add_option("--qc-label", args.signal.qc_label,
                 "The sheet's group of the pooled QCs (any case)")
      ->capture_default_str();
  app.add_option("--blank-label", args.signal.blank_label,
                 "The sheet's group of the blanks (any case)")
      ->capture_default_str();
  app.add_option("--conditioning-qcs", args.signal.conditioning_qcs,
                 "The first N QCs of each batch condition the column and are not fitted")
      ->check(CLI::Range(0u, 1000u));
  app.add_option("--keep-qc-rsd", args.signal.keep_qc_rsd,
                 "Keep features whose held-out QC RSD after correction is at most PCT")
      ->check(CLI::Range(0.0, 1e6));
  app.add_option("--keep-d-ratio", args.signal.keep_d_ratio,
                 "Keep features whose QC spread over study-sample spread is at most R")
      ->check(CLI::Range(0.0, 1e6));
  app.add_option("--keep-present", args.signal.keep_present,
                 "Keep features with a value in at least this share of the study samples, or of "
                 "one study group")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--blank-ratio", args.signal.blank_ratio,
                 "Keep features whose study median is at least R times their blank median")
      ->check(CLI::Range(0.0, 1e9));
}

#endif  // VARNEL_APP_SIGNAL_OPTIONS_CLI_H_
